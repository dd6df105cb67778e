#!/usr/bin/env python3
"""End-to-end packaging cases: python3 packaging_e2e.py TRACWELL [--case NAME]...

The stand-in programs vornex and texmeld are found through ZP_STANDIN_PATH, a
PATH-style list of the folders that hold them.
"""

import ctypes
import functools
import gzip
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

from harness import (PROCEDURAL, SHADER, TIFF_LE, Case, Directory, Executable, Generated, Gzip,
                     Symlink, main, substitute, write_tree)
# These write one request per line, tokens apart by one blank: the form in
# which the vornex stand-in writes streams back.
from tracwell_e2e import evaluate, output, shader, texture

STANDIN_PATH = os.environ.get("ZP_STANDIN_PATH", "")
SYSTEM_PATH = os.environ.get("PATH", "/usr/bin:/bin")
BINARY = os.path.realpath(sys.argv[1]) if len(sys.argv) > 1 and sys.argv[1] != "--list" else ""


def with_standins(**extra):
    return dict({"PATH": STANDIN_PATH + ":" + SYSTEM_PATH}, **extra)


# Real TIFF files, written with libtiff itself.
_tiff = ctypes.CDLL("libtiff.so.6")
_tiff.TIFFOpen.restype = ctypes.c_void_p
_tiff.TIFFOpen.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
_tiff.TIFFClose.argtypes = [ctypes.c_void_p]
_tiff.TIFFWriteScanline.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_uint32,
                                    ctypes.c_uint16]
_tiff.TIFFGetField.argtypes = [ctypes.c_void_p, ctypes.c_uint32, ctypes.c_void_p]
TAG_WIDTH, TAG_LENGTH, TAG_BITS, TAG_PHOTOMETRIC, TAG_SAMPLES = 256, 257, 258, 262, 277
TAG_TEXTURE_FORMAT = 33302


def tiff(width, height, texture_format=None):
    """The bytes of a grey 8-bit TIFF, with the texture-format tag when given."""
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "t.tif")
        handle = ctypes.c_void_p(_tiff.TIFFOpen(path.encode(), b"w"))
        for tag, value in [(TAG_WIDTH, width), (TAG_LENGTH, height), (TAG_BITS, 8),
                           (TAG_SAMPLES, 1), (TAG_PHOTOMETRIC, 1)]:
            _tiff.TIFFSetField(handle, ctypes.c_uint32(tag), ctypes.c_int(value))
        if texture_format:
            _tiff.TIFFSetField(handle, ctypes.c_uint32(TAG_TEXTURE_FORMAT),
                               ctypes.c_char_p(texture_format.encode()))
        for row in range(height):
            _tiff.TIFFWriteScanline(handle, b"\x80" * width, row, 0)
        _tiff.TIFFClose(handle)
        with open(path, "rb") as f:
            return f.read()


def tiff_width(path):
    handle = _tiff.TIFFOpen(path.encode(), b"r")
    if not handle:
        return 0
    width = ctypes.c_uint32(0)
    _tiff.TIFFGetField(ctypes.c_void_p(handle), TAG_WIDTH, ctypes.byref(width))
    _tiff.TIFFClose(ctypes.c_void_p(handle))
    return width.value


def read(tmp, relative):
    with open(os.path.join(tmp, relative), "rb") as f:
        return f.read()


def listing(tmp, stream):
    """The (kind prefix, path) pairs of tracwell's listing of one stream."""
    result = subprocess.run([BINARY, stream], cwd=tmp, env=with_standins(), capture_output=True)
    pairs = set()
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        if line and not line.startswith("["):
            kind, path = line.split(" ", 1)
            pairs.add((kind, path))
    return pairs


# The fixture shot: two input streams. shot.rib has three textures that share
# a name, UDIM tiles, a texture named relative to the working directory, a
# nested stream, a procedural, missing resources of every kind, and reads two
# images that shadow.rib renders: occlusion.tif, found on disk from an earlier
# render, and shadow.tif, not rendered yet.
SHOT = (
    shader("{T}/src/shaders/plastic")
    + shader("{T}/src/shaders/gone")
    + texture("{T}/src/a/wood.tif")
    + texture("{T}/src/b/wood.tif")
    + texture("{T}/src/c/wood.tif")
    + texture("{T}/src/tex/skin.UDIM.tif")
    + texture("src/d/bark.tif")  # relative to the working directory
    + texture("{T}/src/tex/lost.png")
    + texture("{T}/src/maps/occlusion.tif")
    + texture("{T}/src/render/shadow.tif")
    + output("{T}/src/render/beauty.exr")
    + evaluate("vrxstream", "{T}/src/nested/part.rib")
    + evaluate("vrxstream", "{T}/src/absent.rib")
    + evaluate("dynamiclib", "{T}/src/procs/fur")
    + evaluate("dynamiclib", "{T}/src/procs/hair")
)
SHADOW = output("{T}/src/render/shadow.tif") + output("{T}/src/render/occlusion.tif")
PART = texture("{T}/src/tex/inner.tif") + shader("{T}/src/shaders/plastic")
SHOT_FILES = {
    "src/shaders/plastic.oso": SHADER,
    "src/a/wood.tif": TIFF_LE + b"a",
    "src/b/wood.tif": TIFF_LE + b"b",
    "src/c/wood.tif": TIFF_LE + b"c",
    "src/d/bark.tif": TIFF_LE + b"d",
    "src/tex/skin.1001.tif": TIFF_LE + b"1001",
    "src/tex/skin.1002.tif": TIFF_LE + b"1002",
    "src/tex/inner.tif": TIFF_LE,
    "src/maps/occlusion.tif": TIFF_LE,
    "src/procs/fur.so": PROCEDURAL,
}
# Where each found dependency lands in the package; None: rendered by another
# stream of the package, so not copied, and read where that stream writes it.
PACKAGED = {
    "{T}/src/shaders/plastic.oso": "plastic.oso",
    "{T}/src/a/wood.tif": "wood.tif",
    "{T}/src/b/wood.tif": "wood_1.tif",
    "{T}/src/c/wood.tif": "wood_2.tif",
    "{T}/src/d/bark.tif": "bark.tif",
    "{T}/src/tex/skin.1001.tif": "skin.1001.tif",
    "{T}/src/tex/skin.1002.tif": "skin.1002.tif",
    "{T}/src/tex/inner.tif": "inner.tif",
    "{T}/src/nested/part.rib": "part.rib",
    "{T}/src/procs/fur.so": "fur.so",
    "{T}/src/maps/occlusion.tif": None,
    "{T}/src/render/shadow.tif": None,
}
SHOT_UNRESOLVED = "".join("\n#Unresolved resource: '%s' \n\n" % p for p in [
    "{T}/src/shaders/gone.oso", "{T}/src/tex/lost.png", "{T}/src/absent.rib",
    "{T}/src/procs/hair"])


def shot_files(encode):
    files = dict(SHOT_FILES)
    files.update({"src/shot.rib": encode(SHOT), "src/shadow.rib": encode(SHADOW),
                  "src/nested/part.rib": encode(PART)})
    return files


def round_trip(streams, binary=False):
    """After the run: moves the package away and checks that tracwell finds,
    inside it, every dependency that it found for the original streams, under
    its packaged name, and nothing newly missing but the rendered images."""
    def check(tmp):
        originals = {s: listing(tmp, os.path.join(tmp, "src", s)) for s in streams}
        moved = os.path.join(tmp, "moved")
        os.makedirs(moved)
        shutil.move(os.path.join(tmp, "pkg"), moved)
        package = os.path.join(moved, "pkg")
        failures = []
        for stream in streams:
            packaged_stream = os.path.join(package, stream)
            if binary and read(tmp, packaged_stream)[:2] != b"\x1f\x8b":
                failures.append("%s is not gzip-compressed" % stream)
            expected = set()
            for kind, path in originals[stream]:
                if kind == "o":
                    continue
                key = path.replace(tmp, "{T}")
                if kind == "!" and key not in PACKAGED:
                    expected.add((kind, path))
                    continue
                name = PACKAGED[key]
                # A rendered image is read where its producer writes it: by
                # its relative name, in the working directory of the render.
                expected.add(("!", tmp + "/" + os.path.basename(path)) if name is None
                             else (kind, package + "/" + name))
            found = {pair for pair in listing(tmp, packaged_stream) if pair[0] != "o"}
            if found != expected:
                failures.append("%s in the moved package:\n  missing %s\n  unexpected %s" % (
                    stream, sorted(expected - found), sorted(found - expected)))
        return failures
    return check


def plain(text):
    return text


CASES = [
    Case("package_round_trip_ascii", files=shot_files(plain), env=with_standins(),
         args=["-package", "pkg", "{T}/src/shot.rib", "{T}/src/shadow.rib"],
         stderr=SHOT_UNRESOLVED, check=round_trip(["shot.rib", "shadow.rib"])),
    Case("package_round_trip_gzip", files=shot_files(Gzip), env=with_standins(),
         args=["-package", "pkg", "{T}/src/shot.rib", "{T}/src/shadow.rib"],
         stderr=SHOT_UNRESOLVED, check=round_trip(["shot.rib", "shadow.rib"])),
    Case("package_round_trip_binary", files=shot_files(plain), env=with_standins(),
         args=["-binary", "-package", "pkg", "{T}/src/shot.rib", "{T}/src/shadow.rib"],
         stderr=SHOT_UNRESOLVED, check=round_trip(["shot.rib", "shadow.rib"], binary=True)),
]


def files_are(expected):
    """A check that the package files hold exactly these bytes ("{T}" substituted)."""
    def check(tmp):
        failures = []
        for relative, content in expected.items():
            want = content.replace("{T}", tmp).encode() if isinstance(content, str) else content
            path = os.path.join(tmp, relative)
            got = read(tmp, path) if os.path.exists(path) else None
            if got != want:
                failures.append("%s holds %r, expected %r" % (relative, got, want))
        return failures
    return check


# Two inputs with one file name, and an input named like a nested stream of
# another: each gets a name of its own. The verbose notes in their exact form.
CLASH_FILES = {
    "a/shot.rib": texture("{T}/a/wood.tif") + evaluate("vrxstream", "{T}/n/part.rib"),
    "b/shot.rib": texture("{T}/b/wood.tif"),
    "c/part.rib": texture("{T}/c/leaf.tif"),
    "n/part.rib": texture("{T}/n/moss.tif"),
    "a/wood.tif": TIFF_LE + b"a",
    "b/wood.tif": TIFF_LE + b"b",
    "c/leaf.tif": TIFF_LE + b"c",
    "n/moss.tif": TIFF_LE + b"n",
}
CHANGING = "\n#Changing path or name for:\n\n"
COPYING = "\n#Copying the following files:\n\n"
CASES += [
    Case("package_top_level_streams_get_names_of_their_own", files=CLASH_FILES,
         env=with_standins(),
         args=["-verbose", "-package", "pkg", "{T}/a/shot.rib", "{T}/b/shot.rib",
               "{T}/c/part.rib"],
         stdout="\n#Packaging stream '{T}/a/shot.rib' as 'shot.rib'\n"
                "\n#Packaging stream '{T}/b/shot.rib' as 'shot_1.rib'\n"
                "\n#Packaging stream '{T}/c/part.rib' as 'part_1.rib'\n"
                + CHANGING + "{T}/a/wood.tif\n{T}/n/moss.tif\n{T}/n/part.rib\n"
                + CHANGING + "{T}/b/wood.tif\n"
                + CHANGING + "{T}/c/leaf.tif\n"
                + COPYING + "{T}/a/wood.tif\n{T}/n/moss.tif\n{T}/n/part.rib\n"
                + COPYING + "{T}/b/wood.tif\n"
                + COPYING + "{T}/c/leaf.tif\n",
         check=files_are({
             "pkg/shot.rib": texture("${VRXDIR}/wood.tif")
             + evaluate("vrxstream", "${VRXDIR}/part.rib"),
             "pkg/shot_1.rib": texture("${VRXDIR}/wood_1.tif"),
             "pkg/part.rib": texture("${VRXDIR}/moss.tif"),
             "pkg/part_1.rib": texture("${VRXDIR}/leaf.tif"),
             "pkg/wood.tif": TIFF_LE + b"a",
             "pkg/wood_1.tif": TIFF_LE + b"b",
             "pkg/moss.tif": TIFF_LE + b"n",
             "pkg/leaf.tif": TIFF_LE + b"c",
         })),
]

# Names below -r roots keep their sub-directories, which must exist in the
# package: none is created.
CASES += [
    Case("package_with_root_keeps_sub_directories",
         files={"src/shot.rib": texture("{T}/src/a/wood.tif") + texture("{T}/src/b/wood.tif"),
                "src/a/wood.tif": TIFF_LE + b"a", "src/b/wood.tif": TIFF_LE + b"b",
                "pkg/a": Directory()},
         env=with_standins(), args=["-r", "{T}/src", "-package", "pkg", "{T}/src/shot.rib"],
         stderr="\n#Could not copy '{T}/src/b/wood.tif' as 'pkg/b/wood.tif'\n\n"
                "\n#Not in the package: '{T}/src/b/wood.tif', needed by 'pkg/shot.rib'\n\n",
         status=1,
         check=files_are({
             "pkg/shot.rib": texture("${VRXDIR}/a/wood.tif") + texture("${VRXDIR}/b/wood.tif"),
             "pkg/a/wood.tif": TIFF_LE + b"a",
         })),
]

# Texture rescaling through texmeld.
PLAIN_TIFF = tiff(8, 8)
CUBE_TIFF = tiff(8, 8, "CubeFace Environment")
SCALE_FILES = {
    "src/shot.rib": texture("{T}/src/plain.tif") + texture("{T}/src/cube.tif")
    + texture("{T}/src/magic_only.tif"),
    "src/plain.tif": PLAIN_TIFF,
    "src/cube.tif": CUBE_TIFF,
    "src/magic_only.tif": TIFF_LE,
}


def scaled(tmp):
    failures = []
    with open(os.path.join(tmp, "texmeld.log")) as f:
        calls = f.read()
    # texmeld writes a temporary file of the package folder (reached through
    # the descriptor tracwell holds), which takes the texture's name when whole.
    want = ("-nomipmap\n-scale\n0.5\n%s/src/plain.tif\n"
            "(/proc/[0-9]+/fd/[0-9]+|pkg)/[.]tracwell-[0-9]+-[0-9]+[.]part[.]tif\n--\n"
            % re.escape(tmp))
    if not re.fullmatch(want, calls):
        failures.append("texmeld ran as %r, expected %r" % (calls, want))
    if tiff_width(os.path.join(tmp, "pkg/plain.tif")) != 4:
        failures.append("pkg/plain.tif was not shrunk to half its width")
    return failures + files_are({"pkg/cube.tif": CUBE_TIFF, "pkg/magic_only.tif": TIFF_LE})(tmp)


CASES += [
    Case("package_scale_shrinks_plain_tiffs_only", files=SCALE_FILES,
         env=with_standins(TEXMELD_LOG="{T}/texmeld.log"),
         args=["-verbose", "-scale", "0.5", "-package", "pkg", "{T}/src/shot.rib"],
         stdout="\n#Packaging stream '{T}/src/shot.rib' as 'shot.rib'\n" + CHANGING
         + "{T}/src/cube.tif\n{T}/src/magic_only.tif\n{T}/src/plain.tif\n" + COPYING,
         check=scaled),
    # Only a file written by this run's texmeld counts: a failed texmeld
    # leaves the texture copied at full size, not an old result.
    Case("package_failed_texmeld_copies_the_texture",
         files=dict(SCALE_FILES, **{"pkg/plain.tif": b"from an earlier run"}),
         env=with_standins(TEXMELD_FAIL="1"),
         args=["-scale", "0.5", "-package", "pkg", "{T}/src/shot.rib"],
         stderr="texmeld: failing as asked\n",
         check=files_are({"pkg/plain.tif": PLAIN_TIFF})),
]

# Textures are shrunk side by side, yet what each texmeld says comes with its
# texture, in the order of the copy loop: per stream, its textures sorted,
# then its missing ones. The early textures take longest, so that later ones
# end first; those whose number ends in 0, 3, 6 or 9 fail and are copied at
# full size. The second stream's textures clash with the first's by name.
SIDE_BY_SIDE_TEXMELD = (
    '#!/bin/sh\n'
    'case "$4" in */t0[0-3].tif) sleep 0.4;; */t0[4-7].tif) sleep 0.2;; esac\n'
    'case "$4" in */t[0-9][0369].tif) echo "out: $4"; echo "texmeld: refusing $4" >&2; exit 1;; esac\n'
    'PATH="$ZP_REAL_TEXMELD" exec texmeld "$@"\n')
SIDE_BY_SIDE_TEXTURES = ["t%02d.tif" % i for i in range(24)]


def side_by_side_files():
    files = {"bin/texmeld": Executable(SIDE_BY_SIDE_TEXMELD)}
    for stream in ("a", "b"):
        files["%s/shot.rib" % stream] = "".join(
            texture("{T}/%s/%s" % (stream, name)) for name in reversed(SIDE_BY_SIDE_TEXTURES)
        ) + texture("{T}/%s/gone.tif" % stream)
        for name in SIDE_BY_SIDE_TEXTURES:
            files["%s/%s" % (stream, name)] = PLAIN_TIFF
    return files


def failed(name):
    return name[2] in "0369"


def side_by_side_stderr():
    said = ""
    for stream in ("a", "b"):
        for name in SIDE_BY_SIDE_TEXTURES:
            if failed(name):
                path = "{T}/%s/%s" % (stream, name)
                said += "out: %s\ntexmeld: refusing %s\n" % (path, path)
        said += "\n#Unresolved resource: '{T}/%s/gone.tif' \n\n" % stream
    return said


def side_by_side_packaged(tmp):
    failures = []
    for stream in ("a", "b"):
        for name in SIDE_BY_SIDE_TEXTURES:
            packaged = os.path.join(tmp, "pkg", name if stream == "a" else name[:-4] + "_1.tif")
            want = 8 if failed(name) else 4
            if tiff_width(packaged) != want:
                failures.append("%s is %d wide, expected %d" % (packaged, tiff_width(packaged), want))
    return failures


CASES += [
    Case("package_scale_side_by_side_keeps_the_order_of_messages", files=side_by_side_files(),
         env=dict(with_standins(ZP_REAL_TEXMELD=STANDIN_PATH),
                  PATH="{T}/bin:" + STANDIN_PATH + ":" + SYSTEM_PATH),
         args=["-scale", "0.5", "-package", "pkg", "{T}/a/shot.rib", "{T}/b/shot.rib"],
         stderr=side_by_side_stderr(), check=side_by_side_packaged),
]

# A package directory that holds, at any depth, an input stream or a found
# dependency is refused before anything is written: it would write over the
# shot, and could never be moved.
SAME_FOLDER = {"pkg/shot.rib": texture("{T}/pkg/wood.tif"), "pkg/wood.tif": PLAIN_TIFF}
HOLDS_A_TEXTURE = {"shot.rib": texture("{T}/src/deep/tex/wood.tif") + texture("{T}/x/a.tif"),
                   "src/deep/tex/wood.tif": PLAIN_TIFF, "x/a.tif": TIFF_LE,
                   "src/other.tif": TIFF_LE}


def nothing_else_in(folder, names):
    def check(tmp):
        got = sorted(os.listdir(os.path.join(tmp, folder)))
        return [] if got == sorted(names) else ["%s holds %s, expected %s" % (folder, got, names)]
    return check


def all_of(*checks):
    return lambda tmp: [failure for check in checks for failure in check(tmp)]


CASES += [
    Case("package_into_the_source_folder_is_refused", files=SAME_FOLDER,
         env=with_standins(), args=["-scale", "0.5", "-package", "{T}/pkg", "{T}/pkg/shot.rib"],
         stderr="source inside the package directory: {T}/pkg/shot.rib\n", status=1,
         check=all_of(files_are(SAME_FOLDER), nothing_else_in("pkg", ["shot.rib", "wood.tif"]))),
    Case("package_into_a_folder_above_a_dependency_is_refused", files=HOLDS_A_TEXTURE,
         env=with_standins(), args=["-package", "src", "shot.rib"],
         stderr="source inside the package directory: {T}/src/deep/tex/wood.tif\n", status=1,
         check=nothing_else_in("src", ["deep", "other.tif"])),
]

# File names holding blanks, quotes, "$(...)" and backquotes reach texmeld and
# the binary writing command as they are, and run nothing.
ODD = 'we ird "q" $(touch pwned) `touch pwned2`.tif'
ODD_STREAM = "sh\"o't $(touch pwned3).rib"


def nothing_ran(tmp):
    failures = ["%s was executed" % p for p in ("pwned", "pwned2", "pwned3")
                if os.path.exists(os.path.join(tmp, p))]
    if tiff_width(os.path.join(tmp, "pkg", ODD)) != 4:
        failures.append("the odd texture was not shrunk into its own name")
    packaged = os.path.join(tmp, "pkg", ODD_STREAM)
    if read(tmp, packaged)[:2] != b"\x1f\x8b":
        failures.append("the odd stream was not written in binary form")
    elif ("t", os.path.join(tmp, "pkg", ODD)) not in listing(tmp, packaged):
        failures.append("the packaged stream does not find its texture")
    return failures


CASES += [
    Case("package_odd_file_names_run_nothing",
         files={"src/" + ODD_STREAM: texture("{T}/src/" + ODD.replace('"', '\\"')),
                "src/" + ODD: PLAIN_TIFF},
         env=with_standins(),
         args=["-binary", "-scale", "0.5", "-package", "pkg", "{T}/src/" + ODD_STREAM],
         check=nothing_ran),
]


# -order in a listing run: producers before consumers, one level per pass.
def producer(name, reads, writes):
    return ("%s.rib" % name,
            "".join(texture("{T}/maps/%s.tif" % r) for r in reads)
            + "".join(output("{T}/render/%s.%s" % (w, "tif" if w != "final" else "exr"))
                      for w in writes))


def order_files(*streams):
    return dict(producer(*s) for s in streams)


CASES += [
    Case("order_chain_in_input_order",
         files=order_files(("one", [], ["a"]), ("two", ["a"], ["b"]), ("three", ["b"], ["final"])),
         args=["-order", "one.rib", "two.rib", "three.rib"],
         stdout="one.rib\ntwo.rib\nthree.rib\n"),
    # A node whose producer is printed in a pass waits for the next pass,
    # even when a later node of that pass is printed.
    Case("order_one_level_per_pass",
         files=order_files(("W", [], ["w"]), ("X", ["w"], ["x"]), ("Y", ["x"], ["final"]),
                           ("Z", ["w"], ["z"]), ("idle", ["x"], [])),
         args=["-order", "X.rib", "Y.rib", "Z.rib", "W.rib", "idle.rib"],
         stdout="W.rib\nX.rib\nZ.rib\nY.rib\n"),
    Case("order_reversed_chain_one_level_per_pass",
         files=order_files(("one", [], ["a"]), ("two", ["a"], ["b"]), ("three", ["b"], ["final"])),
         args=["-order", "three.rib", "two.rib", "one.rib"],
         stdout="one.rib\ntwo.rib\nthree.rib\n"),
    # Two streams that read each other's images: the last waiting one first.
    Case("order_cycle_is_broken",
         files=order_files(("A", ["b"], ["a"]), ("B", ["a"], ["b"])),
         args=["-order", "A.rib", "B.rib"],
         stdout="B.rib\nA.rib\n"),
]

# A shot read from its own folder, named bare: the reader's stream folder is
# ".", and its "${RIBDIR}" and relative references still reach the package.
BARE_FILES = {
    "shot/shot.rib": "# the 5\" monitor, \"quoted\"\n"
    + texture("${RIBDIR}/tex/a.tif") + texture("tex/b.tif")
    + evaluate("vrxstream", "${RIBDIR}/set.rib") + output("${RIBDIR}/render/out.exr")
    + 'Create "tex/a.tif" "mesh"\n',
    "shot/set.rib": Gzip(texture("${RIBDIR}/tex/a.tif") + shader("sh/plastic")),
    "shot/tex/a.tif": TIFF_LE + b"a",
    "shot/tex/b.tif": TIFF_LE + b"b",
    "shot/sh/plastic.oso": SHADER,
}
BARE_PACKAGE = {  # as vornex writes streams back: comments are not kept
    "shot/pkg/shot.rib": texture("${VRXDIR}/a.tif") + texture("${VRXDIR}/b.tif")
    + evaluate("vrxstream", "${VRXDIR}/set.rib") + output("out.exr")
    + 'Create "tex/a.tif" "mesh"\n',
    "shot/pkg/set.rib": texture("${VRXDIR}/a.tif") + shader("${VRXDIR}/plastic"),
}


CASES += [
    Case("package_bare_stream_names", files=BARE_FILES, env=with_standins(), cwd="shot",
         args=["-package", "pkg", "shot.rib"], check=files_are(BARE_PACKAGE)),
]


# Streams below a root keep their folders in the package and reach the
# packaged files from there; the folders exist beforehand.
ROOTED = {
    "src/shot.rib": evaluate("vrxstream", "{T}/src/seq/deep/n.rib"),
    "src/seq/deep/n.rib": texture("${RIBDIR}/../../tex/a.tif") + texture("{T}/src/tex/b.tif"),
    "src/tex/a.tif": TIFF_LE + b"a",
    "src/tex/b.tif": TIFF_LE + b"b",
    "pkg/seq/deep": Directory(), "pkg/tex": Directory(),
}
CASES += [
    Case("package_streams_in_package_folders", files=ROOTED, env=with_standins(),
         args=["-r", "{T}/src", "-package", "pkg", "{T}/src/shot.rib"],
         check=files_are({
             "pkg/shot.rib": evaluate("vrxstream", "${VRXDIR}/seq/deep/n.rib"),
             "pkg/seq/deep/n.rib": texture("${VRXDIR}/../../tex/a.tif")
             + texture("${VRXDIR}/../../tex/b.tif"),
             "pkg/tex/a.tif": TIFF_LE + b"a",
         })),
]


# Started with SIGCHLD ignored, as some job runners leave it: every child is
# still waited for, so gzip streams are rewritten, -binary output is kept
# and textures are shrunk.
def sigchld_ignored():
    signal.signal(signal.SIGCHLD, signal.SIG_IGN)


def children_were_waited_for(tmp):
    failures = []
    packaged = os.path.join(tmp, "pkg/shot.rib")
    if not os.path.exists(packaged) or read(tmp, packaged)[:2] != b"\x1f\x8b":
        failures.append("the -binary output was not kept")
    if not os.path.exists(os.path.join(tmp, "pkg/part.rib")):
        failures.append("the gzip nested stream was left out")
    if tiff_width(os.path.join(tmp, "pkg/plain.tif")) != 4:
        failures.append("the texture was not shrunk")
    return failures


CASES += [
    Case("package_with_sigchld_ignored",
         files={"src/shot.rib": texture("{T}/src/plain.tif")
                + evaluate("vrxstream", "{T}/src/part.rib"),
                "src/part.rib": Gzip(texture("{T}/src/plain.tif")), "src/plain.tif": PLAIN_TIFF},
         env=with_standins(), preexec=sigchld_ignored,
         args=["-binary", "-scale", "0.5", "-package", "pkg", "{T}/src/shot.rib"],
         check=children_were_waited_for),
]


# The package directory is made as the user's umask says: never world-
# writable against it, never set-id or sticky.
def umask_022():
    os.umask(0o022)


def package_mode_is(mode):
    def check(tmp):
        got = os.stat(os.path.join(tmp, "pkg")).st_mode & 0o7777
        return [] if got == mode else ["pkg has mode %o, expected %o" % (got, mode)]
    return check


CASES += [
    Case("package_directory_honours_the_umask", files={"shot.rib": texture("{T}/a.tif"),
                                                      "a.tif": TIFF_LE},
         env=with_standins(), preexec=umask_022, args=["-package", "pkg", "shot.rib"],
         check=package_mode_is(0o755)),
]


# The repository's example shot, packaged from its own folder as the README
# shows, moved, and listed from inside the package: everything it needs is
# found there; only what the shot itself misses stays missing.
EXAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "shot")


def example_files():
    files = {}
    for folder, _, names in os.walk(EXAMPLE):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                files[os.path.join("shot", os.path.relpath(path, EXAMPLE))] = f.read()
    return files


EXAMPLE_IN_PACKAGE = {
    "shot.rib": {"s plastic.oso", "s wood_grain.oso", "t chair.tif", "t floor.tif",
                 "t wall.1001.tif", "t wall.1002.tif", "t wood.tif", "t wood_1.tif",
                 "o room.exr", "a props.rib.gz", "a set.rib", "p scatter.lua",
                 "! {T}/shot/props/varnish.oso", "! {T}/shot/textures/wall_bump.tif"},
    "lights.rib": {"s arealight.oso", "t floor.tif", "o key_shadow.exr"},
}


def example_lists_complete_after_moving(tmp):
    moved = os.path.join(tmp, "moved")
    os.makedirs(moved)
    shutil.move(os.path.join(tmp, "pkg"), moved)
    package = os.path.join(moved, "pkg")
    failures = []
    for stream, expected in EXAMPLE_IN_PACKAGE.items():
        got = set()
        for kind, path in listing(package, stream):
            path = os.path.normpath(path)
            got.add("%s %s" % (kind, os.path.relpath(path, package) if kind != "!" else path))
        want = {line.replace("{T}", tmp) for line in expected}
        if got != want:
            failures.append("%s in the moved package:\n  missing %s\n  unexpected %s" % (
                stream, sorted(want - got), sorted(got - want)))
    return failures


CASES += [
    Case("package_example_shot_lists_complete_after_moving", files=example_files(),
         env=with_standins(), cwd="shot", args=["-package", "{T}/pkg", "shot.rib", "lights.rib"],
         stderr="".join("\n#Unresolved resource: '{T}/shot/%s' \n\n" % p
                        for p in ["props/varnish.oso", "textures/wall_bump.tif"]),
         check=example_lists_complete_after_moving),
]

# Checks of a package after the run.


def package_files(tmp, folder="pkg"):
    """The files of a package, relative to it."""
    root = os.path.join(tmp, folder)
    return sorted(os.path.relpath(os.path.join(d, n), root)
                  for d, _, names in os.walk(root) for n in names)


def holds_only(names, folder="pkg"):
    def check(tmp):
        got = package_files(tmp, folder)
        return [] if got == sorted(names) else ["%s holds %s, expected %s" % (folder, got, names)]
    return check


def lists_complete_after_moving(streams, missing=(), cwd=""):
    """Moves the sources ("src") away and the package elsewhere, and lists each
    packaged stream there: nothing is missing but `missing` (as the shot names
    it), and every dependency found lies inside the moved package."""
    def check(tmp):
        moved = os.path.join(tmp, "moved", "deeper")
        os.makedirs(moved)
        shutil.move(os.path.join(tmp, cwd, "pkg"), moved)
        if os.path.exists(os.path.join(tmp, "src")):
            shutil.move(os.path.join(tmp, "src"), os.path.join(tmp, "gone"))
        package = os.path.join(moved, "pkg")
        failures = []
        for stream in streams:
            for kind, path in sorted(listing(package, stream)):
                if kind == "!" and path.replace(tmp, "{T}") not in missing:
                    failures.append("%s misses %s in the moved package" % (stream, path))
                elif kind in "tspa" and not os.path.normpath(path).startswith(package + "/"):
                    failures.append("%s finds %s %s outside the package" % (stream, kind, path))
        return failures
    return check


# A nested stream linked into another folder names that folder's files
# through "${RIBDIR}": one copy per way of reading it, each rewritten as its
# route reads it. Through a linked folder (latest -> a), or with no
# "${RIBDIR}" string at all (m.rib), it reads alike and is one copy.
LINKED_NESTED = {
    "src/shot.rib": "".join(evaluate("vrxstream", "{T}/src/%s" % p)
                            for p in ["a/n.rib", "b/n.rib", "latest/n.rib", "a/m.rib", "c/m.rib"]),
    "src/a/n.rib": texture("${RIBDIR}/t.tif"), "src/b/n.rib": Symlink("../a/n.rib"),
    "src/latest": Symlink("a"), "src/a/m.rib": texture("{T}/src/a/t.tif"),
    "src/c/m.rib": Symlink("../a/m.rib"),
    "src/a/t.tif": TIFF_LE + b"a", "src/b/t.tif": TIFF_LE + b"b",
}
CASES += [
    Case("package_nested_stream_linked_into_another_folder", files=LINKED_NESTED,
         env=with_standins(), args=["-package", "pkg", "{T}/src/shot.rib"],
         check=all_of(
             files_are({
                 "pkg/shot.rib": "".join(evaluate("vrxstream", "${VRXDIR}/%s" % n)
                                         for n in ["n.rib", "n_1.rib", "n.rib", "m.rib", "m.rib"]),
                 "pkg/n.rib": texture("${VRXDIR}/t.tif"), "pkg/n_1.rib": texture("${VRXDIR}/t_1.tif"),
                 "pkg/m.rib": texture("${VRXDIR}/t.tif"),
                 "pkg/t.tif": TIFF_LE + b"a", "pkg/t_1.tif": TIFF_LE + b"b"}),
             holds_only(["shot.rib", "n.rib", "n_1.rib", "m.rib", "t.tif", "t_1.tif"]),
             lists_complete_after_moving(["shot.rib"]))),
]

# A nested stream named through a linked folder and where it lies reads alike
# through both (it climbs from where the link leads): one copy, which reaches
# the packaged file, not the source.
CASES += [
    Case("package_nested_stream_through_a_linked_folder",
         files={"src/shot.rib": evaluate("vrxstream", "{T}/src/nestlink/n.rib")
                + evaluate("vrxstream", "{T}/src/deep/nest/n.rib"),
                "src/deep/nest/n.rib": texture("${RIBDIR}/../tex/a.tif"),
                "src/deep/tex/a.tif": TIFF_LE, "src/nestlink": Symlink("deep/nest")},
         env=with_standins(), args=["-package", "pkg", "{T}/src/shot.rib"],
         check=all_of(files_are({"pkg/n.rib": texture("${VRXDIR}/a.tif")}),
                      holds_only(["shot.rib", "n.rib", "a.tif"]),
                      lists_complete_after_moving(["shot.rib"]))),
]

# One file spelled many ways is one copy, and every spelling is rewritten to
# it; packaging the moved package again (with a root) adds no file.
SPELLED = {
    "src/shot.rib": texture("${RIBDIR}/tex/a.tif") + texture("tex//a.tif")
    + texture("seq/../tex/./a.tif") + texture("{T}/src/./tex/a.tif") + texture("latest/a.tif")
    + texture("${RIBDIR}/seq/deep/../../tex/a.tif"),
    "src/tex/a.tif": TIFF_LE, "src/seq/deep": Directory(), "src/latest": Symlink("tex"),
}


def repackaging_adds_nothing(tmp):
    moved = os.path.join(tmp, "moved")
    os.makedirs(moved)
    shutil.move(os.path.join(tmp, "src", "pkg"), moved)
    result = subprocess.run([BINARY, "-r", ".", "-package", "../again", "shot.rib"],
                            cwd=os.path.join(moved, "pkg"), env=with_standins(),
                            capture_output=True)
    failures = []
    if result.returncode != 0 or result.stderr:
        failures.append("packaging the package: exit %d, %r" % (result.returncode, result.stderr))
    if package_files(moved, "again") != package_files(moved, "pkg"):
        failures.append("the package packaged again holds %s, not %s" % (
            package_files(moved, "again"), package_files(moved, "pkg")))
    return failures


CASES += [
    Case("package_one_file_spelled_many_ways_is_one_copy", files=SPELLED, env=with_standins(),
         cwd="src", args=["-package", "pkg", "shot.rib"],
         check=all_of(files_are({"src/pkg/shot.rib": texture("${VRXDIR}/a.tif") * 6}),
                      holds_only(["shot.rib", "a.tif"], "src/pkg"), repackaging_adds_nothing)),
]

# "UDIM" in a folder name: the tile number goes into the packaged file name,
# and the stream keeps the pattern, which finds every tile in the package.
CASES += [
    Case("package_udim_marker_in_a_folder",
         files={"src/shot.rib": texture("{T}/src/tiles_UDIM/skin.tif"),
                "src/tiles_1001/skin.tif": TIFF_LE + b"1", "src/tiles_1002/skin.tif": TIFF_LE + b"2"},
         env=with_standins(), args=["-package", "pkg", "{T}/src/shot.rib"],
         check=all_of(files_are({"pkg/shot.rib": texture("${VRXDIR}/skin.UDIM.tif"),
                                 "pkg/skin.1001.tif": TIFF_LE + b"1",
                                 "pkg/skin.1002.tif": TIFF_LE + b"2"}),
                      lists_complete_after_moving(["shot.rib"]))),
]

# ".oso" is left off shaders only: a procedural or a nested stream whose name
# ends so keeps it.
CASES += [
    Case("package_oso_stays_on_procedurals_and_nested_streams",
         files={"src/shot.rib": evaluate("dynamiclib", "{T}/src/procs/shade.oso")
                + evaluate("vrxstream", "{T}/src/nest/inner.oso") + shader("{T}/src/sh/plastic"),
                "src/procs/shade.oso": PROCEDURAL, "src/sh/plastic.oso": SHADER,
                "src/nest/inner.oso": texture("${RIBDIR}/a.tif"), "src/nest/a.tif": TIFF_LE},
         env=with_standins(), args=["-package", "pkg", "{T}/src/shot.rib"],
         check=all_of(files_are({"pkg/shot.rib": evaluate("dynamiclib", "${VRXDIR}/shade.oso")
                                 + evaluate("vrxstream", "${VRXDIR}/inner.oso")
                                 + shader("${VRXDIR}/plastic")}),
                      lists_complete_after_moving(["shot.rib"]))),
]

# Kind options: textures tracked but not packaged keep their references,
# UDIM patterns included; only what the package holds is named.
CASES += [
    Case("package_kind_options_rewrite_only_what_is_copied",
         files={"src/shot.rib": texture("{T}/src/tex/skin.UDIM.tif") + shader("{T}/src/sh/plastic"),
                "src/tex/skin.1001.tif": TIFF_LE, "src/sh/plastic.oso": SHADER},
         env=with_standins(), args=["-notfound", "-shaders", "-package", "pkg", "{T}/src/shot.rib"],
         check=all_of(files_are({"pkg/shot.rib": texture("{T}/src/tex/skin.UDIM.tif")
                                 + shader("${VRXDIR}/plastic")}),
                      holds_only(["shot.rib", "plastic.oso"]))),
]

# A renamed name is shortened before its "_N" to fit the file system.
LONG = "w" * 251
CASES += [
    Case("package_renamed_names_fit_the_file_system",
         files={"src/shot.rib": texture("{T}/src/a/%s.tif" % LONG) + texture("{T}/src/b/%s.tif" % LONG),
                "src/a/%s.tif" % LONG: TIFF_LE + b"a", "src/b/%s.tif" % LONG: TIFF_LE + b"b"},
         env=with_standins(), args=["-package", "pkg", "{T}/src/shot.rib"],
         check=all_of(files_are({"pkg/%s.tif" % LONG: TIFF_LE + b"a",
                                 "pkg/%s_1.tif" % LONG[:-2]: TIFF_LE + b"b"}),
                      lists_complete_after_moving(["shot.rib"]))),
]

# A relative root is a folder of the working directory, and it takes whole
# folders only: srcx/ lies outside the root src.
CASES += [
    Case("package_roots_are_whole_folders",
         files={"src/shot.rib": texture("{T}/src/tex/a.tif") + texture("{T}/srcx/tex/a.tif"),
                "src/tex/a.tif": TIFF_LE + b"src", "srcx/tex/a.tif": TIFF_LE + b"srcx",
                "pkg/tex": Directory()},
         env=with_standins(), args=["-r", "src", "-package", "pkg", "src/shot.rib"],
         check=all_of(files_are({"pkg/shot.rib": texture("${VRXDIR}/tex/a.tif")
                                 + texture("${VRXDIR}/a.tif"),
                                 "pkg/tex/a.tif": TIFF_LE + b"src", "pkg/a.tif": TIFF_LE + b"srcx"}),
                      lists_complete_after_moving(["shot.rib"]))),
]

# An input named like an option reaches vornex as a path.
CASES += [
    Case("package_stream_named_like_an_option",
         files={"src/-c.rib": Gzip(texture("{T}/src/tex/a.tif")), "src/tex/a.tif": TIFF_LE,
                "src/shot.rib": texture("{T}/src/tex/a.tif")},
         env=with_standins(), cwd="src", args=["-binary", "-package", "pkg", "shot.rib", "-c.rib"],
         check=all_of(holds_only(["shot.rib", "-c.rib", "a.tif"], "src/pkg"),
                      lists_complete_after_moving(["shot.rib", "./-c.rib"], cwd="src"))),
]


# Without vornex: ASCII streams, gzip-compressed or not, are rewritten by
# tracwell itself (a gzip stream stays gzip); a binary one cannot be, and is
# left out: the package is incomplete, the run says what it lacks and ends
# with status 1, and no packaged reference names the stream.
def without_vornex():
    return {"PATH": ":".join(d for d in STANDIN_PATH.split(":")
                             if not os.path.exists(os.path.join(d, "vornex"))) + ":" + SYSTEM_PATH}


def binary_stream(text):
    """The stream in the binary encoding, as the vornex stand-in writes it."""
    folder = next(d for d in STANDIN_PATH.split(":") if os.path.exists(os.path.join(d, "vornex")))
    return subprocess.run([os.path.join(folder, "vornex"), "-cat", "-q", "-binary"],
                          input=text.encode(), capture_output=True, check=True).stdout


NO_VORNEX = "\n#Could not read '%s' through vornex (vornex was not found): %s\n\n"
CASES += [
    Case("package_without_vornex_rewrites_gzip_streams_itself",
         files={"src/shot.rib": evaluate("vrxstream", "{T}/src/n.rib.gz"),
                "src/n.rib.gz": Gzip(texture("${RIBDIR}/a.tif")), "src/a.tif": TIFF_LE},
         env=without_vornex(), args=["-package", "pkg", "{T}/src/shot.rib"],
         stderr=NO_VORNEX % ("{T}/src/shot.rib", "rewriting it as plain text")
         + NO_VORNEX % ("{T}/src/n.rib.gz", "rewriting it as plain text, gzip-compressed"),
         check=all_of(files_are({"pkg/shot.rib": evaluate("vrxstream", "${VRXDIR}/n.rib.gz"),
                                 "pkg/a.tif": TIFF_LE}),
                      lists_complete_after_moving(["shot.rib"]))),
    Case("package_without_vornex_leaves_out_a_binary_stream",
         files={"src/shot.rib": evaluate("vrxstream", "{T}/src/bin.rib") + texture("{T}/src/a.tif"),
                "src/bin.rib": Generated(lambda: binary_stream(texture("${RIBDIR}/b.tif"))),
                "src/a.tif": TIFF_LE + b"a", "src/b.tif": TIFF_LE + b"b"},
         env=without_vornex(), args=["-package", "pkg", "{T}/src/shot.rib"],
         stderr=NO_VORNEX % ("{T}/src/shot.rib", "rewriting it as plain text")
         + NO_VORNEX % ("{T}/src/bin.rib", "left out of the package")
         + "\n#Not in the package: '{T}/src/b.tif', needed by 'pkg/shot.rib'\n\n"
         + "\n#Not in the package: '{T}/src/bin.rib', needed by 'pkg/shot.rib'\n\n",
         status=1,
         check=all_of(files_are({"pkg/shot.rib": evaluate("vrxstream", "{T}/src/bin.rib")
                                 + texture("${VRXDIR}/a.tif")}),
                      holds_only(["shot.rib", "a.tif", "b.tif"]))),
]

# A vornex that writes a cut stream and says nothing: the package's own check
# finds what the packaged stream no longer reaches.
CASES += [
    Case("package_checks_itself_after_a_vornex_that_cuts_the_stream",
         files={"src/shot.rib": texture("{T}/src/a.tif") + texture("{T}/src/b.tif"),
                "src/a.tif": TIFF_LE, "src/b.tif": TIFF_LE,
                "fake/vornex": Executable('#!/bin/sh\nhead -n 1 "$4"\n')},
         env={"PATH": "{T}/fake:" + SYSTEM_PATH}, args=["-package", "pkg", "{T}/src/shot.rib"],
         stderr="\n#Not in the package: '{T}/src/b.tif', needed by 'pkg/shot.rib'\n\n", status=1,
         check=files_are({"pkg/shot.rib": texture("${VRXDIR}/a.tif")})),
]


# Input streams are written into the package side by side: what the run
# prints and what it packages are what it prints and packages when it may
# use one processor only, with every other stream's vornex failing (and
# saying so on its standard error) and every fifth texture missing. With
# -binary, the writing vornex speaks up for every stream as well.
SIDE_BY_SIDE_STREAMS = 24
SIDE_BY_SIDE_FILES = {"fake/vornex": Executable(
    '#!/bin/sh\n'
    'if [ "$3" = -binary ]; then\n'
    '  t=$(mktemp); cat > "$t"; cat "$t"\n'
    '  echo "vornex: wrote $(grep -o "t[0-9][0-9]" "$t" | head -n 1)" >&2; rm -f "$t"; exit 0\n'
    'fi\n'
    'case "$4" in *[13579].rib) echo "vornex: cannot read $4" >&2; exit 3;; esac\n'
    'exec cat "$4"\n')}
for _i in range(SIDE_BY_SIDE_STREAMS):
    SIDE_BY_SIDE_FILES["src/s%02d.rib" % _i] = (texture("${RIBDIR}/t%02d.tif" % _i)
                                                + shader("{T}/src/m%02d" % (_i % 3)))
    if _i % 5:
        SIDE_BY_SIDE_FILES["src/t%02d.tif" % _i] = TIFF_LE + bytes([_i])
for _i in range(3):
    SIDE_BY_SIDE_FILES["src/m%02d.oso" % _i] = SHADER
SIDE_BY_SIDE_ARGS = ["-verbose", "-package", "pkg"] + [
    "{T}/src/s%02d.rib" % i for i in range(SIDE_BY_SIDE_STREAMS)]
SIDE_BY_SIDE_ENV = {"PATH": "{T}/fake:" + SYSTEM_PATH}


@functools.lru_cache(maxsize=None)
def on_one_processor(tmp, options=()):
    """The same run in a copy of the case's tree, on one processor, with the
    copy's folder named as the case's in what it printed."""
    with tempfile.TemporaryDirectory() as other:
        other = os.path.realpath(other)
        write_tree(SIDE_BY_SIDE_FILES, other)
        env = {k: substitute(v, other) for k, v in SIDE_BY_SIDE_ENV.items()}
        result = subprocess.run(
            [BINARY] + list(options) + [substitute(a, other) for a in SIDE_BY_SIDE_ARGS], cwd=other,
            env=dict(env, HOME=other, LC_ALL="C"), capture_output=True,
            preexec_fn=lambda: os.sched_setaffinity(0, {min(os.sched_getaffinity(0))}))
        return (result.stdout.decode("utf-8", "replace").replace(other, tmp),
                result.stderr.decode("utf-8", "replace").replace(other, tmp))


CASES += [
    Case("streams_packaged_side_by_side_print_what_one_processor_prints",
         files=SIDE_BY_SIDE_FILES, env=SIDE_BY_SIDE_ENV, args=SIDE_BY_SIDE_ARGS,
         stdout=lambda tmp: on_one_processor(tmp)[0], stderr=lambda tmp: on_one_processor(tmp)[1],
         check=files_are({"pkg/s%02d.rib" % i: texture(
             ("${VRXDIR}" if i % 5 else "${RIBDIR}") + "/t%02d.tif" % i)
             + shader("${VRXDIR}/m%02d" % (i % 3)) for i in range(SIDE_BY_SIDE_STREAMS)})),
    Case("binary_streams_packaged_side_by_side_print_what_one_processor_prints",
         files=SIDE_BY_SIDE_FILES, env=SIDE_BY_SIDE_ENV, args=["-binary"] + SIDE_BY_SIDE_ARGS,
         stdout=lambda tmp: on_one_processor(tmp, ("-binary",))[0],
         stderr=lambda tmp: on_one_processor(tmp, ("-binary",))[1],
         check=holds_only(["s%02d.rib" % i for i in range(SIDE_BY_SIDE_STREAMS)]
                          + ["t%02d.tif" % i for i in range(SIDE_BY_SIDE_STREAMS) if i % 5]
                          + ["m%02d.oso" % i for i in range(3)])),
]


if __name__ == "__main__":
    sys.exit(main(CASES, sys.argv))
