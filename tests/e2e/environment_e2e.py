#!/usr/bin/env python3
"""End-to-end cases of a hostile environment: signals while exceptions unwind
and while children run, children's output, files that are no files, names
with line breaks, very long streams and repeated table strings.

    python3 environment_e2e.py TRACWELL [--case NAME]...

The stand-in vornex is found through ZP_STANDIN_PATH, a PATH-style list of
the folders that hold the stand-ins.
"""

import functools
import gzip
import os
import signal
import sys
import time
import zlib

from harness import TIFF_LE, Case, Fifo, Generated, Pattern, main, signal_storm
from packaging_e2e import tiff
from tracwell_e2e import (HEADER, REPORT_BODY, STORM_ENV, binary_string_definition, evaluate,
                          lines, output, texture)

STANDIN_PATH = os.environ.get("ZP_STANDIN_PATH", "")
SYSTEM_PATH = os.environ.get("PATH", "/usr/bin:/bin")


def with_programs(**extra):
    """The case's own bin/ (a texmeld that the case writes) before the
    stand-ins and the system."""
    return dict({"PATH": "{T}/bin:" + STANDIN_PATH + ":" + SYSTEM_PATH}, **extra)


def alive(pid):
    """Running: an ended process may stay a zombie, nobody need reap it."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def wait_for(path, deadline=30):
    end = time.time() + deadline
    while time.time() < end:
        if os.path.exists(path) and open(path).read().endswith("\n"):
            return int(open(path).read())
        time.sleep(0.01)
    return 0


CASES = []

# Hangups and thread dumps rain on a stream of requests that are all
# abandoned (each throws inside the request loop): every report must let
# the run go on, whatever the unwinder was doing when it came. Fifty runs.
ABANDONED = 'SetAttribute 1 "x"\n' * 10000
STORM_NAMES = ["{T}/tex/n%04d.tif" % i for i in range(200)]
CASES += [
    Case("hangup_storm_while_requests_are_abandoned_leaves_the_listing_whole", runs=50,
         thread_sanitizer=False,
         env=STORM_ENV, stdin=ABANDONED + "".join(texture(n) for n in STORM_NAMES) + ABANDONED,
         interact=signal_storm([signal.SIGHUP, signal.SIGUSR1]),
         stdout=lines("!", sorted(STORM_NAMES)),
         stderr=Pattern("(?:" + HEADER % (1, "Hangup") + REPORT_BODY + ")*")),
]

# Packaging with -scale while texmeld runs. The case's texmeld writes half
# its destination, notes its pid and waits; the run is interrupted then.
SLOW_TEXMELD = ('#!/bin/sh\necho $$ > "{T}/texmeld.pid.tmp"; printf half > "$5"\n'
                'mv "{T}/texmeld.pid.tmp" "{T}/texmeld.pid"\nexec sleep 30\n')
SCALE_SHOT = {"src/shot.rib": texture("{T}/src/a.tif") + texture("{T}/src/b.tif"),
              "src/a.tif": tiff(8, 8), "src/b.tif": tiff(8, 8)}


def interrupt_texmeld(sig, group):
    """Once texmeld runs, sends sig to tracwell alone, or to its process
    group as a terminal does."""
    def interact(process, tmp):
        wait_for(os.path.join(tmp, "texmeld.pid"))
        if group:
            os.killpg(process.pid, sig)
        else:
            pidfd = os.pidfd_open(process.pid)
            signal.pidfd_send_signal(pidfd, sig)
            os.close(pidfd)
    return interact


def interrupted_cleanly(tmp):
    """texmeld is stopped, its half-written texture removed, and what was
    packaged before stays."""
    failures = []
    pid = wait_for(os.path.join(tmp, "texmeld.pid"), 1)
    for _ in range(100):
        if not alive(pid):
            break
        time.sleep(0.01)
    if alive(pid):
        failures.append("texmeld (pid %d) still runs" % pid)
    left = sorted(os.listdir(os.path.join(tmp, "pkg")))
    if left != ["shot.rib"]:
        failures.append("the package holds %s, expected only the rewritten shot.rib" % left)
    return failures


for sig, group in [(signal.SIGINT, False), (signal.SIGINT, True), (signal.SIGTERM, False),
                   (signal.SIGQUIT, False)]:
    CASES.append(Case(
        "%s%s_during_scale_stops_texmeld_and_removes_its_file"
        % (signal.Signals(sig).name.lower(), "_to_the_group" if group else ""),
        files=dict(SCALE_SHOT, **{"bin/texmeld": SLOW_TEXMELD}),
        preexec=os.setpgrp if group else None, env=with_programs(),
        args=["-scale", "0.5", "-package", "pkg", "{T}/src/shot.rib"],
        interact=interrupt_texmeld(sig, group), stderr="tracwell: interrupted\n",
        status=128 + sig, check=interrupted_cleanly))

# A texmeld that SIGINT ends (Ctrl-C reached it alone) interrupts the run.
SELF_INTERRUPTED = '#!/bin/sh\nprintf half > "$5"\nkill -INT $$\n'
# A chatty texmeld: its standard output must not mix with the notes.
CHATTY = '#!/bin/sh\necho "texmeld chatter"\ncp "$4" "$5"\n'
CASES += [
    Case("texmeld_ended_by_sigint_interrupts_the_run",
         files=dict(SCALE_SHOT, **{"bin/texmeld": SELF_INTERRUPTED}), env=with_programs(),
         args=["-scale", "0.5", "-package", "pkg", "{T}/src/shot.rib"],
         stderr="tracwell: interrupted\n", status=130,
         check=lambda tmp: [] if sorted(os.listdir(os.path.join(tmp, "pkg"))) == ["shot.rib"]
         else ["the package holds %s" % os.listdir(os.path.join(tmp, "pkg"))]),
    Case("children_write_nothing_to_standard_output",
         files=dict(SCALE_SHOT, **{"bin/texmeld": CHATTY}), env=with_programs(),
         args=["-verbose", "-scale", "0.5", "-package", "pkg", "{T}/src/shot.rib"],
         stdout=Pattern(r"(?:(?!chatter).)*"),
         stderr="texmeld chatter\ntexmeld chatter\n"),
]


def runnable_texmeld(case):
    """The case's bin/texmeld made executable before the binary starts."""
    original = case.preexec

    def preexec():
        os.chmod("bin/texmeld", 0o755)
        if original:
            original()
    case.preexec = preexec
    return case


for case in CASES:
    if "bin/texmeld" in case.files:
        runnable_texmeld(case)

# A FIFO named as an input of a package could be read once only; it is
# refused at once, without waiting for a writer, and the run fails. Nested
# streams that are no files are reported as before, in a package run too.
CASES += [
    Case("fifo_input_word_of_a_package_is_refused", env=with_programs(),
         files={"in.rib": Fifo(), "shot.rib": texture("{T}/a.tif"), "a.tif": TIFF_LE},
         args=["-package", "pkg", "in.rib", "shot.rib"],
         stderr="tracwell: skipping input file 'in.rib': not a regular file\n", status=1,
         check=lambda tmp: [] if sorted(os.listdir(os.path.join(tmp, "pkg")))
         == ["a.tif", "shot.rib"] else ["pkg holds %s" % os.listdir(os.path.join(tmp, "pkg"))]),
    Case("nested_fifo_and_zero_in_a_package_are_reported", env=with_programs(),
         files={"pipe.rib": Fifo(),
                "shot.rib": evaluate("vrxstream", "{T}/pipe.rib")
                + evaluate("vrxstream", "/dev/zero")},
         args=["-package", "pkg", "shot.rib"],
         stderr="tracwell: skipping nested stream '{T}/pipe.rib': not a regular file\n"
                "tracwell: skipping nested stream '/dev/zero': not a regular file\n"
                "\n#Unresolved resource: '/dev/zero' \n\n"
                "\n#Unresolved resource: '{T}/pipe.rib' \n\n"),
]

# A stream whose own name forges a line of the stream order.
FORGED = "d/a\no FORGED.rib"
CASES += [
    Case("order_leaves_out_stream_names_with_line_breaks", args=["-order", "d"],
         files={FORGED: output("{T}/out.exr"), "d/b.rib": output("{T}/b.exr")},
         stdout="d/b.rib\n",
         stderr="tracwell: leaving out names with a line break in 'd/a\\no FORGED.rib'\n"),
]


# Line numbers past 2^31: two gigabytes of line feeds, a few of gzip.
@functools.lru_cache(maxsize=None)
def many_lines():
    packer = zlib.compressobj(9, zlib.DEFLATED, 31)
    block = b"\n" * (1 << 24)
    parts = [packer.compress(block) for _ in range(128)]
    return b"".join(parts) + packer.compress(b"\n\nBogus\n") + packer.flush()


CASES += [
    Case("line_numbers_past_two_to_the_31_do_not_wrap", plain_build_only=True,
         files={"long.rib": Generated(many_lines)}, args=["long.rib"],
         stderr="tracwell: [long.rib:2147483651]: Invalid id: Bogus\n"),
]

# One 4,000-byte table string named by two million Evaluate requests: each
# kind of name is looked up once, not at every reference.
EVALUATE = b"\314\002\"Evaluate\""
LONG_NAME = b"/" + b"x" * 3990 + b".lua"


def evaluations(kind):
    request = b'\246\002 "type" "string" 1 "' + kind + b'" "filename" "string" 1 \317\000\n'
    return Generated(lambda: gzip.compress(
        binary_string_definition(0, LONG_NAME) + EVALUATE + request * 2000000, 1))


CASES += [
    Case("a_table_string_named_as_a_procedural_is_looked_up_once",
         files={"many.rib": evaluations(b"lua")}, args=["many.rib"],
         stdout="! " + LONG_NAME.decode() + "\n"),
    Case("a_table_string_named_as_a_nested_stream_is_looked_up_once",
         files={"many.rib": evaluations(b"vrxstream")}, args=["many.rib"],
         stdout="! " + LONG_NAME.decode() + "\n"),
]

if __name__ == "__main__":
    sys.exit(main(CASES, sys.argv))
