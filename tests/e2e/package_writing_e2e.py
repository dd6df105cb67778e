#!/usr/bin/env python3
"""End-to-end cases of writing a package in a hostile environment: a file-size
limit, the package folder swapped for a link while a texture is shrunk, two
runs into one folder, and dependencies that are no files.

    python3 package_writing_e2e.py TRACWELL [--case NAME]...

The stand-ins vornex and texmeld are found through ZP_STANDIN_PATH, a
PATH-style list of the folders that hold them.
"""

import os
import random
import re
import resource
import subprocess
import sys
import threading
import time

from harness import PROCEDURAL, SHADER, TIFF_LE, Case, Directory, Fifo, Generated, Pattern, \
    base_environment, main, substitute
from environment_e2e import STANDIN_PATH, with_programs
from packaging_e2e import tiff, tiff_width
from tracwell_e2e import evaluate, shader, texture



def standin(name):
    for folder in STANDIN_PATH.split(":"):
        path = os.path.join(folder, name)
        if folder and os.access(path, os.X_OK):
            return path
    return name


def gated_texmeld():
    """A texmeld that, until the file {T}/go exists, notes that it waits
    ({T}/texmeld.waiting) and waits; then it runs the stand-in."""
    return ('#!/bin/sh\nif [ ! -e "{T}/go" ]; then\n  : > "{T}/texmeld.waiting"\n'
            '  while [ ! -e "{T}/go" ]; do sleep 0.01; done\nfi\nexec "%s" "$@"\n'
            % standin("texmeld"))


def wait_for_file(path, seconds=30):
    end = time.time() + seconds
    while time.time() < end and not os.path.exists(path):
        time.sleep(0.01)


def names(folder):
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else None


def runnable(case):
    """The case's bin/texmeld made executable before the binary starts."""
    if "bin/texmeld" in case.files:
        case.preexec = lambda: os.chmod("bin/texmeld", 0o755)
    return case


CASES = []

# A file-size limit (as a full disk would) on the run: the files that fit
# are packaged, the one that does not is reported and absent, never cut
# under its name, and the run ends with status 1. The big stream is written
# after the big texture (nested streams come after textures), through
# vornex with -binary; with -scale texmeld's output is too big as well.
LIMIT = 1 << 20


def big_tiff():
    return tiff(1500, 1500)  # 2.2 MB of 8-bit grey; shrunk to half as RGBA, as big


def big_stream():
    """A nested stream of 3 MB that gzip cannot shrink below the limit."""
    rng = random.Random(22)
    values = "".join('SetAttribute "n" "note" "string" 1 "%032x"\n' % rng.getrandbits(128)
                     for _ in range(60000))
    return (texture("${RIBDIR}/../small.tif") + values).encode()


FULL_FILES = {
    "src/shot.rib": texture("{T}/src/small.tif") + texture("{T}/src/big.tif")
    + evaluate("vrxstream", "{T}/src/nest/big.rib"),
    "src/small.tif": TIFF_LE + b"small",
    "src/big.tif": Generated(big_tiff),
    "src/nest/big.rib": Generated(big_stream),
}
FULL_STREAM_FAILURE = {
    "plain": "\n#Could not write 'pkg/big.rib'\n\n",
    "binary": "\n#Could not write 'pkg/big.rib' through vornex (vornex exit status 1)\n\n",
}


def not_in_package(dependency, stream="pkg/shot.rib"):
    """What the package's own check says of a dependency it lacks."""
    return "\n#Not in the package: '%s', needed by '%s'\n\n" % (dependency, stream)


FULL_LACKS = not_in_package("{T}/src/big.tif") + not_in_package("{T}/src/nest/big.rib")


def nothing_cut(tmp):
    failures = []
    left = names(os.path.join(tmp, "pkg"))
    if left != ["shot.rib", "small.tif"]:
        return ["the package holds %s, expected shot.rib and small.tif" % left]
    with open(os.path.join(tmp, "pkg/small.tif"), "rb") as f:
        if f.read() != TIFF_LE + b"small":
            failures.append("pkg/small.tif is not the source's copy")
    return failures


def full_disk_stderr(stream_failure, texmeld_says=False):
    text = ("\n#Could not copy '{T}/src/big.tif' as 'pkg/big.tif'\n\n" + stream_failure
            + FULL_LACKS)
    if not texmeld_says:
        return text
    # texmeld says on standard error that its output did not fit.
    return Pattern("(texmeld: [^\n]*\n)?" + re.escape(text).replace(re.escape("{T}"), "{T}"))


for label, options, stderr in [
        ("copied", [], full_disk_stderr(FULL_STREAM_FAILURE["plain"])),
        ("binary", ["-binary"], full_disk_stderr(FULL_STREAM_FAILURE["binary"])),
        ("scaled", ["-scale", "0.5"], full_disk_stderr(FULL_STREAM_FAILURE["plain"], True))]:
    CASES.append(Case(
        "file_size_limit_leaves_no_cut_file_%s" % label, files=FULL_FILES,
        env=with_programs(), limits={resource.RLIMIT_FSIZE: LIMIT},
        args=options + ["-package", "pkg", "{T}/src/shot.rib"],
        stderr=stderr, status=1, check=nothing_cut))

# The package folder renamed away and replaced by a link to the shot's
# texture folder while texmeld shrinks the first texture: everything still
# goes into the folder that was opened (now "moved"), the sources stay as
# they were, and nothing is written into the link's target. The nested
# stream is written after the textures, so after the swap.
SWAP_FILES = {
    "src/shot.rib": texture("{T}/src/tex/a.tif") + texture("{T}/src/tex/b.tif")
    + evaluate("vrxstream", "{T}/src/nest/inner.rib"),
    "src/nest/inner.rib": texture("{T}/src/tex/c.tif"),
    "src/tex/a.tif": tiff(8, 8),
    "src/tex/b.tif": tiff(8, 8),
    "src/tex/c.tif": tiff(8, 8),
    "bin/texmeld": gated_texmeld(),
}


def swap_the_package_folder(process, tmp):
    wait_for_file(os.path.join(tmp, "texmeld.waiting"))
    os.rename(os.path.join(tmp, "pkg"), os.path.join(tmp, "moved"))
    os.symlink(os.path.join(tmp, "src/tex"), os.path.join(tmp, "pkg"))
    open(os.path.join(tmp, "go"), "w").close()


def sources_untouched(tmp):
    failures = []
    if names(os.path.join(tmp, "src/tex")) != ["a.tif", "b.tif", "c.tif"]:
        failures.append("src/tex holds %s" % names(os.path.join(tmp, "src/tex")))
    for name in ["a.tif", "b.tif", "c.tif"]:
        if tiff_width(os.path.join(tmp, "src/tex", name)) != 8:
            failures.append("the source src/tex/%s was replaced" % name)
        if tiff_width(os.path.join(tmp, "moved", name)) != 4:
            failures.append("moved/%s is not the shrunk texture" % name)
    moved = names(os.path.join(tmp, "moved"))
    if moved != ["a.tif", "b.tif", "c.tif", "inner.rib", "shot.rib"]:
        failures.append("the opened package folder holds %s" % moved)
    return failures


for label, options in [("ascii", []), ("binary", ["-binary"])]:
    CASES.append(runnable(Case(
        "package_folder_swapped_for_a_link_receives_nothing_%s" % label, files=SWAP_FILES,
        env=with_programs(), args=options + ["-scale", "0.5", "-package", "pkg",
                                             "{T}/src/shot.rib"],
        interact=swap_the_package_folder, check=sources_untouched)))

# Two runs into one folder, the second started while the first shrinks its
# first texture, with another scale: the second waits for the first, so
# that every file of the package is whole and from one run (the second).
TWO_RUN_TEXTURES = ["{T}/src/t%02d.tif" % i for i in range(24)]
TWO_RUN_FILES = dict({"src/shot.rib": "".join(texture(t) for t in TWO_RUN_TEXTURES),
                      "bin/texmeld": gated_texmeld()},
                     **{t[4:]: tiff(16, 16) for t in TWO_RUN_TEXTURES})
WAITING = "#Waiting for another run to finish with 'pkg'\n"


class SecondRun:
    """Starts the second run once the first one's texmeld waits, and lets
    texmeld go once the second run says that it waits (or after 10 s)."""

    def __init__(self):
        self.process = None
        self.first_line = b""

    def interact(self, process, tmp):
        wait_for_file(os.path.join(tmp, "texmeld.waiting"))
        env = base_environment(tmp)
        env.update({k: substitute(v, tmp) for k, v in with_programs().items()})
        self.process = subprocess.Popen(
            [process.args[0], "-scale", "0.25", "-package", "pkg", tmp + "/src/shot.rib"],
            cwd=tmp, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE)

        def first_line():
            self.first_line = self.process.stderr.readline()
        reader = threading.Thread(target=first_line, daemon=True)
        reader.start()
        reader.join(10)
        open(os.path.join(tmp, "go"), "w").close()
        reader.join()

    def check(self, tmp):
        failures = []
        try:
            out, err = self.process.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            out, err = self.process.communicate()
        err = (self.first_line + err).decode("utf-8", "replace")
        if err != WAITING or out or self.process.returncode != 0:
            failures.append("the second run printed %r and %r, status %d; expected %r, status 0"
                            % (out, err, self.process.returncode, WAITING))
        widths = {name: tiff_width(os.path.join(tmp, "pkg", name))
                  for name in names(os.path.join(tmp, "pkg")) if name.endswith(".tif")}
        if len(widths) != len(TWO_RUN_TEXTURES) or set(widths.values()) != {4}:
            failures.append("package textures and their widths (the second run's are 4): %s"
                            % sorted(widths.items()))
        return failures


SECOND_RUN = SecondRun()
CASES.append(runnable(Case(
    "second_run_into_a_folder_waits_for_the_first", files=TWO_RUN_FILES, env=with_programs(),
    args=["-scale", "0.5", "-package", "pkg", "{T}/src/shot.rib"],
    interact=SECOND_RUN.interact, check=SECOND_RUN.check)))

# Dependencies that are no regular files: a FIFO and a folder named as
# shaders, a FIFO and /dev/zero as procedurals. Each is reported, none
# blocks or fills the disk (the size limit guards the old way of copying),
# the rest is packaged, and the run ends with status 1.
NOT_FILES = {
    "src/shot.rib": shader("{T}/src/pipe") + shader("{T}/src/folder")
    + texture("{T}/src/wood.tif") + evaluate("dynamiclib", "/dev/zero")
    + evaluate("dynamiclib", "{T}/src/fifo") + evaluate("dynamiclib", "{T}/src/fur"),
    "src/pipe.oso": Fifo(),
    "src/folder.oso": Directory(),
    "src/fifo": Fifo(),
    "src/fur.so": PROCEDURAL,
    "src/wood.tif": TIFF_LE,
}


def not_a_file(source, destination):
    return "\n#Not copying '%s' as '%s': it is not a regular file\n\n" % (source, destination)


def regular_ones_packaged(tmp):
    left = names(os.path.join(tmp, "pkg"))
    return [] if left == ["fur.so", "shot.rib", "wood.tif"] else ["the package holds %s" % left]


CASES += [
    Case("dependencies_that_are_no_files_are_reported", files=NOT_FILES, env=with_programs(),
         limits={resource.RLIMIT_FSIZE: 64 << 20},
         args=["-package", "pkg", "{T}/src/shot.rib"],
         stderr=not_a_file("{T}/src/folder.oso", "pkg/folder.oso")
         + not_a_file("{T}/src/pipe.oso", "pkg/pipe.oso")
         + not_a_file("/dev/zero", "pkg/zero")
         + not_a_file("{T}/src/fifo", "pkg/fifo")
         + "".join(not_in_package(path) for path in
                   ["{T}/src/folder.oso", "{T}/src/pipe.oso", "/dev/zero", "{T}/src/fifo"]),
         status=1, check=regular_ones_packaged),
]

if __name__ == "__main__":
    sys.exit(main(CASES, sys.argv))
