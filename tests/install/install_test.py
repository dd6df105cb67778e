#!/usr/bin/env python3
"""Installation checks, one case per run:

  install_test.py --case NAME --source SRC --build BUILD --work DIR --tracwell EXE
                  --plugin-dir LIBDIR/splineexport --cmake CMAKE --ctest CTEST
                  -- CONFIGURE-ARGS...

installed_deliverables   `cmake --install` of BUILD: exactly the two deliverables,
                         no run path, and the installed tracwell lists the example shot
plugin_against_products  the stand-ins installed as product folders, a second build of
                         the plug-in against them alone, and its tests run there
wrong_product_folder     product folders that lack a file stop the configuration with a
                         message naming it

Each case works in DIR/NAME, made afresh; a failing case keeps it.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys

PRODUCT_VARIABLES = ("SPLINEEXPORT_MAYA_ROOT", "SPLINEEXPORT_XGEN_ROOT",
                     "SPLINEEXPORT_RENDERER_ROOT")
# What each product folder must hold, as the plug-in's build looks for it.
PRODUCT_FILES = {
    "SPLINEEXPORT_MAYA_ROOT": ["include/maya/MFnPlugin.h", "lib/libOpenMaya.so"],
    "SPLINEEXPORT_XGEN_ROOT": ["include/XGen/XgSplineAPI.h", "lib/libAdskXGen.so"],
    "SPLINEEXPORT_RENDERER_ROOT": ["lib/libzephrin.so"],
}
RENDERER_FUNCTIONS = ("VRXBegin", "VRXEnd", "VRXCreate", "VRXDelete", "VRXSetAttribute",
                      "VRXSetAttributeAtTime", "VRXDeleteAttribute", "VRXConnect",
                      "VRXDisconnect", "VRXEvaluate", "VRXRenderControl")


class Failure(Exception):
    pass


def run(args, cwd=None, env=None, expect_success=True):
    result = subprocess.run(args, cwd=cwd, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=540)
    output = result.stdout.decode("utf-8", "replace")
    if expect_success and result.returncode != 0:
        raise Failure("%s\nexited %d:\n%s" % (" ".join(args), result.returncode, output))
    return result.returncode, output


def files_below(root):
    found = set()
    for folder, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


def run_paths(path):
    """The RPATH and RUNPATH entries of an ELF file's dynamic section."""
    _, output = run(["readelf", "-d", path])
    return [line.strip() for line in output.splitlines() if "(RPATH)" in line or
            "(RUNPATH)" in line]


def needed_libraries(path):
    _, output = run(["readelf", "-d", path])
    return [line.split("[", 1)[1].rstrip("]") for line in output.splitlines()
            if "(NEEDED)" in line]


def plain_environment(home):
    return {"PATH": "/usr/local/bin:/usr/bin:/bin", "HOME": home, "LC_ALL": "C"}


def installed_deliverables(opts, work):
    prefix = os.path.join(work, "prefix")
    run([opts.cmake, "--install", opts.build, "--prefix", prefix])
    tracwell = os.path.join(prefix, "bin", "tracwell")
    plugin = os.path.join(prefix, opts.plugin_dir, "splineexport.so")
    expected = {os.path.relpath(tracwell, prefix), os.path.relpath(plugin, prefix)}
    installed = files_below(prefix)
    if installed != expected:
        raise Failure("installed %s, expected %s" % (sorted(installed), sorted(expected)))
    for path in (tracwell, plugin):
        if run_paths(path):
            raise Failure("'%s' keeps a run path: %s" % (path, run_paths(path)))

    # From a folder that has nothing to do with the build, with a plain PATH.
    elsewhere = os.path.join(work, "elsewhere")
    os.makedirs(elsewhere)
    shot = os.path.join(opts.source, "examples", "shot")
    streams = [os.path.join(shot, "shot.rib"), os.path.join(shot, "lights.rib")]
    env = plain_environment(elsewhere)
    _, listing = run([tracwell] + streams, cwd=elsewhere, env=env)
    for line in ("a %s/set.rib" % shot, "a %s/props/props.rib.gz" % shot,
                 "p %s/procedurals/scatter.lua" % shot):
        if line not in listing.splitlines():
            raise Failure("no line '%s' in the installed tracwell's listing:\n%s" % (line, listing))
    _, built = run([opts.tracwell] + streams, cwd=elsewhere, env=env)
    if listing != built:
        raise Failure("the installed tracwell lists\n%s\nthe built one\n%s" % (listing, built))


def configure(opts, build, roots, extra=()):
    args = [opts.cmake, "-S", opts.source, "-B", build, "-G", "Ninja", "-DZP_BUILD_BENCH=OFF"]
    args += opts.configure + ["-D%s=%s" % (k, v) for k, v in roots.items()] + list(extra)
    return run(args, expect_success=False)


def check_product_prefix(prefix):
    for relative in sorted({f for files in PRODUCT_FILES.values() for f in files}):
        if not os.path.isfile(os.path.join(prefix, relative)):
            raise Failure("the product prefix has no '%s'" % relative)
    _, symbols = run(["readelf", "--dyn-syms", "-W", os.path.join(prefix, "lib/libzephrin.so")])
    for function in RENDERER_FUNCTIONS:
        if "%s@@ZEPHRIN_1.0" % function not in symbols:
            raise Failure("lib/libzephrin.so does not export %s@@ZEPHRIN_1.0" % function)


def check_command_lines(opts, build, prefix):
    """Every command that builds the plug-in and its tests uses the prefix,
    never the stand-ins' sources or this build's copies of them."""
    _, commands = run(["ninja", "-C", build, "-t", "commands", "splineexport_tests"])
    forbidden = [os.path.join(opts.source, "standins"), os.path.join(opts.build, "standins")]
    for line in commands.splitlines():
        for path in forbidden:
            if path in line:
                raise Failure("a command names '%s':\n%s" % (path, line))
    with open(os.path.join(build, "compile_commands.json")) as f:
        entries = json.load(f)
    plugin_sources = os.path.join(opts.source, "splineexport") + os.sep
    plugin_compiles = [e["command"] for e in entries if e["file"].startswith(plugin_sources)]
    if not plugin_compiles or not all(os.path.join(prefix, "include") in c
                                      for c in plugin_compiles):
        raise Failure("the plug-in is not compiled with '%s/include':\n%s"
                      % (prefix, "\n".join(plugin_compiles)))
    links = [line for line in commands.splitlines() if "-o splineexport/splineexport.so" in line]
    if len(links) != 1 or "%s/lib/libzephrin.so" % prefix not in links[0]:
        raise Failure("the plug-in is not linked from '%s/lib':\n%s" % (prefix, "\n".join(links)))


def plugin_against_products(opts, work):
    prefix = os.path.join(work, "products")
    run([opts.cmake, "--install", opts.build, "--component", "standin_products",
         "--prefix", prefix])
    check_product_prefix(prefix)

    build = os.path.join(work, "build")
    status, output = configure(opts, build, {v: prefix for v in PRODUCT_VARIABLES})
    if status != 0:
        raise Failure("configuring against '%s' failed:\n%s" % (prefix, output))
    run([opts.cmake, "--build", build, "--target", "splineexport_tests"])
    check_command_lines(opts, build, prefix)
    plugin = os.path.join(build, "splineexport", "splineexport.so")
    for library in ("libOpenMaya.so", "libAdskXGen.so", "libzephrin.so"):
        if library not in needed_libraries(plugin):
            raise Failure("'%s' does not need %s" % (plugin, library))
    for entry in run_paths(plugin):
        if "standins" in entry:
            raise Failure("'%s' looks for libraries in the stand-ins: %s" % (plugin, entry))
    run([opts.ctest, "--test-dir", build, "-L", "^splineexport$", "--no-tests=error",
         "--output-on-failure", "-j", "4"])


def write_product(root, files):
    os.makedirs(root, exist_ok=True)
    for relative in files:
        path = os.path.join(root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        open(path, "w").close()


def wrong_product_folder(opts, work):
    # Complete folders of empty files (configuring only looks for them), and
    # the same with one file left out.
    complete, lacking = {}, {}
    for variable, files in PRODUCT_FILES.items():
        complete[variable] = os.path.join(work, "complete", variable)
        write_product(complete[variable], files)
        lacking[variable] = os.path.join(work, "lacking", variable)
        write_product(lacking[variable], files[1:])
    maya, xgen, renderer = PRODUCT_VARIABLES
    cases = [
        ({maya: lacking[maya]},
         ["%s: no '%s/include/maya/MFnPlugin.h'" % (maya, lacking[maya])]),
        ({xgen: lacking[xgen]},
         ["%s: no '%s/include/XGen/XgSplineAPI.h'" % (xgen, lacking[xgen])]),
        ({renderer: lacking[renderer]},
         ["%s: no '%s/lib/libzephrin.so'" % (renderer, lacking[renderer])]),
        ({renderer: os.path.join(work, "nowhere")},
         ["%s: '%s' is not a folder" % (renderer, os.path.join(work, "nowhere"))]),
        ({xgen: "", renderer: ""},
         ["%s is not set" % xgen, "%s is not set" % renderer]),
    ]
    for index, (changes, lines) in enumerate(cases):
        roots = dict(complete, **changes)
        build = os.path.join(work, "build%d" % index)
        status, output = configure(opts, build, roots)
        reported = [l.strip() for l in output.splitlines() if l.startswith("    SPLINEEXPORT_")]
        if status == 0 or reported != lines:
            raise Failure("with %s: status %d, reported %s, expected %s:\n%s"
                          % (changes, status, reported, lines, output))
        if os.path.exists(os.path.join(build, "build.ninja")):
            raise Failure("with %s a build was generated" % changes)


CASES = {f.__name__: f for f in (installed_deliverables, plugin_against_products,
                                 wrong_product_folder)}


def main(argv):
    parser = argparse.ArgumentParser()
    for name in ("case", "source", "build", "work", "tracwell", "plugin-dir", "cmake", "ctest"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("configure", nargs="*")
    opts = parser.parse_args(argv[1:])
    work = os.path.join(opts.work, opts.case)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    try:
        CASES[opts.case](opts, work)
    except Failure as failure:
        print("FAIL %s (kept %s)\n%s" % (opts.case, work, failure))
        return 1
    shutil.rmtree(work)
    print("ok   %s" % opts.case)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
