"""End-to-end harness for tracwell.

Each case gets a fresh temporary directory, writes its fixture tree there, runs
the real binary with the case's arguments, environment and standard input, in
that directory, and compares the whole standard output, the whole standard
error and the exit status with the expected values. "{T}" in arguments, file
contents, environment values and expectations stands for the directory. A
failing case keeps its directory and names it.
"""

import array
import difflib
import fcntl
import functools
import gzip
import itertools
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time

# Fixture values other than text (str) and raw bytes.


class Gzip:
    """A file holding the gzip compression of a text (or of raw bytes)."""

    def __init__(self, text):
        self.text = text

    def compressed(self, tmp):
        data = substitute(self.text, tmp)
        return gzip.compress(data.encode() if isinstance(data, str) else data)


class Directory:
    """An empty directory (files inside it are separate entries)."""


class Generated:
    """A file whose contents a function makes when the case runs (a large
    fixture costs nothing to the other cases)."""

    def __init__(self, make):
        self.make = make


class Symlink:
    def __init__(self, target):
        self.target = target


class Fifo:
    """A named pipe."""


class Executable:
    """A file the case can run (a stand-in program of its own)."""

    def __init__(self, text):
        self.text = text


class Pattern:
    """An expectation that the whole text must match as a regular expression."""

    def __init__(self, regex):
        self.regex = regex


# Four bytes of TIFF magic and the offset of the first directory; the scanner
# looks at the magic only.
TIFF_LE = b"II*\x00\x08\x00\x00\x00"
TIFF_BE = b"MM\x00*\x00\x00\x00\x08"
BIGTIFF_LE = b"II+\x00\x08\x00\x00\x00"
SHADER = "OpenShadingLanguage 1.00\nshader plastic\n"
PROCEDURAL = b"\x7fELF not really a library"


class Case:
    def __init__(self, name, files=None, args=(), stdin=b"", env=None, stdout="", stderr="",
                 status=0, interact=None, check=None, stdout_to=None, program=None,
                 start_as=None, memory_mb=None, limits=None, runs=1, plain_build_only=False,
                 preexec=None, cwd="", thread_sanitizer=True):
        self.name = name
        self.files = files or {}
        self.args = list(args)
        self.stdin = stdin
        self.env = env or {}
        self.stdout = stdout
        self.stderr = stderr
        self.status = status
        # interact(process, tempdir): drives a running process instead of
        # feeding stdin at once; returns nothing.
        self.interact = interact
        # check(tempdir) -> list of failure texts, for effects on the tree.
        self.check = check
        # A file that receives standard output instead of the harness.
        self.stdout_to = stdout_to
        # A path in the directory where the binary is linked, as an
        # installed copy, and the path relative to the directory by which it
        # is started (the same by default).
        self.program = program
        self.start_as = start_as or program
        # Caps the memory the program may take, in MB.
        self.memory_mb = memory_mb
        # Other resource limits of the run ({resource.RLIMIT_NOFILE: 256}).
        self.limits = limits or {}
        # How many times the case runs; every run must pass.
        self.runs = runs
        # Skipped for a sanitized binary: when memory runs out in operator
        # new, the sanitizer ends the run with its own report.
        self.plain_build_only = plain_build_only
        # False skips the case for a thread-sanitized binary, whose runtime
        # holds signals back to points of its own: storms of them, and a
        # fault left to the system, do not come as the program makes them.
        self.thread_sanitizer = thread_sanitizer
        # preexec(): run in the child before the binary starts (a signal
        # disposition or a umask that the program inherits).
        self.preexec = preexec
        # The folder below the case's directory that the binary runs in.
        self.cwd = cwd


def substitute(value, tmp):
    if isinstance(value, str):
        return value.replace("{T}", tmp)
    if isinstance(value, bytes):
        return value.replace(b"{T}", tmp.encode())
    return value


def write_tree(files, tmp):
    for relative, content in files.items():
        path = os.path.join(tmp, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(content, Directory):
            os.makedirs(path, exist_ok=True)
        elif isinstance(content, Symlink):
            os.symlink(substitute(content.target, tmp), path)
        elif isinstance(content, Fifo):
            os.mkfifo(path)
        elif isinstance(content, Executable):
            with open(path, "w") as f:
                f.write(substitute(content.text, tmp))
            os.chmod(path, 0o755)
        elif isinstance(content, Generated):
            with open(path, "wb") as f:
                f.write(content.make())
        elif isinstance(content, Gzip):
            with open(path, "wb") as f:
                f.write(content.compressed(tmp))
        else:
            data = substitute(content, tmp)
            with open(path, "wb") as f:
                f.write(data.encode() if isinstance(data, str) else data)


@functools.lru_cache(maxsize=None)
def is_sanitized(binary):
    with open(binary, "rb") as f:
        return b"__asan_init" in f.read()


@functools.lru_cache(maxsize=None)
def is_thread_sanitized(binary):
    with open(binary, "rb") as f:
        return b"__tsan_init" in f.read()


def child_setup(case, binary, env):
    """The child's set-up: no core files, the case's limits, and for
    case.memory_mb an address-space limit, or for a sanitized binary (which
    reserves vast address space of its own) a cap on each allocation,
    failures returning null as they would."""
    limits = dict(case.limits)
    limits[resource.RLIMIT_CORE] = 0
    if case.memory_mb is not None and is_sanitized(binary):
        env["ASAN_OPTIONS"] = (env.get("ASAN_OPTIONS", "") + ":allocator_may_return_null=1"
                               ":max_allocation_size_mb=%d" % case.memory_mb)
    elif case.memory_mb is not None:
        limits[resource.RLIMIT_AS] = case.memory_mb << 20

    def setup():
        for which, value in limits.items():
            resource.setrlimit(which, (value, value))
    return setup


def install_program(case, binary, tmp):
    """Links (or copies) the binary to case.program; the name to start."""
    if not case.program:
        return binary
    path = os.path.join(tmp, case.program)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    try:
        os.link(binary, path)
    except OSError:
        shutil.copy2(binary, path)
    return case.start_as


def stdin_bytes(stdin, tmp):
    if isinstance(stdin, Gzip):
        return stdin.compressed(tmp)
    data = substitute(stdin, tmp)
    return data.encode() if isinstance(data, str) else data


def base_environment(tmp):
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": tmp, "LC_ALL": "C"}
    for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"):
        if name in os.environ:
            env[name] = os.environ[name]
    return env


def expected_text(expectation, tmp):
    if callable(expectation):
        expectation = expectation(tmp)
    if isinstance(expectation, Pattern):
        return Pattern(substitute(expectation.regex, re.escape(tmp)))
    return substitute(expectation, tmp)


def compare(label, expected, actual):
    if isinstance(expected, Pattern):
        if re.fullmatch(expected.regex, actual, re.DOTALL):
            return []
        return ["%s does not match /%s/:\n%s" % (label, expected.regex, actual)]
    if expected == actual:
        return []
    diff = difflib.unified_diff(expected.splitlines(True), actual.splitlines(True),
                                "expected " + label, "actual " + label)
    return ["".join(diff)]


def run_case(case, binary):
    if case.plain_build_only and (is_sanitized(binary) or is_thread_sanitized(binary)):
        print("skip %s (not for a sanitized binary)" % case.name)
        return True
    # Its shadow memory needs far more address space than a memory cap.
    if is_thread_sanitized(binary) and (case.memory_mb is not None or not case.thread_sanitizer):
        print("skip %s (not for a thread-sanitized binary)" % case.name)
        return True
    tmp = os.path.realpath(tempfile.mkdtemp(prefix="tracwell-e2e-%s-" % case.name))
    write_tree(case.files, tmp)
    args = command(case, binary, tmp)
    for run in range(case.runs):
        failures = run_once(case, binary, tmp, args)
        if failures:
            print("FAIL %s%s (kept %s)\n  %s" % (case.name, " in run %d" % (run + 1) if case.runs > 1
                                                 else "", tmp, " ".join(args)))
            for failure in failures:
                print(failure)
            return False
    shutil.rmtree(tmp)
    print("ok   %s" % case.name)
    return True


def command(case, binary, tmp):
    return [install_program(case, binary, tmp)] + [substitute(a, tmp) for a in case.args]


def run_once(case, binary, tmp, args):
    """Runs the binary once; returns the list of failures."""
    env = base_environment(tmp)
    env.update({k: substitute(v, tmp) for k, v in case.env.items()})
    setup = child_setup(case, binary, env)
    sink = open(case.stdout_to, "wb") if case.stdout_to else subprocess.PIPE
    process = subprocess.Popen(args, cwd=os.path.join(tmp, case.cwd), env=env,
                               stdin=subprocess.PIPE, stdout=sink, stderr=subprocess.PIPE,
                               preexec_fn=lambda: (setup(), case.preexec and case.preexec()))
    if case.stdout_to:
        sink.close()
    # A sanitized binary runs several times slower, and more so on a loaded
    # machine.
    limit = 300 if is_thread_sanitized(binary) else 180 if is_sanitized(binary) else 60
    try:
        if case.interact:
            case.interact(process, tmp)
        out, err = process.communicate(stdin_bytes(case.stdin, tmp), timeout=limit)
    except subprocess.TimeoutExpired:
        process.kill()
        out, err = process.communicate()
        err += b"\n[harness: killed after %d s]" % limit
    failures = []
    failures += compare("stdout", expected_text(case.stdout, tmp),
                        (out or b"").decode("utf-8", "replace"))
    failures += compare("stderr", expected_text(case.stderr, tmp),
                        err.decode("utf-8", "replace"))
    if process.returncode != case.status:
        failures.append("exit status %d, expected %d" % (process.returncode, case.status))
    if case.check:
        failures += case.check(tmp)
    return failures


# Helpers for cases that signal the program while it waits on standard input.


def wait_until_reading(process):
    """Waits until the process runs its binary and sleeps (blocked on stdin)."""
    binary = process.args[0]
    deadline = time.time() + 30
    while time.time() < deadline:
        try:
            exe = os.readlink("/proc/%d/exe" % process.pid)
            with open("/proc/%d/stat" % process.pid) as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
        except OSError:
            exe, state = "", ""
        if os.path.realpath(exe) == os.path.realpath(binary) and state == "S":
            return
        time.sleep(0.01)


def descriptor_of(process, path):
    """The process's descriptor open on path, or None."""
    folder = "/proc/%d/fd" % process.pid
    try:
        for fd in os.listdir(folder):
            try:
                if os.readlink(os.path.join(folder, fd)) == path:
                    return int(fd)
            except OSError:
                pass
    except OSError:
        pass
    return None


def wait_until_read_through(process, pipe, source):
    """Waits until every byte written to `pipe` (our end) has been taken and
    a thread of the process waits in read() on `source` (its descriptor, or
    the path it opened) for more: what came before has all been handled."""
    deadline = time.time() + 30
    waiting = array.array("i", [0])
    while time.time() < deadline:
        fcntl.ioctl(pipe, termios.FIONREAD, waiting)
        fd = source if isinstance(source, int) else descriptor_of(process, source)
        if waiting[0] == 0 and fd is not None:
            try:
                for task in os.listdir("/proc/%d/task" % process.pid):
                    with open("/proc/%d/task/%s/syscall" % (process.pid, task)) as f:
                        fields = f.read().split()
                    if len(fields) > 1 and fields[0] == "0" and int(fields[1], 16) == fd:
                        return
            except OSError:
                pass
        time.sleep(0.005)


def send_when_reading(sig):
    def interact(process, tmp):
        wait_until_reading(process)
        process.send_signal(sig)
    return interact


def signal_handled(process, sig):
    """Waits until sig is no longer pending and the process sleeps again."""
    deadline = time.time() + 30
    bit = 1 << (sig - 1)
    while time.time() < deadline:
        try:
            with open("/proc/%d/status" % process.pid) as f:
                fields = dict(line.split(":", 1) for line in f if ":" in line)
        except OSError:
            return
        pending = int(fields["SigPnd"], 16) | int(fields["ShdPnd"], 16)
        if not pending & bit and fields["State"].split()[0] == "S":
            return
        time.sleep(0.01)


def send_between(sig, first):
    """Writes the first part of standard input, signals the process while it
    waits for more, and leaves the rest (the case's stdin) to follow."""
    def interact(process, tmp):
        process.stdin.write(stdin_bytes(first, tmp))
        process.stdin.flush()
        wait_until_reading(process)
        process.send_signal(sig)
        signal_handled(process, sig)
    return interact


def signal_storm(signals, interval=0.0005):
    """Once the process waits on standard input, sends it the signals in
    turn, again and again, until it has ended. Signals go through a process
    descriptor, so none can reach another process that takes the number."""
    def interact(process, tmp):
        wait_until_reading(process)
        pidfd = os.pidfd_open(process.pid)

        def storm():
            try:
                for n in itertools.count():
                    signal.pidfd_send_signal(pidfd, signals[n % len(signals)])
                    time.sleep(interval)
            except ProcessLookupError:
                pass  # it has ended
            finally:
                os.close(pidfd)
        threading.Thread(target=storm, daemon=True).start()
    return interact


def main(cases, argv):
    if len(argv) >= 2 and argv[1] == "--list":
        print("\n".join(c.name for c in cases))
        return 0
    if len(argv) < 2:
        print("usage: %s TRACWELL [--case NAME]... | --list" % argv[0])
        return 2
    binary = os.path.realpath(argv[1])
    wanted = [argv[i + 1] for i in range(2, len(argv) - 1) if argv[i] == "--case"]
    selected = [c for c in cases if not wanted or c.name in wanted]
    if wanted and len(selected) != len(set(wanted)):
        print("unknown case among %s" % wanted)
        return 2
    results = [run_case(c, binary) for c in selected]
    return 0 if all(results) else 1
