#!/usr/bin/env python3
"""Whole tracwell runs on the reference streams, beside the bare scanner loop and
gzip -dc on the same files, in the same run.

  bench/tracwell_runs.py [--build build/normal] [--mb 256] [--profile NAME]...

Streams are generated once into --data (default build/bench-data) with
../shared/bench/gen_stream.py --seed 1, and compressed with gzip -6. For each
stream the scanner benchmark (bench/rib_scan_bench: gzip -dc and the bare
NextToken loop, plain and gzip) runs first, then tracwell on both forms with its
listing discarded. Each run is repeated --repeat times; the best wall time is
reported, with the peak resident memory. MB/s counts uncompressed megabytes
(10^6 bytes); "x scan" is tracwell's time over the bare loop's on the same form.
"""

import argparse
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GENERATOR = os.path.join(ROOT, "..", "shared", "bench", "gen_stream.py")


def ensure_streams(generator, data, profile, mb):
    os.makedirs(data, exist_ok=True)
    plain = os.path.join(data, "%s-%dmb.vrx" % (profile, mb))
    packed = plain + ".gz"
    if not os.path.exists(plain):
        subprocess.run([sys.executable, generator, "--mb", str(mb), "--profile", profile,
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


def scanner_rates(scan_bench, plain, repeat):
    """MB/s of gzip -dc, of the bare loop on the plain and on the gzip form."""
    result = subprocess.run([scan_bench, "-n", str(repeat), plain], check=True,
                            capture_output=True, text=True)
    rates = [float(r) for r in re.findall(r"([0-9.]+) MB/s", result.stdout)]
    if len(rates) != 3:
        sys.exit("unexpected output of %s:\n%s" % (scan_bench, result.stdout))
    return rates


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "normal"))
    parser.add_argument("--mb", type=int, default=256)
    parser.add_argument("--profile", action="append",
                        help="geometry, mixed or strings (default: all three)")
    parser.add_argument("--data", default=os.path.join(ROOT, "build", "bench-data"))
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--generator", default=GENERATOR, help="gen_stream.py")
    args = parser.parse_args()
    tracwell = os.path.join(args.build, "depscan", "tracwell")
    scan_bench = os.path.join(args.build, "bench", "rib_scan_bench")

    print("%-9s %6s %9s | %9s %9s | %9s %7s %8s | %9s %7s %8s" % (
        "profile", "MB", "gzip -dc", "scan", "scan gz", "tracwell", "x scan", "peak MB",
        "trac. gz", "x scan", "peak MB"))
    for profile in args.profile or ["geometry", "mixed", "strings"]:
        plain, packed = ensure_streams(args.generator, args.data, profile, args.mb)
        megabytes = os.path.getsize(plain) / 1e6
        gunzip, scan, scan_gz = scanner_rates(scan_bench, plain, args.repeat)
        row = "%-9s %6.0f %9.1f | %9.1f %9.1f |" % (profile, megabytes, gunzip, scan, scan_gz)
        for path, scan_rate in ((plain, scan), (packed, scan_gz)):
            seconds, peak, status = best_of([tracwell, path], args.repeat)
            rate = megabytes / seconds
            row += " %9.1f %7.2f %8.1f |" % (rate, scan_rate / rate, peak)
            if status != 0:
                row += " (exit %d)" % status
        print(row.rstrip(" |"))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
