#!/usr/bin/env python3
"""End-to-end cases for tracwell: python3 tracwell_e2e.py TRACWELL [--case NAME]..."""

import functools
import gzip
import os
import random
import resource
import signal
import subprocess
import sys

from harness import (BIGTIFF_LE, PROCEDURAL, SHADER, TIFF_BE, TIFF_LE, Case, Directory, Fifo,
                     Generated, Gzip, Pattern, Symlink, main, send_between, send_when_reading,
                     signal_storm, stdin_bytes, wait_until_read_through)

USAGE = "".join(line + "\n" for line in [
    "",
    "Usage: tracwell [options] [<file>1 ... <file>N]",
    "  -package dir    : produces a self-contained package with all the provided VRX",
    "                    files and their dependencies.",
    "  -scale <scale>  : when packaging, scale textures by the specified [0..1] ratio",
    "                    to save space.",
    "  -binary         : package VRX files in binary format (default is ASCII).",
    "                    Binary VRX files are also compressed using gzip",
    "",
    "  -shaders        : track shaders",
    "  -textures       : track textures",
    "  -procedurals    : track procedurals",
    "  -all            : track all of the above (default)",
    "  -outputs        : show output images paths",
    "  -notfound       : show all resources that couldn't be found",
    "",
    "  -v              : output version to console.",
    "  -h              : output this help.",
    "",
    "The default behavior of this tool is to list files required for the proper",
    "rendering of the specified VRX(s). Each dependency will be prefixed by",
    "a character indicating its type:",
    "",
    "  t  Texture dependency (.tif, .exr, .jpg, ... )",
    "  s  Shader dependency (.oso file)",
    "  p  Procedural dependency (library or executable)",
    "  !  Unresolved dependency (could not find file)",
    "  o  Output images(s) produced by the VRX file",
    "  c  Conflicting dependencies. Indicates dependencies that have the same name",
    "     but different path, those are renamed with the -package option.",
    "",
    "Procedural are not executed. If procedurals are to be expanded, use:",
    "",
    "          vornex -callprocedurals ...",
    "",
    "If no file is specified, tracwell will read from standard input.",
])

VERSION = ('tracwell version 2.5.20 linux64 (Jul 10 2021, tw-oss) "Glimmerdawn".\n'
           "Copyright (c) 2021 the tracwell authors.\n")


def texture(path, handle="tex"):
    return 'SetAttribute "%s" "texturename" "string" 1 "%s"\n' % (handle, path)


def shader(path):
    return 'SetAttribute "mat" "shaderfilename" "string" 1 "%s"\n' % path


def evaluate(kind, path):
    return 'Evaluate "type" "string" 1 "%s" "filename" "string" 1 "%s"\n' % (kind, path)


def lines(prefix, paths):
    return "".join("%s %s\n" % (prefix, p) for p in paths)


# A shot with every kind of dependency, found and missing, and one nested
# stream that adds a texture of its own.
SHOT = (
    "# a small shot\n"
    + shader("{T}/shaders/plastic")
    + shader("{T}/shaders/Metal.oso")
    + shader("{T}/shaders/gone")
    + texture("{T}/tex/wood.tif")
    + 'SetAttributeAtTime "bark" 0.5 "texturename" "string" 1 "{T}/tex/Bark.tif"\n'
    + 'SetAttribute "grain" "layers" "string" 2 ["{T}/tex/grain.tiff" "{T}/tex/grain.tif"]\n'
    + texture("{T}/tex/skin.UDIM.tif")
    + texture("{T}/tex/photo.exr")
    + texture("{T}/tex/lost.png")
    + 'SetAttribute "label" "name" "string" 1 "just a label"\n'
    + 'SetAttribute "cam" "imagefilename" "string" 1 "render/beauty.exr"\n'
    + evaluate("vrxstream", "{T}/nested.rib")
    + evaluate("vrxstream", "{T}/absent.rib")
    + evaluate("dynamiclib", "{T}/procs/fur")
    + evaluate("dynamiclib", "{T}/procs/hair")
)
SHOT_FILES = {
    "shaders/plastic.oso": SHADER,
    "shaders/Metal.oso": SHADER,
    "tex/wood.tif": TIFF_LE,
    "tex/Bark.tif": TIFF_BE,
    "tex/grain.tif": TIFF_LE,
    "tex/grain.tiff": BIGTIFF_LE,
    "tex/skin.1001.tif": TIFF_LE,
    "tex/skin.1003.tif": TIFF_BE,
    "tex/inner.tif": TIFF_LE,
    "tex/photo.exr": b"v/1\x01 not a tiff",
    "procs/fur.so": PROCEDURAL,
    "nested.rib": texture("{T}/tex/inner.tif") + shader("{T}/shaders/plastic"),
    "shot.rib": SHOT,
}
SHOT_LISTING = {
    "s": lines("s", ["{T}/shaders/Metal.oso", "{T}/shaders/plastic.oso"]),
    "t": lines("t", ["{T}/tex/Bark.tif", "{T}/tex/grain.tif", "{T}/tex/grain.tiff",
                     "{T}/tex/inner.tif", "{T}/tex/skin.1001.tif", "{T}/tex/skin.1003.tif",
                     "{T}/tex/wood.tif"]),
    "o": lines("o", ["{T}/render/beauty.exr"]),
    "a": lines("a", ["{T}/nested.rib"]),
    "p": lines("p", ["{T}/procs/fur.so"]),
    "!s": lines("!", ["{T}/shaders/gone.oso"]),
    "!t": lines("!", ["{T}/tex/lost.png"]),
    "!a": lines("!", ["{T}/absent.rib"]),
    "!p": lines("!", ["{T}/procs/hair"]),
}
KIND_ORDER = ["s", "t", "o", "a", "p", "!s", "!t", "!a", "!p"]


def shot_listing(groups):
    return "".join(SHOT_LISTING[g] for g in KIND_ORDER if g in groups)


ALL_GROUPS = set(KIND_ORDER)
KIND_OPTIONS = [
    ("all", ["-all"], ALL_GROUPS),
    ("shaders", ["-shaders"], {"s", "!s"}),
    ("textures", ["-textures"], {"t", "!t"}),
    ("output", ["-output"], {"o"}),
    ("outputs", ["-outputs"], {"o"}),
    ("procedural", ["-procedural"], {"p", "!p"}),
    ("procedurals", ["-procedurals"], {"p", "!p"}),
    ("notfound", ["-notfound"], {"!s", "!t", "!a", "!p"}),
    ("unresolved", ["-unresolved"], {"!t"}),
    ("shaders_textures", ["-shaders", "-textures"], {"s", "t", "!s", "!t"}),
    ("textures_output", ["-textures", "-output"], {"t", "o", "!t"}),
    ("all_wins", ["-shaders", "-all", "-output"], ALL_GROUPS),
    ("listing_neutral_words", ["-verbose", "-conflicts", "-noopenshaders", "-binary",
                               "-scale", "0.5", "-r", "{T}/tex"], ALL_GROUPS),
]

CASES = [
    Case("listing_kind_order_and_bytewise_sort", files=SHOT_FILES, args=["shot.rib"],
         stdout=shot_listing(ALL_GROUPS)),
    Case("listing_gzip_stream", args=["shot.rib.gz"],
         files=dict(SHOT_FILES, **{"shot.rib.gz": Gzip(SHOT)}),
         stdout=shot_listing(ALL_GROUPS)),
] + [
    Case("kind_option_" + name, files=SHOT_FILES, args=words + ["shot.rib"],
         stdout=shot_listing(groups))
    for name, words, groups in KIND_OPTIONS
]

# Help and version.
ONE = {"one.rib": texture("{T}/wood.tif"), "wood.tif": TIFF_LE}
CASES += [
    Case("help", args=["-h"], stdout=USAGE),
    Case("help_long_before_version", args=["--help", "-v"], stdout=USAGE),
    Case("help_reads_nothing", files=ONE, args=["-shaders", "-h", "one.rib", "missing.rib"],
         stdout=USAGE),
    Case("version_before_help", args=["-v", "-h", "one.rib"], files=ONE, stderr=VERSION),
    Case("version_long", args=["--version"], stderr=VERSION),
    Case("help_after_first_input_is_a_path", files=ONE, args=["one.rib", "-h"],
         stdout="t {T}/wood.tif\n",
         stderr="tracwell: cannot open input file '-h' "
                "(system error: No such file or directory)\n", status=1),
]

# Option values.
SCALE_MESSAGE = "kestrow: '-scale' needs a float value between 0 and 1\n"
CASES += [
    Case("scale_out_of_range_is_not_an_input", files=ONE, args=["-scale", "2", "one.rib"],
         stdout="t {T}/wood.tif\n", stderr=SCALE_MESSAGE),
    Case("scale_trailing_letters_accepted", files=ONE, args=["-scale", "0.5x", "one.rib"],
         stdout="t {T}/wood.tif\n"),
    Case("scale_without_value_reads_nothing", files=ONE, args=["-scale"],
         stdin=texture("{T}/wood.tif"), stderr=SCALE_MESSAGE),
    Case("root_without_value_reads_nothing", files=ONE, args=["-r"],
         stdin=texture("{T}/wood.tif"), stderr="kestrow: '-r' needs a value\n"),
]

# Inputs: duplicates, unreadable files, directories, links, standard input.
DIRECTORY_FILES = {
    "t1.tif": TIFF_LE, "t2.tif": TIFF_LE, "t3.tif": TIFF_LE,
    "d/a.rib": texture("{T}/t1.tif"),
    "d/.rib": texture("{T}/t1.tif"),
    "d/z.rib": texture("{T}/t3.tif"),
    # None of these is taken.
    "d/b.vrx": texture("{T}/t2.tif"),
    "d/c.RIB": texture("{T}/t2.tif"),
    "d/e.rib.gz": Gzip(texture("{T}/t2.tif")),
    "d/sub.rib/deep.rib": texture("{T}/t2.tif"),
}
DIRECTORY_TAKEN = {".rib": "t {T}/t1.tif\n", "z.rib": "t {T}/t3.tif\n", "a.rib": "t {T}/t1.tif\n"}


def directory_listing(tmp):
    """'d/a.rib' first, then 'd' without it, then 'd/' whole, in reading order."""
    order = [n for n in os.listdir(os.path.join(tmp, "d")) if n in DIRECTORY_TAKEN]
    text = DIRECTORY_TAKEN["a.rib"]
    text += "".join(DIRECTORY_TAKEN[n] for n in order if n != "a.rib")
    text += "".join(DIRECTORY_TAKEN[n] for n in order)
    return text.replace("{T}", tmp)


TWO_ERRORS = {
    "wood.tif": TIFF_LE, "x.tif": TIFF_LE, "y.tif": TIFF_LE,
    "a.rib": texture("{T}/wood.tif") + "Bogus\n" + texture("{T}/x.tif"),
    "b.rib": texture("{T}/y.tif") + "@\n",
}
CASES += [
    Case("same_path_twice_is_read_once", files=ONE, args=["one.rib", "one.rib", "./one.rib"],
         stdout="t {T}/wood.tif\nt {T}/wood.tif\n"),
    Case("unreadable_inputs_are_skipped", files=dict(ONE, **{"plain.rib": ""}),
         args=["missing.rib", "one.rib", "missing.rib", "plain.rib/x.rib"],
         stdout="t {T}/wood.tif\n",
         stderr="tracwell: cannot open input file 'missing.rib' "
                "(system error: No such file or directory)\n"
                "tracwell: cannot open input file 'plain.rib/x.rib' "
                "(system error: Not a directory)\n", status=1),
    Case("directory_takes_its_rib_entries_only", files=DIRECTORY_FILES,
         args=["d/a.rib", "d", "d/"], stdout=directory_listing),
    Case("link_to_directory_is_read_as_a_stream", files={"d": Directory(), "link": Symlink("d")},
         args=["link"], stderr="tracwell: [link:1]: Error reading VRX stream\n"),
    Case("stdin_without_input_words", files=ONE, args=["-textures"],
         stdin=texture("{T}/wood.tif"), stdout="t {T}/wood.tif\n"),
    Case("stdin_gzip", files=ONE, stdin=Gzip(texture("{T}/wood.tif")),
         stdout="t {T}/wood.tif\n"),
    Case("stdin_messages_name_it", files=ONE, stdin="Bogus\n" + texture("{T}/wood.tif"),
         stdout="t {T}/wood.tif\n", stderr="tracwell: [stdin:1]: Invalid id: Bogus\n"),
    Case("nested_stream_cycle_ends", args=["a.rib"],
         files={"wood.tif": TIFF_LE,
                "a.rib": texture("{T}/wood.tif") + evaluate("vrxstream", "{T}/b.rib"),
                "b.rib": evaluate("vrxstream", "{T}/a.rib")},
         stdout="t {T}/wood.tif\na {T}/a.rib\na {T}/b.rib\n"),
    Case("unwritable_output_fails_the_run", files=ONE, args=["one.rib"], stdout_to="/dev/full",
         stderr="tracwell: cannot write the output (system error: No space left on device)\n",
         status=1),
    Case("only_the_first_scan_message_of_the_run", files=TWO_ERRORS, args=["a.rib", "b.rib"],
         stdout="t {T}/wood.tif\nt {T}/x.tif\nt {T}/y.tif\n",
         stderr="tracwell: [a.rib:2]: Invalid id: Bogus\n"),
]

# Conflict groups.
CONFLICT_FILES = {
    "s1/plastic.oso": SHADER, "s2/plastic.oso": SHADER,
    "a/wood.tif": TIFF_LE, "b/wood.tif": TIFF_LE, "c/wood.tif": TIFF_LE,
    "a/x.tif": TIFF_LE, "a/y.tif": TIFF_LE, "b/x.tif": TIFF_LE, "b/y.tif": TIFF_LE,
    "n1/inner.rib": "", "n2/inner.rib": "",
    "p1/fur.so": PROCEDURAL, "p2/fur.so": PROCEDURAL,
    "z/wood.tif": TIFF_LE,
    "conflicts.rib": "".join(
        [shader("{T}/s1/plastic"), shader("{T}/s2/plastic")]
        + [texture("{T}/%s.tif" % p) for p in
           ["c/wood", "a/wood", "b/wood", "b/y", "a/x", "b/x", "a/y"]]
        + [evaluate("vrxstream", "{T}/n2/inner.rib"), evaluate("vrxstream", "{T}/n1/inner.rib")]
        + [evaluate("dynamiclib", "{T}/p2/fur"), evaluate("dynamiclib", "{T}/p1/fur")]),
    # Same file name as in conflicts.rib, but each stream is reported alone.
    "other.rib": texture("{T}/z/wood.tif"),
}
TEXTURES_SORTED = ["{T}/%s.tif" % p for p in
                   ["a/wood", "a/x", "a/y", "b/wood", "b/x", "b/y", "c/wood"]]
ROOTED_FILES = {
    "r/one/wood.tif": TIFF_LE, "s/one/wood.tif": TIFF_LE,
    "r/wood.tif": TIFF_LE, "s/wood.tif": TIFF_LE,
    "rooted.rib": "".join(texture("{T}/%s/wood.tif" % d) for d in ["s/one", "r", "s", "r/one"]),
}
ROOTED_LISTING = lines("t", ["{T}/r/one/wood.tif", "{T}/r/wood.tif", "{T}/s/one/wood.tif",
                             "{T}/s/wood.tif"])
CASES += [
    Case("conflict_groups_per_kind_and_stream", files=CONFLICT_FILES,
         args=["conflicts.rib", "other.rib"],
         stdout=lines("s", ["{T}/s1/plastic.oso", "{T}/s2/plastic.oso"])
         + lines("t", TEXTURES_SORTED)
         + lines("a", ["{T}/n1/inner.rib", "{T}/n2/inner.rib"])
         + lines("p", ["{T}/p1/fur.so", "{T}/p2/fur.so"])
         + "[s] {T}/s1/plastic.oso\ns {T}/s2/plastic.oso\n"
         + "[t] {T}/a/wood.tif\nt {T}/b/wood.tif\n"
         + "[t] {T}/a/x.tif\nt {T}/b/x.tif\n"
         + "[t] {T}/a/y.tif\nt {T}/b/y.tif\n"
         + "t {T}/c/wood.tif\n"
         + "[a] {T}/n1/inner.rib\na {T}/n2/inner.rib\n"
         + "[p] {T}/p1/fur.so\np {T}/p2/fur.so\n"
         + "t {T}/z/wood.tif\n"),
    # The kind mask limits the listing, not the conflict report.
    Case("conflicts_beyond_the_kind_mask", files=CONFLICT_FILES, args=["-output", "conflicts.rib"],
         stdout="[a] {T}/n1/inner.rib\na {T}/n2/inner.rib\n"
                "[p] {T}/p1/fur.so\np {T}/p2/fur.so\n"),
    Case("conflicts_with_one_root", files=ROOTED_FILES, args=["-r", "{T}/r", "rooted.rib"],
         stdout=ROOTED_LISTING
         + "[t] {T}/r/wood.tif\nt {T}/s/one/wood.tif\nt {T}/s/wood.tif\n"),
    Case("conflicts_with_two_roots", files=ROOTED_FILES,
         args=["-r", "{T}/r", "-r", "{T}/s", "rooted.rib"],
         stdout=ROOTED_LISTING
         + "[t] {T}/r/one/wood.tif\nt {T}/s/one/wood.tif\n"
         + "[t] {T}/r/wood.tif\nt {T}/s/wood.tif\n"),
]

# One file, one line: every spelling of a file is listed in its normal form,
# "." steps, repeated "/" and sound ".." steps dropped; a stream named bare
# reads "${RIBDIR}" as its own folder. Only a ".." after a linked folder stays.
SPELLINGS_FILES = {
    "shot/shot.rib": texture("${RIBDIR}/tex/a.tif") + texture("tex//a.tif")
    + texture("seq/../tex/./a.tif") + texture("{T}/shot/./tex/a.tif")
    + texture("${RIBDIR}/link/../x.tif") + texture("${RIBDIR}/seq//gone.tif"),
    "shot/tex/a.tif": TIFF_LE, "shot/seq": Directory(),
    "deep/nest": Directory(), "deep/x.tif": TIFF_LE, "shot/link": Symlink("{T}/deep/nest"),
}
CASES += [
    Case("listing_spells_each_file_in_normal_form", files=SPELLINGS_FILES, cwd="shot",
         args=["shot.rib"],
         stdout="t {T}/shot/link/../x.tif\nt {T}/shot/tex/a.tif\n! {T}/shot/seq/gone.tif\n"),
]

# Two spellings of one file (a linked folder) are no conflict; the other
# file of that name is. Roots name whole folders, and a relative root is a
# folder of the working directory.
LINKED_FILES = {
    "linked.rib": "".join(texture("{T}/%s/wood.tif" % d) for d in ["latest", "v1", "b"]),
    "only.rib": "".join(texture("{T}/%s/wood.tif" % d) for d in ["latest", "v1"]),
    "v1/wood.tif": TIFF_LE, "b/wood.tif": TIFF_LE, "latest": Symlink("v1"),
}
WHOLE_FOLDER_FILES = {
    "r/one/wood.tif": TIFF_LE, "ra/one/wood.tif": TIFF_LE, "r/wood.tif": TIFF_LE,
    "rooted.rib": "".join(texture("{T}/%s/wood.tif" % d) for d in ["r/one", "ra/one", "r"]),
}
CASES += [
    Case("conflicts_leave_out_spellings_of_one_file", files=LINKED_FILES,
         args=["linked.rib", "only.rib"],
         stdout=lines("t", ["{T}/b/wood.tif", "{T}/latest/wood.tif", "{T}/v1/wood.tif"])
         + "[t] {T}/b/wood.tif\nt {T}/latest/wood.tif\n"
         + lines("t", ["{T}/latest/wood.tif", "{T}/v1/wood.tif"])),
    Case("roots_match_whole_folders", files=WHOLE_FOLDER_FILES, args=["-r", "r", "rooted.rib"],
         stdout=lines("t", ["{T}/r/one/wood.tif", "{T}/r/wood.tif", "{T}/ra/one/wood.tif"])
         + "[t] {T}/r/wood.tif\nt {T}/ra/one/wood.tif\n"),
    Case("relative_roots_are_folders_of_the_working_directory", files=ROOTED_FILES, cwd="r",
         args=["-r", ".", "-r", "../s", "../rooted.rib"],
         stdout=ROOTED_LISTING
         + "[t] {T}/r/one/wood.tif\nt {T}/s/one/wood.tif\n"
         + "[t] {T}/r/wood.tif\nt {T}/s/wood.tif\n"),
]

# A nested stream linked into another folder names that folder's files
# through "${RIBDIR}": it is read once per folder, so both textures are
# listed; through a linked folder it names the same files and is read once.
ROUTE_FILES = {
    "shot.rib": "".join(evaluate("vrxstream", "{T}/%s/n.rib" % d) for d in ["a", "b", "latest"]),
    "a/n.rib": texture("${RIBDIR}/t.tif"), "a/t.tif": TIFF_LE, "b/t.tif": TIFF_LE,
    "b/n.rib": Symlink("../a/n.rib"), "latest": Symlink("a"),
}
CASES += [
    Case("nested_stream_is_read_once_per_folder", files=ROUTE_FILES, args=["shot.rib"],
         stdout=lines("t", ["{T}/a/t.tif", "{T}/b/t.tif"])
         + lines("a", ["{T}/a/n.rib", "{T}/b/n.rib", "{T}/latest/n.rib"])
         + "[t] {T}/a/t.tif\nt {T}/b/t.tif\n"),
]

# An unknown option word is skipped, but named.
CASES += [
    Case("unknown_option_is_named", files=ONE, args=["-texture", "-shaders", "-x", "one.rib"],
         stderr="kestrow: ignoring unknown option '-texture'\n"
                "kestrow: ignoring unknown option '-x'\n"),
]

# The stream order: producers of images before the streams that read them.


def output(path):
    return 'SetAttribute "cam" "imagefilename" "string" 1 "%s"\n' % path


ORDER_FILES = {
    "one.rib": output("{T}/render/a.tif"),
    # Reads a.tif where it is not yet: matched by relative name all the same.
    "two.rib": texture("{T}/maps/a.tif") + output("{T}/render/b.tif"),
    "three.rib": texture("{T}/maps/b.tif") + output("{T}/render/c.exr"),
    "reader.rib": texture("{T}/maps/c.exr"),  # produces nothing: never printed
    "x.rib": texture("{T}/maps/y.tif") + output("{T}/render/x.tif"),
    "y.rib": texture("{T}/maps/x.tif") + output("{T}/render/y.tif"),
}
CASES += [
    Case("order_in_place_of_the_listing", files=ORDER_FILES,
         args=["-order", "three.rib", "reader.rib", "two.rib", "one.rib"],
         stdout="one.rib\ntwo.rib\nthree.rib\n"),
    Case("order_breaks_a_cycle", files=ORDER_FILES, args=["-order", "x.rib", "y.rib"],
         stdout="y.rib\nx.rib\n"),
]

# The installation directory is two levels above the program file, however
# the program is started: by a relative name, or through a link (the link's
# target counts).
INSTALLED = {
    "shaders/plastic.oso": SHADER,
    "shot.rib": shader("${ZEPHRIN}/shaders/plastic.oso"),
}
CASES += [
    Case("installation_directory_of_a_relative_start", files=INSTALLED,
         program="bin/tracwell", args=["shot.rib"], stdout="s {T}/shaders/plastic.oso\n"),
    Case("installation_directory_through_a_link",
         files=dict(INSTALLED, **{"elsewhere/bin/tracwell": Symlink("{T}/bin/tracwell")}),
         program="bin/tracwell", start_as="elsewhere/bin/tracwell", args=["shot.rib"],
         stdout="s {T}/shaders/plastic.oso\n"),
]

# A fatal scanner error (here: a token that outgrows the memory the buffer
# may take) is printed and ends the run with status 2.
GIANT_STRING = Generated(lambda: b'SetAttribute "n" "texturename" "string" 1 "' + b"a" * (40 << 20) + b'"\n')
CASES += [
    Case("fatal_scanner_error_exits_with_status_2", files={"big.rib": GIANT_STRING},
         args=["big.rib"], memory_mb=64, status=2,
         stderr=Pattern(r"(==\d+==WARNING: AddressSanitizer failed to allocate [^\n]*\n)*"
                        r"tracwell: (fatal error - scanner input buffer overflow"
                        r"|out of dynamic memory in [^\n]*) \(in 'big\.rib'\)\n")),
]

# Packaging runs that stop before anything is read.


def package_directory_exists(tmp):
    return [] if os.path.isdir(os.path.join(tmp, "pkg")) else ["pkg was not created"]


REFUSAL = "kestrow: rewriting VRX from standard output is not supported\n"
CASES += [
    Case("package_parent_missing", files=ONE, args=["-package", "{T}/no/such", "one.rib"],
         stderr="unknown path: {T}/no/such\n", status=1),
    Case("package_over_a_file", files=ONE, args=["-package", "one.rib", "one.rib"],
         stderr="unknown path: one.rib\n", status=1),
    Case("package_without_directory", args=["-package"], stderr="unknown path: \n", status=1),
    Case("package_of_stdin_is_refused", files=ONE, args=["-package", "pkg"],
         stdin=texture("{T}/wood.tif"), stderr=REFUSAL, status=1,
         check=package_directory_exists),
]

# Crash reports. The sanitizer's own signal handling is kept out of the way.
CRASH_ENV = {"ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":handle_segv=0:handle_abort=0"}
HEX = "0x[0-9a-f]{16}"
REGISTER_PAIRS = [("rax", "rbx"), ("rcx", "rdx"), ("rsp", "rbp"), ("rsi", "rdi"),
                  ("r8 ", "r9 "), ("r10", "r11"), ("r12", "r13"), ("r14", "r15")]
REPORT_BODY = (
    r"StackTrace\(\) at " + HEX + r"\n"
    r"\n(?:[^\n]+\n)+\n"
    r"\nRegisters dump:\n"
    + "".join(r"%s: %s  %s: %s\n" % (a, HEX, b, HEX) for a, b in REGISTER_PAIRS)
    + "".join(r"xmm%d%s: 0x[0-9a-f]{8} 0x[0-9a-f]{8} 0x[0-9a-f]{8} 0x[0-9a-f]{8} "
              r"\([^)\n]*\)\n" % (i, " " if i < 10 else "") for i in range(16))
    + r"Process is using \d+ of \d+ MB\. System memory load is \d+%\.\n")
BANNER = (r"\n \* Please report this crash to [^\n]+\. \*\n"
          r" \* Along with your VRX\+OSL files\. Thank you\.         \*\n")
HEADER = r"Received signal %d \(%s\)\. 2\.5\.20 Jul 10 2021, [^\n]+\n"
CASES += [
    Case("crash_report_segv", env=CRASH_ENV, interact=send_when_reading(signal.SIGSEGV),
         stderr=Pattern(HEADER % (11, "Segmentation violation")
                        + r"Trying to access address [^\n]*\n" + REPORT_BODY + BANNER),
         status=1),
    Case("crash_report_abort", env=CRASH_ENV, interact=send_when_reading(signal.SIGABRT),
         stderr=Pattern(HEADER % (6, "Abort") + REPORT_BODY), status=1),
    # A hangup is reported and the run goes on: no byte of the stream is lost.
    Case("hangup_while_reading_stdin_loses_nothing", files=dict(ONE, **{"x.tif": TIFF_LE}),
         env=CRASH_ENV, interact=send_between(signal.SIGHUP, texture("{T}/x.tif")),
         stdin=texture("{T}/wood.tif"), stdout="t {T}/wood.tif\nt {T}/x.tif\n",
         stderr=Pattern(HEADER % (1, "Hangup") + REPORT_BODY)),
    Case("crash_handler_off_with_dump_core", thread_sanitizer=False,
         env=dict(CRASH_ENV, ZP_DUMP_CORE=""),
         interact=send_when_reading(signal.SIGSEGV), status=-signal.SIGSEGV),
]

# Hostile input and a hostile environment.


def chain(levels, name, body):
    """Streams name(0) .. name(levels): each holds body(i, next stream's path)."""
    return {name(i): body(i, "{T}/" + name(i + 1) if i < levels else None)
            for i in range(levels + 1)}


def twice(i, following):
    named = evaluate("vrxstream", following) * 2 if following else texture("{T}/wood.tif")
    return named


# 41 streams of a few hundred bytes, each naming the next twice: read again
# on every route, the last one would be read 2^40 times.
DOUBLING = dict(chain(40, lambda i: "s%02d.rib" % i, twice), **{"wood.tif": TIFF_LE})
STREAMS_3000 = dict({"d/f%04d.rib" % i: texture("{T}/wood.tif") for i in range(3000)},
                    **{"wood.tif": TIFF_LE})


def skipped_entries(tmp):
    """One message per entry that is no regular file, in reading order."""
    names = [n for n in os.listdir(os.path.join(tmp, "d")) if n in ("pipe.rib", "zero.rib")]
    return "".join("tracwell: skipping input file 'd/%s': not a regular file\n" % n for n in names)


# A stream with many distinct names, listed while hangups and thread dumps
# rain on the process: every report must leave the listing whole. Fifty
# runs; the other cases look for leaks.
STORM_NAMES = ["{T}/tex/n%05d.tif" % i for i in range(2000)]
STORM_ENV = {"ASAN_OPTIONS": CRASH_ENV["ASAN_OPTIONS"] + ":detect_leaks=0"}
CASES += [
    Case("stream_named_twice_at_forty_levels_is_read_once", files=DOUBLING, args=["s00.rib"],
         stdout="t {T}/wood.tif\n" + lines("a", ["{T}/s%02d.rib" % i for i in range(1, 41)])),
    Case("inputs_are_bounded_by_memory_not_by_descriptors", files=STREAMS_3000, args=["d"],
         limits={resource.RLIMIT_NOFILE: 256}, stdout="t {T}/wood.tif\n" * 3000),
    Case("nested_fifos_and_devices_are_skipped",
         files={"pipe.rib": Fifo(), "wood.tif": TIFF_LE,
                "shot.rib": evaluate("vrxstream", "{T}/pipe.rib") + evaluate("vrxstream", "/dev/zero")
                + evaluate("vrxstream", "/dev/stdin") + texture("{T}/wood.tif")},
         args=["shot.rib"],
         stdout="t {T}/wood.tif\n! /dev/stdin\n! /dev/zero\n! {T}/pipe.rib\n",
         stderr="tracwell: skipping nested stream '{T}/pipe.rib': not a regular file\n"
                "tracwell: skipping nested stream '/dev/zero': not a regular file\n"
                "tracwell: skipping nested stream '/dev/stdin': not a regular file\n"),
    Case("directory_entries_that_are_no_files_are_skipped",
         files={"d/pipe.rib": Fifo(), "d/zero.rib": Symlink("/dev/zero"),
                "d/a.rib": texture("{T}/wood.tif"), "wood.tif": TIFF_LE},
         args=["d"], stdout="t {T}/wood.tif\n", stderr=skipped_entries),
    Case("signal_storm_leaves_the_listing_whole", thread_sanitizer=False, runs=50, env=STORM_ENV,
         stdin="".join(texture(n) for n in STORM_NAMES),
         interact=signal_storm([signal.SIGHUP, signal.SIGUSR1]),
         stdout=lines("!", sorted(STORM_NAMES)),
         stderr=Pattern("(?:" + HEADER % (1, "Hangup") + REPORT_BODY + ")*")),
    Case("line_feed_in_a_value_forges_no_line", args=["shot.rib"],
         files={"shot.rib": texture("/missing/x\nt /etc/shadow.tif") + texture("{T}/lost.tif")},
         stdout="! {T}/lost.tif\n",
         stderr="tracwell: leaving out names with a line break in 'shot.rib'\n"),
]

# Gzip members follow one another as one stream, so a few hundred kilobytes
# on disk hold a quarter of a gigabyte: more than the run may take. Names in
# them are relative: the working directory is the case's own. The large
# fixtures are made only when their case runs.


@functools.lru_cache(maxsize=None)
def mib_of_spaces():
    return gzip.compress(b" " * (1 << 20))


def spaces_around(text, mebibytes=128):
    return gzip.compress(text.encode()) + mib_of_spaces() * mebibytes


def gzip_bomb(*parts):
    """Texts, each followed by 128 MiB of blanks, then a last text."""
    return Generated(lambda: b"".join(spaces_around(p) for p in parts[:-1])
                     + gzip.compress(parts[-1].encode()))


def binary_string_definition(string_id, text):
    """Defines string id (one byte) as text, in the binary encoding."""
    return b"\315" + bytes([string_id]) + b"\243" + len(text).to_bytes(4, "big") + text


# A string of a megabyte, defined once, then brought back a million times
# for two bytes each (as values) and a hundred thousand times as the name
# of a parameter: classified afresh each time, it would cost hours.
REFERENCE = b"\317\000"
SET_ATTRIBUTE = b"\314\001\"SetAttribute\""
AMPLIFIER = Generated(lambda: gzip.compress(
    binary_string_definition(0, b"/" + b"x" * (1 << 20) + b".tif") + SET_ATTRIBUTE
    + b'\246\001 "h" "layers" "string" 1 [' + REFERENCE * 1000000 + b"]\n"
    + (b'\246\001 "h" ' + REFERENCE + b' "string" 1 "wood.tif"\n') * 100000
    + texture("lost.tif").encode()))
# A single string past the memory the run may take, after an ordinary error.
HUGE_QUOTE = Generated(lambda: gzip.compress(b'Bogus\n"') + mib_of_spaces() * 128
                       + gzip.compress(b'"\n'))
HUGE_BINARY_STRING = Generated(lambda: gzip.compress(
    SET_ATTRIBUTE + b'\246\001 "h" "m" "string" 1 \243' + (128 << 20).to_bytes(4, "big"))
    + mib_of_spaces() * 128)
# The sanitizer notes each allocation it refuses.
ALLOCATION_WARNINGS = r"(==\d+==WARNING: AddressSanitizer failed to allocate [^\n]*\n)*"

# Each level doubles the one below, over a long value: 2^40 copies of it.
DOUBLING_ENV = dict({"E%d" % i: "${E%d}${E%d}" % (i + 1, i + 1) for i in range(40)},
                    E40="x" * 100000)


CASES += [
    Case("blank_runs_of_a_gzip_bomb_fit_in_little_memory", memory_mb=64,
         files={"outer.rib": gzip_bomb(texture("a.tif"), evaluate("vrxstream", "inner.rib"),
                                       texture("b.tif")),
                "inner.rib": gzip_bomb(texture("c.tif"), texture("d.tif"))},
         args=["outer.rib"],
         stdout="a {T}/inner.rib\n" + lines("!", ["{T}/a.tif", "{T}/b.tif", "{T}/c.tif", "{T}/d.tif"])),
    Case("a_fatal_message_follows_an_earlier_one", memory_mb=64,
         files={"huge.rib": HUGE_QUOTE}, args=["huge.rib"],
         stderr=Pattern(r"tracwell: \[huge\.rib:1\]: Invalid id: Bogus\n" + ALLOCATION_WARNINGS
                        + r"tracwell: fatal error - scanner input buffer overflow"
                        r" \(in 'huge\.rib'\)\n"),
         status=2),
    Case("out_of_memory_names_the_stream", memory_mb=64, plain_build_only=True,
         files={"big.rib": HUGE_BINARY_STRING}, args=["big.rib"],
         stderr="tracwell: out of memory while reading 'big.rib'\n", status=1),
    Case("a_long_table_string_costs_its_length_once", args=["table.rib"],
         files={"table.rib": AMPLIFIER, "wood.tif": TIFF_LE},
         stdout="t {T}/wood.tif\n! {T}/lost.tif\n"),
    Case("path_variables_doubling_at_every_level_stay_as_written", args=["shot.rib"],
         env=DOUBLING_ENV, files={"shot.rib": texture("${E0}/a.tif")},
         stdout="! {T}/${E0}/a.tif\n"),
]

# What the run learnt of a folder answers for a name only while the folder is
# as it was: a file made while the run goes on is found by the names read
# after it. Twenty names make the folder's listing worth reading.
MISSING_20 = ["{T}/tex/n%02d.tif" % i for i in range(20)]
NAMES_20 = "".join(texture(n) for n in MISSING_20)


def make_texture(tmp, name="late.tif"):
    with open(os.path.join(tmp, "tex", name), "wb") as f:
        f.write(TIFF_LE)


def texture_made_after(first):
    """Writes the first part of standard input, waits until the program has
    read all of it and waits for more, then makes tex/late.tif."""
    def interact(process, tmp):
        process.stdin.write(stdin_bytes(first, tmp))
        process.stdin.flush()
        wait_until_read_through(process, process.stdin, 0)
        make_texture(tmp)
    return interact


def folder_changed_between(first, second):
    """Feeds the first FIFO, makes tex/late.tif once the program has read all
    of it, then feeds the second. Each is held open until it has been read."""
    def interact(process, tmp):
        with open(os.path.join(tmp, "one.rib"), "wb") as pipe:
            pipe.write(stdin_bytes(first, tmp))
            pipe.flush()
            wait_until_read_through(process, pipe, os.path.join(tmp, "one.rib"))
            make_texture(tmp)
        with open(os.path.join(tmp, "two.rib"), "wb") as pipe:
            pipe.write(stdin_bytes(second, tmp))
            pipe.flush()
            wait_until_read_through(process, pipe, os.path.join(tmp, "two.rib"))
    return interact


# 3,000 streams naming 20 of 100 textures of one folder.
FOLDER_TEXTURES = ["{T}/tex/t%03d.tif" % i for i in range(100)]
STREAMS_OF_ONE_FOLDER = dict(
    {"d/f%04d.rib" % i: "".join(texture(FOLDER_TEXTURES[(i + 7 * k) % 100]) for k in range(20))
     for i in range(3000)},
    **{"tex/t%03d.tif" % i: TIFF_LE for i in range(100)})


def one_folder_listing(tmp):
    """Each stream's textures, in directory-reading order."""
    text = ""
    for name in os.listdir(os.path.join(tmp, "d")):
        i = int(name[1:5])
        text += lines("t", sorted(FOLDER_TEXTURES[(i + 7 * k) % 100] for k in range(20)))
    return text.replace("{T}", tmp)


CASES += [
    Case("texture_made_while_stdin_is_read_is_found", files={"tex/wood.tif": TIFF_LE},
         interact=texture_made_after(NAMES_20 + texture("{T}/tex/late.tif")),
         stdin=texture("{T}/tex/late.tif") + texture("{T}/tex/wood.tif"),
         stdout=lines("t", ["{T}/tex/late.tif", "{T}/tex/wood.tif"])
         + lines("!", ["{T}/tex/late.tif"] + MISSING_20)),
    Case("folder_changed_between_two_streams", args=["one.rib", "two.rib"],
         files={"tex/wood.tif": TIFF_LE, "one.rib": Fifo(), "two.rib": Fifo()},
         interact=folder_changed_between(
             NAMES_20 + texture("{T}/tex/late.tif") + texture("{T}/tex/wood.tif"),
             texture("{T}/tex/late.tif") + texture("{T}/tex/n00.tif")),
         stdout=lines("t", ["{T}/tex/wood.tif"])
         + lines("!", sorted(MISSING_20 + ["{T}/tex/late.tif"]))
         + lines("t", ["{T}/tex/late.tif"]) + lines("!", ["{T}/tex/n00.tif"])),
    Case("streams_of_one_folder_within_64_descriptors", files=STREAMS_OF_ONE_FOLDER, args=["d"],
         limits={resource.RLIMIT_NOFILE: 64}, stdout=one_folder_listing),
]

# Streams are scanned side by side; what the run prints is the same as when
# they are scanned one after another on one processor: a shot of 500 streams
# of every sort (found, missing and non-TIFF textures, shaders, outputs,
# nested streams named by several, gzip, broken requests, names with line
# breaks, nested FIFOs), and the three benchmark profiles, in one run.
BENCH = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "bench")


def mixed_shot(count=500):
    rng = random.Random(23)
    files = {"tex/t%03d.tif" % i: TIFF_LE if i % 7 else b"not a tiff" for i in range(120)}
    files.update({"sh/s%d.oso" % i: SHADER for i in range(6)})
    files.update({"tex/u.1001.tif": TIFF_LE, "tex/u.1003.tif": TIFF_LE, "pipe.rib": Fifo(),
                  "procs/p1.so": PROCEDURAL})
    for i in range(count):
        parts = []
        for _ in range(rng.randrange(1, 25)):
            c = rng.random()
            if c < 0.45:
                parts.append(texture("{T}/tex/t%03d.tif" % rng.randrange(150)))
            elif c < 0.55:
                parts.append(shader("{T}/sh/s%d" % rng.randrange(9)))
            elif c < 0.6:
                parts.append(output("render/i%d.exr" % rng.randrange(30)))
            elif c < 0.65:
                parts.append("Bogus%d\n" % rng.randrange(4))
            elif c < 0.72:
                parts.append(evaluate("vrxstream", "{T}/d/s%03d.rib" % rng.randrange(count + 50)))
            elif c < 0.74:
                parts.append(evaluate("vrxstream", "{T}/pipe.rib"))
            elif c < 0.77:
                parts.append(texture("{T}/tex/u.UDIM.tif"))
            elif c < 0.8:
                parts.append(evaluate("dynamiclib", "{T}/procs/p%d" % rng.randrange(3)))
            elif c < 0.81:
                parts.append(texture("{T}/tex/line\nbreak.tif"))
            elif c < 0.9:
                parts.append(texture("/shows/none/t%d.tif" % rng.randrange(40)))
            else:
                parts.append(texture("rel/t%d.tif" % rng.randrange(40)))
        text = "".join(parts)
        files["d/s%03d.rib" % i] = Gzip(text) if i % 11 == 0 else text
    return files


def profile(name):
    def make():
        return subprocess.run([sys.executable, os.path.join(BENCH, "gen_stream.py"), "--mb", "2",
                               "--profile", name, "--seed", "1"], check=True,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    return Generated(make)


def on_one_processor(stream):
    """What the run prints when it may use one processor only."""
    @functools.lru_cache(maxsize=None)
    def run(tmp):
        binary = os.path.realpath(sys.argv[1])
        return subprocess.run([binary, "d", "geometry.rib", "mixed.rib", "strings.rib"], cwd=tmp,
                              preexec_fn=lambda: os.sched_setaffinity(0, {min(os.sched_getaffinity(0))}),
                              env={"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": tmp,
                                   "LC_ALL": "C"},
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return lambda tmp: getattr(run(tmp), stream).decode("utf-8", "replace")


SIDE_BY_SIDE = dict(mixed_shot(), **{p + ".rib": profile(p) for p in ("geometry", "mixed", "strings")})
CASES += [
    Case("streams_scanned_side_by_side_print_what_one_processor_prints", files=SIDE_BY_SIDE,
         args=["d", "geometry.rib", "mixed.rib", "strings.rib"],
         stdout=on_one_processor("stdout"), stderr=on_one_processor("stderr")),
]

if __name__ == "__main__":
    sys.exit(main(CASES, sys.argv))
