#!/usr/bin/env python3
"""Generative packaging round trip: python3 roundtrip_e2e.py TRACWELL OPTION

  --seeds FIRST:N   run N seeds from FIRST (the test command runs ranges)
  --seed N          run one seed (replays a failure); its directory is kept

From each seed, a random shot: top-level streams named bare, relative or
absolute (some beginning with "-"); nested streams (ASCII, gzip, binary, some
named ".oso") and dependencies named absolute, relative, through a path
variable or through "${RIBDIR}", with "./", "//" and "x/.." steps and through
linked folders and linked files; nested streams linked into other folders,
whose "${RIBDIR}" then names other files; "-r" roots with sub-folders; UDIM
sets whose tiles partly clash, and one whose marker is in a folder name;
textures of one name in several folders, names of 255 bytes; textures that
one stream renders for another; shaders, procedurals (one ending ".oso").
It is packaged (with or without -binary, -scale, -r, vornex, and for shots
without nested streams sometimes with kind options that leave textures out;
sometimes first into a folder that holds the shot, which must be refused
with nothing changed), the sources are moved away, the package is moved,
and the moved package is listed from inside and from elsewhere, and
sometimes packaged again. The round trip holds when nothing is missing,
every dependency found lies inside the package (or is an image a packaged
stream renders), the files found hold the bytes of the originals (shrunk
textures aside), every "${VRXDIR}/NAME" of every packaged stream names a
file the package holds and no packaged stream names a source path, the
package holds one copy per source file (counted by identity: none lost,
none twice), packaging the package again adds no file, and the names that
are no file values (handles, connections) are as they were.

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

    # Folders below src that links stand for (src/lnk_tex -> tex).
    LINKED_FOLDERS = ["tex", "maps"]
    KIND_OPTIONS = [["-shaders"], ["-shaders", "-procedural"], ["-shaders", "-unresolved"]]

    def __init__(self, rng, tmp):
        self.rng = rng
        self.tmp = tmp
        self.src = os.path.join(tmp, "src")
        self.files = {}  # absolute path -> bytes, every file of the shot
        self.links = {}  # absolute path -> link target (relative)
        self.real_tiffs = set()  # textures that -scale shrinks
        self.produced = set()  # absolute paths of textures another stream renders
        self.handles = []
        self.stream_directory_names = set()  # what streams name through "${RIBDIR}"
        self.linked = False
        self.use_root = rng.random() < 0.4
        self.binary = rng.random() < 0.35
        self.scale = rng.random() < 0.35
        self.cwd = rng.choice([self.src, tmp, os.path.join(tmp, "work"),
                               os.path.join(self.src, "seq")])
        self.make_dependencies()
        self.make_streams()
        self.with_vornex = not (self.all_ascii and not self.binary and rng.random() < 0.5)
        # Kind options that leave textures (and nested streams) out of the package.
        self.kinds = rng.choice(self.KIND_OPTIONS) if not self.nested and rng.random() < 0.2 else []
        self.into_source = rng.random() < 0.15
        self.package_again = not self.kinds and rng.random() < 0.5

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
        if rng.random() < 0.2:  # a name that fills a folder entry, in two folders
            long = "w" * 251 + ".tif"
            self.textures += [self.texture(os.path.join(f, long)) for f in ("tex", "maps")]
        if rng.random() < 0.2:
            self.textures.append(self.texture("tex/-dash.tif"))
        # A linked file: one file, two names.
        wood = os.path.join(self.src, "tex", "wood.tif")
        if wood in self.files and rng.random() < 0.3:
            alias = os.path.join(self.src, "maps", "alias.tif")
            self.links[alias] = "../tex/wood.tif"
            self.textures.append(alias)
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
        if rng.random() < 0.3:  # the marker in a folder name
            for tile in (1001, 1002):
                self.texture("udim/t_%d/bark.tif" % tile)
            self.patterns.append(os.path.join(self.src, "udim", "t_UDIM", "bark.tif"))
        self.shaders = []
        for folder in rng.sample(["sh", "sh/b"], rng.randint(0, 2)):
            path = os.path.join(self.src, folder, "plastic.oso")
            self.files[path] = (SHADER + folder).encode()
            self.shaders.append(path)
        self.procedurals = []  # (path as named, path found)
        for folder, suffix in rng.sample([("procs", ".so"), ("procs/b", ".so"), ("procs", ".lua")],
                                         rng.randint(0, 2)):
            name = "fur" if suffix == ".so" else "grow"
            path = os.path.join(self.src, folder, name + suffix)
            self.files[path] = PROCEDURAL + path.encode()
            self.procedurals.append(path[:-len(suffix)])
        if rng.random() < 0.25:  # a procedural that is no shader, named ".oso"
            path = os.path.join(self.src, "procs", "shade.oso")
            self.files[path] = PROCEDURAL + path.encode()
            self.procedurals.append(path)

    # Spellings of a file from a stream that the tracker reads from folder.

    def spell(self, path, folder, stream_dir):
        rng = self.rng
        # A stream linked into another folder reads "${RIBDIR}" there: only
        # its local texture is named so.
        how = rng.choice(["absolute", "relative", "variable"] + ([] if self.linked else ["ribdir"]))
        if how == "absolute":
            text = path
        elif how == "relative":
            text = os.path.relpath(path, self.cwd)
        elif how == "variable":
            text = "${VRX_PATH_SHOT}/" + os.path.relpath(path, self.src)
        else:
            text = "${RIBDIR}/" + os.path.relpath(path, stream_dir)
        return self.respelled(text, path)

    def respelled(self, text, path):
        """The same file with "./", "//", "x/.." or a linked folder on the
        way: the spelling ends with the path below src, which is spelled
        again."""
        rng = self.rng
        below = os.path.relpath(path, self.src)
        if below.startswith("..") or not text.endswith(below) or rng.random() < 0.6:
            return text
        head = text[:len(text) - len(below)]
        first = below.split("/", 1)[0]
        ways = ["./" + below, below.replace("/", "//", 1), "seq/../" + below]
        if first in self.LINKED_FOLDERS and "/" in below:
            ways.append("lnk_" + below)
        return head + rng.choice(ways)

    # The streams.

    def stream_text(self, folder, nested, local=None):
        rng = self.rng
        self.linked = local is not None
        text = ""
        if rng.random() < 0.5:
            text += '# the 5" monitor, "quoted" in a comment\n'
        handle = os.path.relpath(rng.choice(self.textures), self.cwd)
        self.handles.append(handle)
        text += 'Create "%s" "mesh"\n' % handle
        for path in rng.sample(self.textures, rng.randint(1, len(self.textures))):
            text += set_attribute(handle, "diffusemap", self.spell(path, folder, folder))
        if local:  # a texture beside the stream, wherever a route puts it
            text += set_attribute(handle, "localmap", "${RIBDIR}/" + local)
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
        self.stream_directory_names.update(re.findall(r'"\$\{RIBDIR\}/([^"]*)"', text))
        return text

    def encode(self, text):
        """ASCII, gzip or binary, at random; also notes whether all are ASCII."""
        how = self.rng.choice(["ascii", "ascii", "gzip", "binary", "binary gzip"])
        if how.startswith("binary"):
            self.all_ascii = False
        data = text.encode()
        if how == "gzip":
            return gzip.compress(data)
        if how.startswith("binary"):
            return vornex_cat(data, binary=True, gzipped="gzip" in how)
        return data

    def make_streams(self):
        rng = self.rng
        self.all_ascii = True
        # Nested streams, the inner ones first so the outer ones can name them.
        # Some are linked into another folder, where "${RIBDIR}" names another
        # file; some are reached through a linked folder.
        nested = []
        for i in range(rng.randint(0, 3)):
            sub = rng.choice(["", "nest", "seq/deep"])
            folder = os.path.join(self.src, sub)
            path = os.path.join(folder, "n%d.%s" % (i, rng.choice(["rib", "rib", "oso"])))
            inner = [p for p in nested if rng.random() < 0.3]
            local = None
            if rng.random() < 0.3:
                local = "local%d.tif" % i
                self.texture(os.path.join(sub, local))
                other = os.path.join(self.src, "other%d" % i)
                self.texture(os.path.join("other%d" % i, local))
                linked = os.path.join(other, os.path.basename(path))
                self.links[linked] = os.path.relpath(path, other)
                nested.append(linked)
            self.files[path] = self.encode(self.stream_text(folder, inner, local))
            self.linked = False
            nested.append(path)
            if sub == "nest" and rng.random() < 0.4:
                linked = os.path.join(self.src, "lnk_nest", os.path.basename(path))
                self.links[os.path.join(self.src, "lnk_nest")] = "nest"
                nested.append(linked)
        self.nested = nested
        self.inputs = []
        count = rng.randint(1, 3)
        for i in range(count):
            folder = os.path.join(self.src, rng.choice(["", "seq"]))
            name = "-shot%d.rib" if i > 0 and rng.random() < 0.3 else "shot%d.rib"
            path = os.path.join(folder, name % i)
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
        for text in extra.values():
            self.stream_directory_names.update(re.findall(r'"\$\{RIBDIR\}/([^"]*)"', text))
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
        for folder in ["seq/deep"] + self.LINKED_FOLDERS:
            os.makedirs(os.path.join(self.src, folder), exist_ok=True)
        for folder in self.LINKED_FOLDERS:
            os.symlink(folder, os.path.join(self.src, "lnk_" + folder))
        for path, target in self.links.items():
            os.makedirs(os.path.dirname(path), exist_ok=True)
            os.symlink(target, path)
        os.makedirs(self.cwd, exist_ok=True)


class Listing:
    def __init__(self, entries, stderr):
        self.entries = entries  # list of (kind, path)
        self.stderr = stderr

    def of(self, kinds):
        return [(k, p) for k, p in self.entries if k in kinds]


def list_stream(binary, name, cwd, env, kinds=()):
    if name.startswith("-"):
        name = "./" + name  # a word beginning with "-" before any input is an option
    result = subprocess.run([binary] + list(kinds) + [name], cwd=cwd, env=env,
                            capture_output=True, timeout=60)
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
        self.real_tiffs = {os.path.realpath(p) for p in shot.real_tiffs}
        self.produced = {os.path.realpath(p) for p in shot.produced}
        names = [shot.command_name(path) for path, _ in shot.inputs]
        self.source_files = set()
        originals = [self.original(name) for name in names]
        if shot.into_source:
            self.refused(names)
        packaged = self.package(names)
        self.count_copies(os.path.join(self.tmp, "pkg"))
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
        self.all_rendered = set()
        for where, name_of in [(moved, lambda n: n), (other, elsewhere)]:
            listings = self.list_moved([name_of(n) for n in packaged], where, env)
            for name, original, listing in zip(packaged, originals, listings):
                self.compare(original, listing, moved, "%s listed in %s" % (name, where))
        if shot.package_again:
            self.package_again(moved, packaged, env)

    def original(self, name):
        listing = list_stream(self.binary, name, self.shot.cwd, self.env, self.shot.kinds)
        missing = [p for k, p in listing.of("!") if os.path.realpath(p) not in self.produced]
        if missing or listing.stderr:
            raise Failure("the shot itself misses %s: %s" % (missing, listing.stderr))
        result = set()
        for kind, path in listing.entries:
            real = os.path.realpath(path)
            if kind in "t!" and real in self.produced:  # rendered before, or not yet
                result.add(("t", True, os.path.basename(path)))
            elif kind in "tsp":
                shrunk = self.shot.scale and real in self.real_tiffs
                result.add((kind, False, ("shrunk", int(tiff_width(path) * float(SCALE)))
                            if shrunk else read(path)))
                stat = os.stat(path)
                self.source_files.add((stat.st_dev, stat.st_ino))
            else:
                result.add((kind, False, os.path.basename(path) if kind == "o" else None))
        return result

    def refused(self, names):
        """Packaging into a folder that holds the shot is refused, and
        changes nothing."""
        shot = self.shot
        target = shot.rng.choice([shot.src, os.path.dirname(shot.inputs[0][0])])
        before = snapshot(shot.src)
        result = subprocess.run([self.binary, "-package", target] + names, cwd=shot.cwd,
                                env=self.env, capture_output=True, timeout=120)
        err = result.stderr.decode("utf-8", "replace")
        if (result.returncode != 1 or result.stdout or
                not re.fullmatch(r"source inside the package directory: [^\n]*\n", err)):
            raise Failure("packaging into %s: exit %d, stderr %r" % (target, result.returncode, err))
        if snapshot(shot.src) != before:
            raise Failure("packaging into %s changed the shot" % target)

    def count_copies(self, package):
        """One copy per source file: the package holds as many copies of
        dependencies (all other files are streams) as the shot has files."""
        copies = [p for p in package_files(package) if is_copy(os.path.join(package, p))]
        if len(copies) != len(self.source_files):
            raise Failure("the package holds %d copies of %d source files: %s" % (
                len(copies), len(self.source_files), sorted(copies)))

    def package(self, names):
        shot = self.shot
        words = [self.binary]
        words += ["-verbose"]  # names the packaged top-level streams
        words += shot.kinds
        words += ["-binary"] if shot.binary else []
        words += ["-scale", SCALE] if shot.scale else []
        package = os.path.join(self.tmp, "pkg")
        if shot.use_root:
            words += ["-r", shot.src]
            # Names below a root keep their folders, which must exist
            # (those reached through links too).
            for folder, _, _ in os.walk(shot.src, followlinks=True):
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
                         r"plain text(, gzip-compressed)?\n\n", "", err)
        if shot.kinds:
            # Without output images in the kind mask, nothing is known to be
            # rendered: images not rendered yet are missing.
            err = re.sub(r"\n#Unresolved resource: '([^']*)' \n\n",
                         lambda m: "" if os.path.realpath(m.group(1)) in self.produced
                         else m.group(0), err)
        if result.returncode != 0 or err:
            raise Failure("packaging: exit %d, stderr %r" % (result.returncode, err))
        out = result.stdout.decode("utf-8", "replace")
        packaged = dict(re.findall(r"\n#Packaging stream '([^']*)' as '([^']*)'\n", out))
        return [packaged[name] for name in names]

    def list_moved(self, names, cwd, env):
        kinds = self.shot.kinds
        listings = [list_stream(self.binary, name, cwd, env, kinds) for name in names]
        # Render what the streams render, where they render it, then list
        # again the streams that read those images.
        rendered = set()
        for listing in listings:
            for _, path in listing.of("o"):
                if path.endswith(".tif"):
                    write(path, TIFF_LE + b"rendered")
                    rendered.add(os.path.normpath(path))
        self.rendered = rendered
        self.all_rendered |= rendered
        return [list_stream(self.binary, name, cwd, env, kinds) if listing.of("!") else listing
                for name, listing in zip(names, listings)]

    def package_again(self, moved, packaged, env):
        """Packaging the moved package adds no file, and loses none."""
        shot = self.shot
        again = os.path.join(self.tmp, "again")
        words = [self.binary] + (["-binary"] if shot.binary else [])
        if shot.use_root:
            words += ["-r", "."]
            for folder, _, _ in os.walk(moved):
                os.makedirs(os.path.join(again, os.path.relpath(folder, moved)), exist_ok=True)
        words += ["-package", again] + [("./" + n) if n.startswith("-") else n for n in packaged]
        result = subprocess.run(words, cwd=moved, env=env, capture_output=True, timeout=120)
        self.command = " ".join(words)
        if result.returncode != 0 or result.stderr:
            raise Failure("packaging the package: exit %d, stderr %r" % (
                result.returncode, result.stderr.decode("utf-8", "replace")))
        rendered = {os.path.relpath(p, moved) for p in self.all_rendered if inside(p, moved)}
        held = set(package_files(moved)) - rendered
        if set(package_files(again)) != held:
            raise Failure("the package packaged again: new %s, lost %s" % (
                sorted(set(package_files(again)) - held), sorted(held - set(package_files(again)))))

    def compare(self, original, listing, package, where):
        if listing.stderr:
            raise Failure("%s: stderr %r" % (where, listing.stderr))
        if self.shot.kinds:  # textures are left out of the package: moved away with the shot
            listing = Listing([(k, p) for k, p in listing.entries
                               if not (k == "!" and p.endswith(".tif"))], listing.stderr)
            original = {entry for entry in original if entry[0] != "t"}
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
                path = os.path.join(folder, name)
                if is_copy(path):
                    continue
                text = ascii_text(read(path))
                if not self.shot.kinds and self.shot.src + "/" in text:
                    raise Failure("%s names a source path" % path)
                for reference in re.findall(r'"\$\{VRXDIR\}/([^"]*)"', text):
                    if self.shot.kinds and reference in self.shot.stream_directory_names:
                        continue  # a kind left out of the package, as the shot names it
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


def package_files(package):
    """The files of a package, relative to it."""
    return sorted(os.path.relpath(os.path.join(d, n), package)
                  for d, _, names in os.walk(package) for n in names)


def is_copy(path):
    """A copied dependency (a texture, shader or procedural of the shot), not
    a stream."""
    with open(path, "rb") as f:
        head = f.read(len(SHADER))
    return head[:4] in (TIFF_LE[:4], b"MM\x00*") or head.startswith((SHADER.encode(), PROCEDURAL))


def snapshot(folder):
    """Every entry below folder with its bytes (or link target)."""
    entries = {}
    for d, dirs, names in os.walk(folder):
        for name in dirs + names:
            path = os.path.join(d, name)
            entries[path] = (os.readlink(path) if os.path.islink(path)
                             else read(path) if os.path.isfile(path) else None)
    return entries


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
