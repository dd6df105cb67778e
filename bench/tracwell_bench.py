#!/usr/bin/env python3
"""tracwell's speed and memory targets, each beside its yardstick, in one run.

  bench/tracwell_bench.py [--build build/normal] [--data build/bench-data]
                          [--mb 64,256] [--repeat 5]
                          [--rows package,listing,gzip,rewrite,udim,folder,small,cores,scale]
                          [--tracwell PROGRAM]

Rows (the yardstick runs right before or after tracwell in every round, the
order alternating, so both see the same load):
  package   tracwell -package of 400 textures of 1 MiB beside cp of the same
            files into a folder on the same file system
  listing   tracwell on the geometry, mixed and strings streams beside the
            reference scanner (bench/reference_scanner.l, a plain flex lexer
            of the same token classes), with the peak memory of tracwell's run
  gzip      tracwell on the gzip form of the geometry and strings streams
            beside gzip -dc
  rewrite   tracwell -package of 100 streams of 1 MiB, each naming a texture
            (so each is rewritten), through a pass-through vornex (the
            build's pass_through_vornex, which writes the stream as it is, so
            that the row measures tracwell's own rewriting), beside their
            listing plus cp -r of their folder
  udim      tracwell on 20,000 distinct UDIM names in one existing folder
            (no yardstick: the target is an absolute time)
  folder    10,000 streams naming 20 of 20,000 textures each, all in one
            folder, beside cat of the streams
  small     100,000 small streams as a directory beside cat of them, with
            tracwell's peak memory
  cores     1,000 streams of 2 MB (2 GB) as a directory beside tracwell bound
            to one processor (which scans on one thread)
  scale     tracwell -scale 0.5 -package of 1,000 small TIFF textures (the
            texmeld stand-in shrinks each) beside cp of the same files

Inputs are made once into --data: the streams by bench/gen_stream.py (--seed 1,
gzip -6 for the gzip form), the textures, folders and shots by this script.
The reference scanner and run_measured are built with the project (target
reference_scanner, run_measured). Every command runs under bench/run_measured,
which reports its wall time and its own peak resident size. Ratios are of the
best times of the rounds ("best") and the median of the ratios taken round by
round ("median").
"""

import argparse
import os
import shutil
import statistics
import struct
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROFILES = ("geometry", "mixed", "strings")
LISTING_TARGETS = {"geometry": 1.0, "mixed": 1.4, "strings": 2.5}
PACKAGE_TEXTURES = 400
UDIM_NAMES = 20000
MAX_BYTES_PER_NAME = 200
MAX_GEOMETRY_PEAK_MB = 16
FOLDER_STREAMS = 10000
FOLDER_TEXTURES = 20000
FOLDER_NAMES_PER_STREAM = 20
SMALL_STREAMS = 100000
MAX_SMALL_PEAK_MB = 200
CORE_STREAMS = 1000
CORE_STREAM_MB = 2
CORE_DISTINCT = 50
SCALE_TEXTURES = 1000
SCALE_SIDE = 32


def log(text):
    print(text, file=sys.stderr, flush=True)


# ---- inputs ----

def ensure_stream(args, profile, mb):
    plain = os.path.join(args.data, "%s-%dmb.vrx" % (profile, mb))
    if not os.path.exists(plain):
        log("generating %s" % plain)
        subprocess.run([sys.executable, args.generator, "--mb", str(mb), "--profile", profile,
                        "--seed", "1", "-o", plain + ".part"], check=True)
        os.rename(plain + ".part", plain)
    return plain


def ensure_gzip(plain):
    packed = plain + ".gz"
    if not os.path.exists(packed):
        log("compressing %s" % plain)
        with open(packed + ".part", "wb") as out:
            subprocess.run(["gzip", "-6", "-c", plain], stdout=out, check=True)
        os.rename(packed + ".part", packed)
    return packed


TIFF_HEADER = b"II*\x00\x08\x00\x00\x00"


def ensure_texture_shot(args, name, paths_in, contents):
    """Textures named by paths_in(textures folder), written as contents(i), and a
    stream in args.data/name that names each of them."""
    folder = os.path.join(args.data, name)
    stream = os.path.join(folder, "shot.vrx")
    textures = os.path.join(folder, "tex")
    paths = paths_in(textures)
    if not os.path.exists(stream):
        os.makedirs(textures, exist_ok=True)
        for i, path in enumerate(paths):
            with open(path, "wb") as f:
                f.write(contents(i))
        with open(stream + ".part", "w") as f:
            for i, path in enumerate(paths):
                f.write('SetAttribute "tex%d" "filename" "string" 1 "%s"\n' % (i, path))
        os.rename(stream + ".part", stream)
    return folder, stream, paths


def ensure_package_shot(args):
    """400 TIFF-headed files of 1 MiB and a stream that names each of them."""
    body = os.urandom(1 << 20)
    return ensure_texture_shot(
        args, "package",
        lambda textures: [os.path.join(textures, "t%03d.tif" % i) for i in range(PACKAGE_TEXTURES)],
        lambda i: TIFF_HEADER + body[len(TIFF_HEADER):])


def small_tiff(side, shade):
    """An uncompressed 8-bit grey TIFF of side x side pixels, little-endian."""
    pixels = bytes((shade + x + y) & 0xFF for y in range(side) for x in range(side))
    tags = [(256, 3, side), (257, 3, side), (258, 3, 8), (259, 3, 1), (262, 3, 1),
            (273, 4, 0), (277, 3, 1), (278, 3, side), (279, 4, len(pixels))]
    ifd_size = 2 + 12 * len(tags) + 4
    data_at = 8 + ifd_size
    ifd = struct.pack("<H", len(tags))
    for tag, kind, value in tags:
        if tag == 273:
            value = data_at
        ifd += struct.pack("<HHI", tag, kind, 1)
        ifd += struct.pack("<HH", value, 0) if kind == 3 else struct.pack("<I", value)
    return TIFF_HEADER + ifd + struct.pack("<I", 0) + pixels


def ensure_scale_shot(args):
    """1,000 small TIFF textures and a stream that names each of them."""
    return ensure_texture_shot(
        args, "scale",
        lambda textures: [os.path.join(textures, "s%04d.tif" % i) for i in range(SCALE_TEXTURES)],
        lambda i: small_tiff(SCALE_SIDE, i))


REWRITE_STREAMS = 100


def ensure_rewrite_shot(args):
    """100 streams of 1 MiB of geometry and strings, each naming one texture."""
    folder = os.path.join(args.data, "rewrite")
    shot = os.path.join(folder, "shot")
    streams = [os.path.join(shot, "s%03d.vrx" % i) for i in range(REWRITE_STREAMS)]
    if not os.path.exists(streams[-1]):
        os.makedirs(os.path.join(shot, "tex"), exist_ok=True)
        with open(os.path.join(shot, "tex", "t.tif"), "wb") as f:
            f.write(TIFF_HEADER + bytes(1024))
        line = ('Create "mesh%d" "polygon" SetAttribute "mesh%d" "P" "float[3]" 4 '
                '[0.125 -1.5 2.25 3e-2 4.5 -5.75 6 7.125 -8 9.5 10.25 -11.5] '
                '"label" "string" 1 "part %d" # comment %d\n')
        for index, path in enumerate(streams):
            with open(path + ".part", "w") as f:
                f.write('SetAttribute "tex" "filename" "string" 1 "tex/t.tif"\n')
                written, i = 0, 0
                while written < (1 << 20):
                    text = line % (i, i, i, index)
                    f.write(text)
                    written += len(text)
                    i += 1
            os.rename(path + ".part", path)
    # The build's pass-through program under the name "vornex".
    passing = os.path.join(folder, "bin")
    os.makedirs(passing, exist_ok=True)
    vornex = os.path.join(passing, "vornex")
    if os.path.lexists(vornex):
        os.remove(vornex)
    os.symlink(os.path.join(args.build, "bench", "pass_through_vornex"), vornex)
    return folder, shot, streams, passing


def rewrite_row(args, measured):
    folder, shot, streams, passing = ensure_rewrite_shot(args)
    measured = Measured(measured.runner, dict(measured.env, PATH=passing + ":" +
                                              measured.env["PATH"]))
    package_to = os.path.join(folder, "out-package")
    copy_to = os.path.join(folder, "out-cp")

    def prepare():
        shutil.rmtree(package_to, ignore_errors=True)
        shutil.rmtree(copy_to, ignore_errors=True)
        os.sync()

    def package():
        result = measured.run([args.tracwell, "-package", package_to] + streams, cwd=shot)
        if len([n for n in os.listdir(package_to) if n.endswith(".vrx")]) != len(streams):
            sys.exit("the package in %s is not complete" % package_to)
        return result

    def listing_and_copy():
        script = '"$0" "$@" > /dev/null && cp -r %s %s' % (shot, copy_to)
        return measured.run(["sh", "-c", script, args.tracwell] + streams, cwd=shot)

    return Row("rewrite %d x 1 MiB" % len(streams), "<= 1.5x listing + cp -r", package,
               listing_and_copy, prepare)


def ensure_udim_shot(args):
    """20,000 distinct UDIM names in one folder; one name in ten has tiles 1001 and 1002."""
    folder = os.path.join(args.data, "udim")
    stream = os.path.join(folder, "shot.vrx")
    textures = os.path.join(folder, "tex")
    if not os.path.exists(stream):
        os.makedirs(textures, exist_ok=True)
        for n in range(0, UDIM_NAMES, 10):
            for tile in (1001, 1002):
                with open(os.path.join(textures, "n%05d.%d.tif" % (n, tile)), "wb") as f:
                    f.write(TIFF_HEADER)
        with open(stream + ".part", "w") as f:
            for n in range(UDIM_NAMES):
                f.write('SetAttribute "t%d" "filename" "string" 1 "%s/n%05d.UDIM.tif"\n'
                        % (n, textures, n))
        os.rename(stream + ".part", stream)
    return stream, 2 * ((UDIM_NAMES + 9) // 10)


def write_once(folder, make):
    """Makes folder by make(part) in a scratch folder renamed when whole."""
    if not os.path.exists(folder):
        part = folder + ".part"
        shutil.rmtree(part, ignore_errors=True)
        os.makedirs(part)
        make(part)
        os.rename(part, folder)
    return folder


def ensure_folder_shot(args):
    """20,000 TIFF-headed textures in one folder, and 10,000 streams naming 20 of them each."""
    def make(part):
        textures = os.path.join(args.data, "folder", "tex")  # the final name: streams name it
        os.makedirs(os.path.join(part, "tex"))
        for i in range(FOLDER_TEXTURES):
            with open(os.path.join(part, "tex", "t%05d.tif" % i), "wb") as f:
                f.write(TIFF_HEADER)
        os.makedirs(os.path.join(part, "streams"))
        for n in range(FOLDER_STREAMS):
            with open(os.path.join(part, "streams", "s%05d.rib" % n), "w") as f:
                for k in range(FOLDER_NAMES_PER_STREAM):
                    i = (n * 7919 + k * 1009) % FOLDER_TEXTURES
                    f.write('SetAttribute "m%d" "texturename" "string" 1 "%s/t%05d.tif"\n'
                            % (k, textures, i))
    folder = write_once(os.path.join(args.data, "folder"), make)
    return os.path.join(folder, "streams")


def ensure_small_shot(args):
    """100,000 small streams in one folder, each naming a shader and three textures of a
    folder of 1,000 (one of them missing), and the list of their names for xargs."""
    def make(part):
        folder = os.path.join(args.data, "small")
        os.makedirs(os.path.join(part, "tex"))
        for i in range(1000):
            with open(os.path.join(part, "tex", "t%03d.tif" % i), "wb") as f:
                f.write(TIFF_HEADER)
        os.makedirs(os.path.join(part, "streams"))
        names = []
        for n in range(SMALL_STREAMS):
            name = "%06d.rib" % n
            names.append(name)
            with open(os.path.join(part, "streams", name), "w") as f:
                f.write('Create "m%d" "material"\n' % n)
                f.write('SetAttribute "m%d" "shaderfilename" "string" 1 "%s/sh/s%d"\n'
                        % (n, folder, n % 10))
                for k in range(3):
                    f.write('SetAttribute "m%d" "texturename" "string" 1 "%s/tex/t%03d.tif"\n'
                            % (n, folder, (n + 337 * k) % 1000 if k < 2 else 1000 + n % 50))
        with open(os.path.join(part, "names"), "w") as f:
            f.write("\n".join(names) + "\n")
    folder = write_once(os.path.join(args.data, "small"), make)
    return os.path.join(folder, "streams"), os.path.join(folder, "names")


def ensure_core_shot(args):
    """1,000 streams of 2 MB: 50 distinct mixed streams, each linked under 20 names."""
    def make(part):
        distinct = os.path.join(args.data, "cores-distinct")
        os.makedirs(distinct, exist_ok=True)
        for seed in range(CORE_DISTINCT):
            stream = os.path.join(distinct, "m%02d.rib" % seed)
            if not os.path.exists(stream):
                subprocess.run([sys.executable, args.generator, "--mb", str(CORE_STREAM_MB),
                                "--profile", "mixed", "--seed", str(seed + 1),
                                "-o", stream + ".part"], check=True)
                os.rename(stream + ".part", stream)
        for n in range(CORE_STREAMS):
            os.link(os.path.join(distinct, "m%02d.rib" % (n % CORE_DISTINCT)),
                    os.path.join(part, "s%04d.rib" % n))
    log("making the 1,000 streams of the cores row (once)")
    return write_once(os.path.join(args.data, "cores"), make)


# ---- running ----

class Measured:
    """Runs commands under run_measured and keeps (seconds, peak KB) per round."""

    def __init__(self, runner, env=None):
        self.runner = runner
        self.env = env

    def run(self, argv, output="/dev/null", cwd=None):
        result = subprocess.run([self.runner, "-o", output] + argv, env=self.env, cwd=cwd,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        fields = dict(item.split("=") for item in result.stdout.split())
        if result.returncode != 0 or fields.get("status") != "0":
            sys.exit("failed: %s\n%s" % (" ".join(argv), result.stderr))
        return float(fields["seconds"]), int(fields["peak_kb"])


class Row:
    """One target: a subject beside a yardstick (or alone), measured round by round."""

    def __init__(self, name, target, subject, yardstick=None, prepare=None, rate=False):
        self.name = name
        self.target = target  # text
        self.subject = subject  # () -> (seconds, peak KB)
        self.yardstick = yardstick
        self.prepare = prepare or (lambda: None)
        self.rate = rate  # ratio of rates (yardstick time / subject time)
        self.times = []
        self.yard_times = []
        self.peaks = []

    def round(self, index):
        order = [self.measure_subject, self.measure_yardstick]
        if index % 2:
            order.reverse()
        for step in order:
            step()

    def measure_subject(self):
        self.prepare()
        seconds, peak = self.subject()
        self.times.append(seconds)
        self.peaks.append(peak)

    def measure_yardstick(self):
        if self.yardstick:
            self.prepare()
            self.yard_times.append(self.yardstick()[0])

    def ratios(self):
        if not self.yardstick:
            return None, None
        if self.rate:
            best = min(self.yard_times) / min(self.times)
            each = [y / t for y, t in zip(self.yard_times, self.times)]
        else:
            best = min(self.times) / min(self.yard_times)
            each = [t / y for y, t in zip(self.yard_times, self.times)]
        return best, statistics.median(each)


def fresh_folder(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


def package_beside_cp(args, measured, name, target, shot, options=(), check=None):
    """A row of tracwell packaging a stream that names `paths`, beside cp of
    the same files into a folder of the same file system; check(package) may
    refuse a package that holds every file."""
    folder, stream, paths = shot
    copy_to = os.path.join(folder, "out-cp")
    package_to = os.path.join(folder, "out-package")

    def prepare():
        shutil.rmtree(package_to, ignore_errors=True)
        fresh_folder(copy_to)
        os.sync()  # the previous run's writes do not land in this one's time

    def package():
        result = measured.run([args.tracwell] + list(options) + ["-package", package_to, stream])
        if len(os.listdir(package_to)) != len(paths) + 1:
            sys.exit("the package in %s is not complete" % package_to)
        if check:
            check(package_to, paths)
        return result

    return Row(name % len(paths), target, package,
               lambda: measured.run(["cp"] + paths + [copy_to]), prepare)


def package_row(args, measured):
    return package_beside_cp(args, measured, "package %d x 1 MiB", "<= 1.5x cp",
                             ensure_package_shot(args))


def shrunk_by_texmeld(package_to, paths):
    sample = os.path.join(package_to, os.path.basename(paths[0]))
    with open(sample, "rb") as shrunk, open(paths[0], "rb") as source:
        if shrunk.read() == source.read():  # copied, not rewritten by texmeld
            sys.exit("%s was not shrunk: is the texmeld stand-in built?" % sample)


def scale_row(args, measured):
    return package_beside_cp(args, measured, "scale 0.5, %d textures", "<= 4x cp",
                             ensure_scale_shot(args), ["-scale", "0.5"], shrunk_by_texmeld)


def count_lines(path):
    with open(path, "rb") as f:
        return sum(block.count(b"\n") for block in iter(lambda: f.read(1 << 20), b""))


def listing_rows(args, measured, reference, sizes):
    rows = []
    for mb in sizes:
        for profile in PROFILES:
            stream = ensure_stream(args, profile, mb)
            row = Row("listing %s %d MB" % (profile, mb),
                      "<= %.1fx reference" % LISTING_TARGETS[profile],
                      lambda s=stream: measured.run([args.tracwell, s]),
                      lambda s=stream: measured.run([reference, s]))
            row.profile = profile
            row.stream = stream
            rows.append(row)
    return rows


def gzip_rows(args, measured, sizes):
    rows = []
    for mb in sizes:
        for profile in ("geometry", "strings"):
            packed = ensure_gzip(ensure_stream(args, profile, mb))
            rows.append(Row("gzip %s %d MB" % (profile, mb), ">= 0.8x gzip -dc",
                            lambda p=packed: measured.run([args.tracwell, p]),
                            lambda p=packed: measured.run(["gzip", "-dc", p]), rate=True))
    return rows


def folder_row(args, measured):
    streams = ensure_folder_shot(args)
    names = sorted(os.listdir(streams))
    return Row("folder %d streams x %d" % (FOLDER_STREAMS, FOLDER_NAMES_PER_STREAM),
               "<= 10x cat", lambda: measured.run([args.tracwell, streams]),
               lambda: measured.run(["cat"] + names, cwd=streams))


def small_row(args, measured):
    streams, names = ensure_small_shot(args)
    row = Row("small %d streams" % SMALL_STREAMS, "<= 1.5x cat, %d MB" % MAX_SMALL_PEAK_MB,
              lambda: measured.run([args.tracwell, streams]),
              lambda: measured.run(["xargs", "-a", names, "cat"], cwd=streams))
    row.peak_limit_mb = MAX_SMALL_PEAK_MB
    return row


def cores_row(args, measured):
    streams = ensure_core_shot(args)
    first = min(os.sched_getaffinity(0))
    return Row("cores %d x %d MB, %d CPUs" % (CORE_STREAMS, CORE_STREAM_MB,
                                             len(os.sched_getaffinity(0))),
               "<= 0.25x 1 thread", lambda: measured.run([args.tracwell, streams]),
               lambda: measured.run(["taskset", "-c", str(first), args.tracwell, streams]))


def udim_row(args, measured):
    stream, tiles = ensure_udim_shot(args)
    row = Row("udim %d names, one folder" % UDIM_NAMES, "<= 2 s",
              lambda: measured.run([args.tracwell, stream]))
    row.stream = stream
    row.expected_lines = tiles
    return row


def listed_names(args, row):
    """Lines of tracwell's listing of the row's stream (an untimed run)."""
    listing = os.path.join(args.data, "listing.out")
    Measured(args.runner).run([args.tracwell, row.stream], output=listing)
    lines = count_lines(listing)
    os.remove(listing)
    return lines


# ---- report ----

def machine():
    model = "unknown processor"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return "%d CPUs, %s" % (os.cpu_count(), model)


def load():
    return "load average %.2f %.2f %.2f" % os.getloadavg()


def report(rows, args):
    print("%-28s %-18s %10s %10s %9s %9s %9s" % (
        "row", "target", "yardstick", "tracwell", "best", "median", "peak MB"))
    for row in rows:
        best, median = row.ratios()
        yard = "%9.3fs" % min(row.yard_times) if row.yardstick else "-"
        print("%-28s %-18s %10s %9.3fs %9s %9s %9.1f" % (
            row.name, row.target, yard, min(row.times),
            "%.2fx" % best if best is not None else "-",
            "%.2fx" % median if median is not None else "-", max(row.peaks) / 1024.0))
    for row in rows:
        profile = getattr(row, "profile", None)
        if profile == "strings":
            names = listed_names(args, row)
            per_name = max(row.peaks) * 1024.0 / names
            print("%s: %d listed names, %.0f bytes of peak memory per name (target <= %d)"
                  % (row.name, names, per_name, MAX_BYTES_PER_NAME))
        elif profile == "geometry":
            print("%s: peak %.1f MB (target: flat, under %d MB)"
                  % (row.name, max(row.peaks) / 1024.0, MAX_GEOMETRY_PEAK_MB))
        elif hasattr(row, "peak_limit_mb"):
            print("%s: peak %.1f MB (target <= %d MB)"
                  % (row.name, max(row.peaks) / 1024.0, row.peak_limit_mb))
        elif hasattr(row, "expected_lines"):
            lines = listed_names(args, row)
            if lines != row.expected_lines:
                print("%s: %d listing lines, expected %d" % (row.name, lines, row.expected_lines))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "normal"))
    parser.add_argument("--data", default=os.path.join(ROOT, "build", "bench-data"))
    parser.add_argument("--mb", default="64,256", help="stream sizes, comma-separated")
    parser.add_argument("--repeat", type=int, default=5, help="rounds")
    parser.add_argument("--rows",
                        default="package,listing,gzip,rewrite,udim,folder,small,cores,scale")
    parser.add_argument("--tracwell", help="the program to measure (default: the build's)")
    parser.add_argument("--generator", default=os.path.join(ROOT, "bench", "gen_stream.py"))
    args = parser.parse_args()
    args.data = os.path.abspath(args.data)
    args.tracwell = os.path.abspath(args.tracwell or os.path.join(args.build, "depscan", "tracwell"))
    args.runner = os.path.join(args.build, "bench", "run_measured")
    reference = os.path.join(args.build, "bench", "reference_scanner")
    standins = [os.path.join(args.build, "standins", name) for name in ("vornex", "texmeld")]
    env = dict(os.environ, PATH=":".join(standins + [os.environ.get("PATH", "/usr/bin:/bin")]))
    os.makedirs(args.data, exist_ok=True)
    sizes = [int(mb) for mb in args.mb.split(",")]
    wanted = args.rows.split(",")

    measured = Measured(args.runner, env)
    rows = []
    if "package" in wanted:
        rows.append(package_row(args, measured))
    if "listing" in wanted:
        rows += listing_rows(args, measured, reference, sizes)
    if "gzip" in wanted:
        rows += gzip_rows(args, measured, sizes)
    if "rewrite" in wanted:
        rows.append(rewrite_row(args, measured))
    if "udim" in wanted:
        rows.append(udim_row(args, measured))
    # The rows of a show's scale.
    if "folder" in wanted:
        rows.append(folder_row(args, measured))
    if "small" in wanted:
        rows.append(small_row(args, measured))
    if "cores" in wanted:
        rows.append(cores_row(args, measured))
    if "scale" in wanted:
        rows.append(scale_row(args, measured))

    print("%s; %s at the start" % (machine(), load()))
    for row in rows:  # warms the page cache; not counted
        row.prepare()
        row.subject()
        if row.yardstick:
            row.prepare()
            row.yardstick()
    for index in range(args.repeat):
        for row in rows:
            row.round(index)
        log("round %d of %d done (%s)" % (index + 1, args.repeat, load()))
    report(rows, args)
    print("%s at the end; best of %d interleaved rounds" % (load(), args.repeat))


if __name__ == "__main__":
    main()
