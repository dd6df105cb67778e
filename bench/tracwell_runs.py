#!/usr/bin/env python3
"""Whole tracwell runs on the reference streams, beside the bare scanner loop and
gzip -dc on the same files, in the same run.

  bench/tracwell_runs.py --tracwell build/normal/depscan/tracwell \
      --scanner "build/normal/bench/<token loop> {file}" [--mb 256] [--profile ...]

Streams are generated once into --data (default build/bench-data) with
../shared/bench/gen_stream.py --seed 1, and compressed with gzip -6. Each command
runs --repeat times; the best wall time is reported, with the peak resident
memory of that run. MB/s counts uncompressed megabytes (10^6 bytes).
"""

import argparse
import os
import shlex
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GENERATOR = os.path.join(ROOT, "..", "shared", "bench", "gen_stream.py")


def ensure_streams(data, profile, mb):
    os.makedirs(data, exist_ok=True)
    plain = os.path.join(data, "%s-%dmb.vrx" % (profile, mb))
    packed = plain + ".gz"
    if not os.path.exists(plain):
        subprocess.run([sys.executable, GENERATOR, "--mb", str(mb), "--profile", profile,
                        "--seed", "1", "-o", plain], check=True)
    if not os.path.exists(packed):
        with open(packed, "wb") as out:
            subprocess.run(["gzip", "-6", "-c", plain], stdout=out, check=True)
    return plain, packed


def high_water_mark(pid):
    """VmHWM of a running process in MB, or 0 once it has ended."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024.0
    except OSError:
        pass
    return 0.0


def timed_run(argv):
    """Runs argv with its output discarded; returns (seconds, peak RSS in MB, status).

    The peak is sampled from /proc every few milliseconds: the rusage of a child
    started from this process would count this interpreter's own memory."""
    peak = 0.0
    start = time.perf_counter()
    with open(os.devnull, "wb") as sink:
        process = subprocess.Popen(argv, stdout=sink, stderr=subprocess.DEVNULL)
        while process.poll() is None:
            peak = max(peak, high_water_mark(process.pid))
            time.sleep(0.005)
    seconds = time.perf_counter() - start
    return seconds, peak, process.returncode


def best_of(argv, repeat):
    runs = [timed_run(argv) for _ in range(repeat)]
    return min(runs, key=lambda r: r[0])


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tracwell", required=True)
    parser.add_argument("--scanner", required=True,
                        help="command of the bare NextToken loop; {file} is the stream")
    parser.add_argument("--mb", type=int, default=256)
    parser.add_argument("--profile", action="append",
                        help="geometry, mixed or strings (default: all three)")
    parser.add_argument("--data", default=os.path.join(ROOT, "build", "bench-data"))
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()

    profiles = args.profile or ["geometry", "mixed", "strings"]
    print("%-9s %-5s %-10s %8s %8s %8s %7s" % ("profile", "form", "program", "seconds", "MB/s",
                                               "peak MB", "ratio"))
    for profile in profiles:
        plain, packed = ensure_streams(args.data, profile, args.mb)
        megabytes = os.path.getsize(plain) / 1e6
        for form, path in (("plain", plain), ("gzip", packed)):
            commands = [("scanner", shlex.split(args.scanner.replace("{file}", path))),
                        ("tracwell", [args.tracwell, path])]
            if form == "gzip":
                commands.insert(0, ("gzip -dc", ["gzip", "-dc", path]))
            baseline = None
            for name, argv in commands:
                seconds, peak, status = best_of(argv, args.repeat)
                if name == "scanner":
                    baseline = seconds
                ratio = "%.2f" % (seconds / baseline) if baseline and name == "tracwell" else ""
                flag = "" if status == 0 else "  (exit %d)" % status
                print("%-9s %-5s %-10s %8.2f %8.1f %8.1f %7s%s" % (
                    profile, form, name, seconds, megabytes / seconds, peak, ratio, flag))
            sys.stdout.flush()


if __name__ == "__main__":
    main()
