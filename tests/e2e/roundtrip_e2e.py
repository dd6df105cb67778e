#!/usr/bin/env python3
"""Generative packaging round trip: python3 roundtrip_e2e.py TRACWELL OPTION

  --seeds FIRST:N   run N seeds from FIRST (the test command runs ranges)
  --seed N          run one seed (replays a failure); its directory is kept

From each seed, a random shot: top-level streams named bare, relative or
absolute; nested streams (ASCII, gzip, binary) and dependencies named
absolute, relative, through a path variable or through "${RIBDIR}"; "-r"
roots with sub-folders; UDIM sets whose tiles partly clash; textures of one
name in several folders; textures that one stream renders for another;
shaders and procedurals. It is packaged (with or without -binary, -scale,
-r, vornex), the sources are moved away, the package is moved, and the
moved package is listed from inside and from elsewhere. The round trip
holds when nothing is missing, every dependency found lies inside the
package (or is an image a packaged stream renders), the files found hold
the bytes of the originals (shrunk textures aside), every "${VRXDIR}/NAME"
of every packaged stream names a file the package holds, and the names
that are no file values (handles, connections) are as they were.

The stand-ins vornex and texmeld are found through ZP_STANDIN_PATH.
"""

import gzip
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

from harness import PROCEDURAL, SHADER, TIFF_LE
from packaging_e2e import tiff, tiff_width

STANDIN_PATH = os.environ.get("ZP_STANDIN_PATH", "")
SYSTEM_PATH = os.environ.get("PATH", "/usr/bin:/bin")
SCALE = "0.5"


class Failure(Exception):
    pass


def standin(name):
    for folder in STANDIN_PATH.split(":"):
        if os.path.exists(os.path.join(folder, name)):
            return folder
    raise Failure("no %s in ZP_STANDIN_PATH" % name)


def environment(with_vornex=True, **extra):
    folders = [standin("texmeld")] + ([standin("vornex")] if with_vornex else [])
    env = {"PATH": ":".join(folders + [SYSTEM_PATH]), "LC_ALL": "C"}
    for name in ("HOME", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
        if name in os.environ:
            env[name] = os.environ[name]
    env.update(extra)
    return env


def vornex_cat(data, binary=False, gzipped=False):
    """The stream re-encoded by the vornex stand-in, read from standard input
    (so that "${RIBDIR}" comes back as "${VRXDIR}", not as a folder)."""
    words = [os.path.join(standin("vornex"), "vornex"), "-cat", "-q"]
    words += ["-binary"] if binary else []
    words += ["-gzip"] if gzipped else []
    result = subprocess.run(words, input=data, capture_output=True)
    if result.returncode != 0:
        raise Failure("vornex failed: %r" % result.stderr)
    return result.stdout


def ascii_text(data):
    """A stream's ASCII form: the binary encoding through vornex."""
    if data[:2] == b"\x1f\x8b":
        data = gzip.decompress(data)
    if any(byte >= 0x80 for byte in data):
        data = vornex_cat(data)
    return data.decode("utf-8", "replace")


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def set_attribute(handle, parameter, value):
    return 'SetAttribute "%s" "%s" "string" 1 "%s"\n' % (handle, parameter, value)


def evaluate(kind, value):
    return 'Evaluate "type" "string" 1 "%s" "filename" "string" 1 "%s"\n' % (kind, value)


class Shot:
    """One random shot below tmp/src, and how it is packaged."""

    def __init__(self, rng, tmp):
        self.rng = rng
        self.tmp = tmp
        self.src = os.path.join(tmp, "src")
        self.files = {}  # absolute path -> bytes, every file of the shot
        self.real_tiffs = set()  # textures that -scale shrinks
        self.produced = set()  # absolute paths of textures another stream renders
        self.handles = []
        self.use_root = rng.random() < 0.4
        self.binary = rng.random() < 0.35
        self.scale = rng.random() < 0.35
        self.cwd = rng.choice([self.src, tmp, os.path.join(tmp, "work"),
                               os.path.join(self.src, "seq")])
        self.make_dependencies()
        self.make_streams()
        self.with_vornex = not (self.all_plain and not self.binary and rng.random() < 0.5)

    # The files streams refer to.

    def texture(self, relative, real=None):
        path = os.path.join(self.src, relative)
        if real is None:
            real = self.rng.random() < 0.5
        if real:
            self.files[path] = tiff(4 + 2 * len(self.files) % 12, 4)
            self.real_tiffs.add(path)
        else:
            self.files[path] = TIFF_LE + relative.encode()
        return path

    def make_dependencies(self):
        rng = self.rng
        folders = ["tex", "tex/a", "tex/b", "maps", "seq/deep/tex"]
        self.textures = [self.texture(os.path.join(f, "wood.tif"))
                         for f in rng.sample(folders, rng.randint(1, 4))]
        self.textures += [self.texture("maps/stone%d.tif" % i) for i in range(rng.randint(0, 2))]
        # UDIM sets of one name whose tiles partly clash, and a texture whose
        # name one of their patterns would stand for.
        self.patterns = []
        for folder, tiles in rng.sample([("udim/x", (1001, 1002)), ("udim/y", (1001, 1003)),
                                         ("udim/z", (1002, 1010))], rng.randint(0, 3)):
            for tile in tiles:
                self.texture("%s/skin.%d.tif" % (folder, tile))
            self.patterns.append(os.path.join(self.src, folder, "skin.UDIM.tif"))
        if self.patterns and rng.random() < 0.5:
            self.textures.append(self.texture("maps/skin.1005.tif"))
        self.shaders = []
        for folder in rng.sample(["sh", "sh/b"], rng.randint(0, 2)):
            path = os.path.join(self.src, folder, "plastic.oso")
            self.files[path] = (SHADER + folder).encode()
            self.shaders.append(path)
        self.procedurals = []
        for folder, suffix in rng.sample([("procs", ".so"), ("procs/b", ".so"), ("procs", ".lua")],
                                         rng.randint(0, 2)):
            name = "fur" if suffix == ".so" else "grow"
            path = os.path.join(self.src, folder, name + suffix)
            self.files[path] = PROCEDURAL + path.encode()
            self.procedurals.append(path[:-len(suffix)])

    # Spellings of a file from a stream that the tracker reads from folder.

    def spell(self, path, folder, stream_dir):
        rng = self.rng
        choices = ["absolute", "relative", "variable", "ribdir"]
        how = rng.choice(choices)
        if how == "absolute":
            return path
        if how == "relative":
            return os.path.relpath(path, self.cwd)
        if how == "variable":
            return "${VRX_PATH_SHOT}/" + os.path.relpath(path, self.src)
        return "${RIBDIR}/" + os.path.relpath(path, stream_dir)

    # The streams.

    def stream_text(self, folder, nested):
        rng = self.rng
        text = ""
        if rng.random() < 0.5:
            text += '# the 5" monitor, "quoted" in a comment\n'
        handle = os.path.relpath(rng.choice(self.textures), self.cwd)
        self.handles.append(handle)
        text += 'Create "%s" "mesh"\n' % handle
        for path in rng.sample(self.textures, rng.randint(1, len(self.textures))):
            text += set_attribute(handle, "diffusemap", self.spell(path, folder, folder))
        for pattern in self.patterns:
            if rng.random() < 0.7:
                text += set_attribute(handle, "skinmap", self.spell(pattern, folder, folder))
        for shader in self.shaders:
            value = self.spell(shader, folder, folder)
            text += set_attribute(handle, "shaderfilename",
                                  value if rng.random() < 0.5 else value[:-len(".oso")])
        for procedural in self.procedurals:
            text += evaluate("dynamiclib", self.spell(procedural, folder, folder))
        for path in nested:
            text += evaluate("vrxstream", self.spell(path, folder, folder))
        text += 'Connect "%s" "out" "%s" "in"\n' % (handle, handle)
        return text

    def encode(self, text):
        """ASCII, gzip or binary, at random; also notes whether all are plain."""
        how = self.rng.choice(["ascii", "ascii", "gzip", "binary", "binary gzip"])
        if how != "ascii":
            self.all_plain = False
        data = text.encode()
        if how == "gzip":
            return gzip.compress(data)
        if how.startswith("binary"):
            return vornex_cat(data, binary=True, gzipped="gzip" in how)
        return data

    def make_streams(self):
        rng = self.rng
        self.all_plain = True
        # Nested streams, the inner ones first so the outer ones can name them.
        nested = []
        for i in range(rng.randint(0, 3)):
            folder = os.path.join(self.src, rng.choice(["", "nest", "seq/deep"]))
            path = os.path.join(folder, "n%d.rib" % i)
            inner = [p for p in nested if rng.random() < 0.3]
            self.files[path] = self.encode(self.stream_text(folder, inner))
            nested.append(path)
        self.inputs = []
        count = rng.randint(1, 3)
        for i in range(count):
            folder = os.path.join(self.src, rng.choice(["", "seq"]))
            path = os.path.join(folder, "shot%d.rib" % i)
            text = self.stream_text(folder, [p for p in nested if rng.random() < 0.6])
            self.inputs.append((path, text))
        self.make_products()
        for path, text in self.inputs:
            self.files[path] = self.encode(text)

    def make_products(self):
        """The first input renders images that the others read as textures,
        some of them found on disk from an earlier render."""
        rng = self.rng
        if len(self.inputs) < 2:
            return
        producer, folder = self.inputs[0][0], os.path.dirname(self.inputs[0][0])
        extra = {}
        for i in range(rng.randint(1, 2)):
            image = os.path.join(self.src, "render", "rendered%d.tif" % i)
            extra[producer] = extra.get(producer, "") + set_attribute(
                "cam", "imagefilename", self.spell(image, folder, folder))
            if rng.random() < 0.5:
                self.files[image] = TIFF_LE + b"an earlier render"
            self.produced.add(image)
            for consumer, _ in self.inputs[1:]:
                cfolder = os.path.dirname(consumer)
                extra[consumer] = extra.get(consumer, "") + set_attribute(
                    "lgt", "shadowmap", self.spell(image, cfolder, cfolder))
        beauty = os.path.join(self.src, "render", "beauty.exr")
        extra[producer] += set_attribute("cam", "imagefilename", self.spell(beauty, folder, folder))
        self.inputs = [(p, t + extra.get(p, "")) for p, t in self.inputs]

    def command_name(self, path):
        """An input named bare, relative or absolute."""
        if os.path.dirname(path) == self.cwd and self.rng.random() < 0.6:
            return os.path.basename(path)
        return self.rng.choice([path, os.path.relpath(path, self.cwd)])

    def plain_copies(self):
        """The contents of the files that -scale leaves as they are."""
        return {data for path, data in self.files.items() if path not in self.real_tiffs}

    def write(self):
        for path, data in self.files.items():
            write(path, data)
        os.makedirs(self.cwd, exist_ok=True)


class Listing:
    def __init__(self, entries, stderr):
        self.entries = entries  # list of (kind, path)
        self.stderr = stderr

    def of(self, kinds):
        return [(k, p) for k, p in self.entries if k in kinds]


def list_stream(binary, name, cwd, env):
    result = subprocess.run([binary, name], cwd=cwd, env=env, capture_output=True, timeout=60)
    entries = []
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        if line.startswith("["):
            break  # the conflict groups follow the listing
        kind, path = line.split(" ", 1)
        entries.append((kind, path))
    if result.returncode != 0:
        raise Failure("listing %s in %s: exit %d" % (name, cwd, result.returncode))
    return Listing(entries, result.stderr.decode("utf-8", "replace"))


def inside(path, folder):
    return os.path.normpath(path).startswith(folder + os.sep)


class RoundTrip:
    def __init__(self, binary, seed):
        self.binary = binary
        self.seed = seed
        self.tmp = os.path.realpath(tempfile.mkdtemp(prefix="tracwell-roundtrip-%d-" % seed))

    def run(self):
        self.shot = shot = Shot(random.Random(self.seed), self.tmp)
        self.env = environment(shot.with_vornex, VRX_PATH_SHOT=shot.src)
        shot.write()
        names = [shot.command_name(path) for path, _ in shot.inputs]
        originals = [self.original(name) for name in names]
        packaged = self.package(names)
        gone = os.path.join(self.tmp, "gone")
        shutil.move(shot.src, gone)
        moved = os.path.join(self.tmp, "elsewhere", "deeper", "pkg2")
        os.makedirs(os.path.dirname(moved))
        shutil.move(os.path.join(self.tmp, "pkg"), moved)
        self.check_references(moved)
        env = environment(True, VRX_PATH_SHOT=shot.src)
        other = os.path.join(self.tmp, "other")
        os.makedirs(other)
        elsewhere = shot.rng.choice([lambda n: os.path.relpath(os.path.join(moved, n), other),
                                     lambda n: os.path.join(moved, n)])
        for where, name_of in [(moved, lambda n: n), (other, elsewhere)]:
            listings = self.list_moved([name_of(n) for n in packaged], where, env)
            for name, original, listing in zip(packaged, originals, listings):
                self.compare(original, listing, moved, "%s listed in %s" % (name, where))

    def original(self, name):
        listing = list_stream(self.binary, name, self.shot.cwd, self.env)
        missing = [p for k, p in listing.of("!")
                   if os.path.normpath(p) not in self.shot.produced]
        if missing or listing.stderr:
            raise Failure("the shot itself misses %s: %s" % (missing, listing.stderr))
        result = set()
        for kind, path in listing.entries:
            normal = os.path.normpath(path)
            if kind in "t!" and normal in self.shot.produced:  # rendered before, or not yet
                result.add(("t", True, os.path.basename(path)))
            elif kind in "tsp":
                shrunk = self.shot.scale and normal in self.shot.real_tiffs
                result.add((kind, False, ("shrunk", int(tiff_width(path) * float(SCALE)))
                            if shrunk else read(path)))
            else:
                result.add((kind, False, os.path.basename(path) if kind == "o" else None))
        return result

    def package(self, names):
        shot = self.shot
        words = [self.binary]
        words += ["-verbose"]  # names the packaged top-level streams
        words += ["-binary"] if shot.binary else []
        words += ["-scale", SCALE] if shot.scale else []
        package = os.path.join(self.tmp, "pkg")
        if shot.use_root:
            words += ["-r", shot.src]
            # Names below a root keep their folders, which must exist.
            for folder, _, _ in os.walk(shot.src):
                os.makedirs(os.path.join(package, os.path.relpath(folder, shot.src)),
                            exist_ok=True)
        words += ["-package", shot.rng.choice([package, os.path.relpath(package, shot.cwd)])]
        words += names
        result = subprocess.run(words, cwd=shot.cwd, env=self.env, capture_output=True,
                                timeout=120)
        self.command = " ".join(words)
        err = result.stderr.decode("utf-8", "replace")
        if not shot.with_vornex:
            # Only the announced plain-text rewrites.
            err = re.sub(r"\n#Could not read '[^']*' through vornex \([^)]*\): rewriting it as "
                         r"plain text\n\n", "", err)
        if result.returncode != 0 or err:
            raise Failure("packaging: exit %d, stderr %r" % (result.returncode, err))
        out = result.stdout.decode("utf-8", "replace")
        packaged = dict(re.findall(r"\n#Packaging stream '([^']*)' as '([^']*)'\n", out))
        return [packaged[name] for name in names]

    def list_moved(self, names, cwd, env):
        listings = [list_stream(self.binary, name, cwd, env) for name in names]
        # Render what the streams render, where they render it, then list
        # again the streams that read those images.
        rendered = set()
        for listing in listings:
            for _, path in listing.of("o"):
                if path.endswith(".tif"):
                    write(path, TIFF_LE + b"rendered")
                    rendered.add(os.path.normpath(path))
        self.rendered = rendered
        return [list_stream(self.binary, name, cwd, env) if listing.of("!") else listing
                for name, listing in zip(names, listings)]

    def compare(self, original, listing, package, where):
        if listing.stderr:
            raise Failure("%s: stderr %r" % (where, listing.stderr))
        if listing.of("!"):
            raise Failure("%s: missing %s" % (where, listing.of("!")))
        # Files, not spellings: one file may be listed under two spellings
        # in the package, and one source may be packaged twice, once per
        # spelling of the shot.
        found = set()
        for kind, path in listing.entries:
            normal = os.path.normpath(path)
            if kind in "oa":
                found.add((kind, False, os.path.basename(path) if kind == "o" else None))
                continue
            produced = kind == "t" and normal in self.rendered
            if not produced and not inside(normal, package):
                raise Failure("%s: %s %s lies outside the package" % (where, kind, path))
            if produced:
                found.add((kind, True, os.path.basename(path)))
                continue
            data = read(path)
            if self.shot.scale and kind == "t" and data not in self.shot.plain_copies():
                data = ("shrunk", tiff_width(path))
            found.add((kind, False, data))
        if original != found:
            raise Failure("%s: dependencies differ\n  lost %s\n  new %s" % (
                where, _short(original - found), _short(found - original)))

    def check_references(self, package):
        """Every "${VRXDIR}/NAME" of every packaged stream names a held file;
        handles and connections read as they did."""
        handles = set(self.shot.handles)
        for folder, _, files in os.walk(package):
            for name in files:
                if not name.endswith(".rib"):
                    continue
                path = os.path.join(folder, name)
                text = ascii_text(read(path))
                for reference in re.findall(r'"\$\{VRXDIR\}/([^"]*)"', text):
                    target = os.path.normpath(os.path.join(folder, reference))
                    # A shader is named without ".oso", a UDIM set by its pattern.
                    tiles = [target, target + ".oso"]
                    if "UDIM" in target:
                        tiles = [target.replace("UDIM", str(n), 1) for n in range(1001, 2000)]
                    if not inside(target, package) or not any(map(os.path.isfile, tiles)):
                        raise Failure("%s: '${VRXDIR}/%s' names no file of the package" % (
                            path, reference))
                for handle in re.findall(r'^(?:Create|Connect) "([^"]*)"', text, re.M):
                    if handle not in handles:
                        raise Failure("%s: the handle '%s' was rewritten" % (path, handle))


def _short(entries):
    return sorted(((k, p, d[:40] if isinstance(d, bytes) else d) for (k, p, d) in entries),
                  key=repr)


def run_seeds(binary, seeds, keep=False):
    failed = []
    start = time.time()
    for seed in seeds:
        trip = RoundTrip(binary, seed)
        try:
            trip.run()
        except (Failure, KeyError, OSError, subprocess.TimeoutExpired) as error:
            failed.append(seed)
            print("FAIL seed %d (kept %s)\n  %s\n  %s\n  replay: ZP_STANDIN_PATH=%s %s %s %s "
                  "--seed %d" % (seed, trip.tmp, getattr(trip, "command", ""), error,
                                 STANDIN_PATH, sys.executable, os.path.abspath(__file__),
                                 binary, seed))
            continue
        if keep:
            print("kept %s" % trip.tmp)
        else:
            shutil.rmtree(trip.tmp)
    print("%d seeds, %d failed, %.1f s" % (len(seeds), len(failed), time.time() - start))
    return 0 if not failed else 1


def main(argv):
    if len(argv) != 4 or argv[2] not in ("--seeds", "--seed"):
        print(__doc__)
        return 2
    binary = os.path.realpath(argv[1])
    if argv[2] == "--seed":
        return run_seeds(binary, [int(argv[3])], keep=True)
    first, count = (int(v) for v in argv[3].split(":"))
    return run_seeds(binary, range(first, first + count))


if __name__ == "__main__":
    sys.exit(main(sys.argv))
