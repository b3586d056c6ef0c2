#!/usr/bin/env python3
"""Runs the shell examples of the README and of docs/*.md, so that every
command the pages show keeps running as shown.

An example is a fenced block whose info string is `sh example`, optionally
followed by `exit=N` when the block ends with exit status N (frameconv and
clipmerge end every run with 1). Each runs with `sh -e` in a fresh temporary
folder laid out as a checkout after `./build.sh example`: build.sh,
blender/ and examples/ copied from the sources, build/ holding the three
programs, build/example the bundled example converted; build/ is also first
on PATH.

usage: doc_examples.py SOURCE_DIR FRAMECONV CLIPMERGE INSPECT3D CMAKE
"""
import os
import shutil
import subprocess
import sys
import tempfile

kTimeoutSeconds = 120


def example_blocks(page, shown):
    """Yields (line, script, exit_status) for each example of a page, and
    raises ValueError for a marking it cannot read or a block left open;
    shown is the page's name in messages."""
    lines = open(page, encoding="utf-8").read().split("\n")
    at = 0
    while at < len(lines):
        line = lines[at]
        at += 1
        if not line.startswith("```"):
            continue
        words = line[3:].split()
        start = at
        while at < len(lines) and not lines[at].startswith("```"):
            at += 1
        if at == len(lines):
            raise ValueError(f"{shown}:{start}: a fenced block that is never closed")
        at += 1
        if words[:2] != ["sh", "example"]:
            continue
        exit_status = 0
        for option in words[2:]:
            name, _, value = option.partition("=")
            if name != "exit" or not value.isdigit():
                raise ValueError(f"{shown}:{start}: unknown marking {option!r} (only exit=N)")
            exit_status = int(value)
        yield start, "\n".join(lines[start:at - 1]) + "\n", exit_status


def lay_out(folder, source, programs):
    """Fills folder as a checkout looks after ./build.sh example."""
    shutil.copy2(os.path.join(source, "build.sh"), folder)
    ignore = shutil.ignore_patterns("__pycache__")
    for name in ("blender", "examples"):
        shutil.copytree(os.path.join(source, name), os.path.join(folder, name), ignore=ignore)
    build = os.path.join(folder, "build")
    example = os.path.join(build, "example")
    os.makedirs(example)
    for name, program in programs.items():
        os.symlink(program, os.path.join(build, name))
    frames = os.path.join(source, "examples", "twisting-box")
    for name in sorted(os.listdir(frames)):
        if name.endswith(".obj"):
            shutil.copy2(os.path.join(frames, name), example)
    subprocess.run([os.path.join(build, "frameconv")], cwd=example, stdout=subprocess.DEVNULL,
                   timeout=kTimeoutSeconds)
    if not os.path.isfile(os.path.join(example, "aniv00.3d")):
        raise RuntimeError("frameconv did not convert the bundled example")
    return build


def main(argv):
    if len(argv) != 6:
        print(__doc__.strip().split("\n")[-1], file=sys.stderr)
        return 2
    source = os.path.abspath(argv[1])
    programs = {name: os.path.abspath(path)
                for name, path in zip(("frameconv", "clipmerge", "inspect3d"), argv[2:5])}
    cmake_dir = os.path.dirname(os.path.abspath(argv[5]))
    docs = os.path.join(source, "docs")
    pages = [os.path.join(source, "README.md")] + sorted(
        os.path.join(docs, name) for name in os.listdir(docs) if name.endswith(".md"))

    run_count = 0
    failed_runs = 0
    failures = []
    for page in pages:
        shown = os.path.relpath(page, source)
        try:
            blocks = list(example_blocks(page, shown))
        except ValueError as error:
            failures.append(str(error))
            continue
        for line, script, expected in blocks:
            run_count += 1
            with tempfile.TemporaryDirectory(prefix="doc-example-") as folder:
                build = lay_out(folder, source, programs)
                env = dict(os.environ, PATH=os.pathsep.join([build, cmake_dir, os.environ.get("PATH", "")]))
                try:
                    run = subprocess.run(["sh", "-e", "-c", script], cwd=folder, env=env, capture_output=True,
                                         text=True, timeout=kTimeoutSeconds)
                    status, out, err = run.returncode, run.stdout, run.stderr
                except subprocess.TimeoutExpired:
                    status, out, err = "a time-out", "", ""
            if status == expected:
                print(f"ok {shown}:{line}")
            else:
                failed_runs += 1
                failures.append(f"{shown}:{line}: exit status {status}, not {expected}\n"
                                f"--- block\n{script}--- stdout\n{out}--- stderr\n{err}")
    for failure in failures:
        print("FAILED " + failure)
    if run_count == 0:
        print("FAILED no block marked `sh example` in " + ", ".join(os.path.relpath(p, source) for p in pages))
        return 1
    print(f"{run_count - failed_runs} of {run_count} examples ran as shown")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
