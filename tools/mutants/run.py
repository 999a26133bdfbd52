#!/usr/bin/env python3
"""Plants each bug of a mutant list in a copy of the tree and runs the tests
that should catch it: a mutant the tests catch is killed, one they pass is a
survivor (a hole in the tests), one that does not build counts as neither.

    tools/mutants/run.py tools/mutants/list.txt [--only NAME]...

The list holds one mutant a block:

    == a short name
    path/to/file.cpp
    tests: ctest name pattern
    <<<
    exact text, found once in the file
    ===
    the text it becomes
    >>>

The copy and its dev build live in /tmp/quorrel-mutants, or $QUORREL_MUTANTS (built once, then
rebuilt incrementally per mutant); the tree itself is never touched.
"""
import argparse
import os
import pathlib
import re
import shutil
import subprocess
import sys

WORK = pathlib.Path(os.environ.get("QUORREL_MUTANTS", "/tmp/quorrel-mutants"))
TIME_LIMIT = 600  # seconds a mutant's tests may take: a mutant that hangs is caught


def read_list(path):
    mutants = []
    text = pathlib.Path(path).read_text(encoding="utf-8")
    for block in re.split(r"^== ", text, flags=re.M)[1:]:
        head, _, rest = block.partition("<<<\n")
        before, _, after = rest.partition("===\n")
        after = after.split(">>>")[0]
        lines = head.splitlines()
        tests = next(l[len("tests:"):].strip() for l in lines if l.startswith("tests:"))
        mutants.append({"name": lines[0].strip(), "file": lines[1].strip(), "tests": tests,
                        "before": before, "after": after})
    return mutants


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kwargs)


def prepare(root):
    source = WORK / "src"
    WORK.mkdir(exist_ok=True)
    # Files that changed are copied with the time of the copy (not the
    # tree's), so the build always sees them as newer than what it made.
    run(["rsync", "-rl", "--checksum", "--delete", "--exclude", "build/", "--exclude", ".git/", f"{root}/",
         f"{source}/"], check=True)
    build = source / "build" / "dev"
    if not (build / "build.ninja").exists():
        run(["cmake", "--preset", "dev"], cwd=source, check=True)
    done = run(["cmake", "--build", str(build), "-j2"], cwd=source)
    if done.returncode != 0:
        sys.exit("the unchanged tree does not build:\n" + done.stdout[-3000:])
    return source, build


def try_mutant(source, build, mutant):
    path = source / mutant["file"]
    original = path.read_text(encoding="utf-8")
    if original.count(mutant["before"]) != 1:
        return "not found once"
    path.write_text(original.replace(mutant["before"], mutant["after"]), encoding="utf-8")
    try:
        if run(["cmake", "--build", str(build), "-j2"], cwd=source).returncode != 0:
            return "does not build"
        try:
            tests = run(["ctest", "--test-dir", str(build), "-j2", "-R", mutant["tests"], "--timeout", "300"],
                        timeout=TIME_LIMIT)
        except subprocess.TimeoutExpired:
            return "killed (hang)"
        if "No tests were found" in tests.stdout:
            return "no tests match"
        return "killed" if tests.returncode != 0 else "SURVIVED"
    finally:
        path.write_text(original, encoding="utf-8")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("list")
    parser.add_argument("--only", action="append", help="run the mutants whose name holds this (repeatable)")
    parser.add_argument("--root", default=str(pathlib.Path(__file__).resolve().parents[2]))
    arguments = parser.parse_args()
    mutants = [m for m in read_list(arguments.list) if not arguments.only or any(o in m["name"] for o in arguments.only)]
    source, build = prepare(arguments.root)
    counted = killed = 0
    for mutant in mutants:
        verdict = try_mutant(source, build, mutant)
        print(f"{verdict:16} {mutant['name']}", flush=True)
        if verdict.startswith("killed") or verdict == "SURVIVED":
            counted += 1
            killed += verdict.startswith("killed")
    # Leave the copy built as the tree is, for the next run.
    run(["cmake", "--build", str(build), "-j2"], cwd=source)
    print(f"killed {killed} of {counted} mutants ({100 * killed // max(counted, 1)}%)")


if __name__ == "__main__":
    main()
