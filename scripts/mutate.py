#!/usr/bin/env python3
"""Mutation testing: how many small injected faults do the unit tests catch?

Injects one small fault at a time into src/ (a flipped comparison or logic
operator, an off-by-one constant, a swapped boolean return, a dropped
negation), rebuilds, runs the unit tests (no display needed) and reports
each fault as killed (a test failed), survived, timeout (counted as killed)
or stillborn (did not compile; not counted). Faults are picked at random
with a fixed seed, so a run can be repeated.

Most faults are caught by the tests of their own layer, so those are built
and run first (the programs in the folder of tests/ that mirrors the
fault's folder of src/); only a fault they all miss costs a build of
everything and a run of the other unit tests.

  scripts/mutate.py [--seed N] [--count N] [--build DIR] [--list] [--only K] [--start K]

The source file is always restored, also when the run is interrupted.
"""

import argparse
import concurrent.futures
import json
import os
import random
import re
import subprocess
import sys
import time
from pathlib import Path

TOP = Path(__file__).resolve().parent.parent
# Code that only the display tests can see, and texts, are left out.
EXCLUDED = re.compile(r"^src/ui/fltk/|/main\.cpp$|/help\.cpp$")

# (name, pattern on code with strings and comments blanked, replacement)
RELATIONS = {" < ": " >= ", " >= ": " < ", " > ": " <= ", " <= ": " > ",
             " == ": " != ", " != ": " == "}
OPERATORS = [
    ("relation", re.compile(r" (<|>|<=|>=|==|!=) "), lambda m: RELATIONS[m.group(0)]),
    ("logic", re.compile(r" (&&|\|\|) "), lambda m: " || " if "&" in m.group(0) else " && "),
    ("return", re.compile(r"\breturn (true|false);"),
     lambda m: "return false;" if "true" in m.group(0) else "return true;"),
    ("negation", re.compile(r"!(?=[A-Za-z_(*])"), lambda m: ""),
    ("constant", re.compile(r"(?<![\w.])(\d+)(?![\w.'])"), lambda m: str(int(m.group(1)) + 1)),
    ("plus-minus", re.compile(r" ([+-]) 1\b"), lambda m: " - 1" if "+" in m.group(0) else " + 1"),
]


def blank_strings_and_comments(lines):
    """The lines with string and character literals and comments replaced
    by blanks of the same length, so columns still match."""
    out, in_block = [], False
    for line in lines:
        chars, i = list(line), 0
        while i < len(chars):
            if in_block:
                if line.startswith("*/", i):
                    chars[i] = chars[i + 1] = " "
                    in_block, i = False, i + 2
                    continue
                chars[i] = " "
            elif line.startswith("/*", i):
                in_block = True
                continue
            elif line.startswith("//", i):
                chars[i:] = " " * (len(chars) - i)
                break
            elif chars[i] in "\"'":
                quote, j = chars[i], i + 1
                while j < len(chars) and chars[j] != quote:
                    j += 2 if chars[j] == "\\" else 1
                for k in range(i + 1, min(j, len(chars))):
                    chars[k] = " "
                i = j
            i += 1
        out.append("".join(chars))
    return out


def candidates():
    """Every place a fault could go: (file, line index, column, end, text)."""
    found = []
    for path in sorted((TOP / "src").rglob("*.cpp")):
        rel = path.relative_to(TOP).as_posix()
        if EXCLUDED.search(rel):
            continue
        lines = path.read_text(encoding="utf-8").split("\n")
        for index, code in enumerate(blank_strings_and_comments(lines)):
            stripped = code.strip()
            if not stripped or stripped.startswith(("#", "static_assert")):
                continue
            for name, pattern, replace in OPERATORS:
                for match in pattern.finditer(code):
                    found.append((rel, index, match.start(), match.end(), name, replace(match)))
    return found


def pick(everything, count, seed):
    """`count` faults, each of a kind chosen at random first, so that the
    many constants do not crowd out the comparisons and the logic."""
    rng = random.Random(seed)
    by_kind = {}
    for mutant in everything:
        by_kind.setdefault(mutant[4], []).append(mutant)
    for places in by_kind.values():
        rng.shuffle(places)
    picked = []
    while len(picked) < count and any(by_kind.values()):
        kind = rng.choice(sorted(kind for kind, places in by_kind.items() if places))
        picked.append(by_kind[kind].pop())
    return picked


def describe(mutant):
    rel, index, start, end, name, text = mutant
    line = (TOP / rel).read_text(encoding="utf-8").split("\n")[index]
    return f"{rel}:{index + 1} {name}: `{line[start:end]}` -> `{text}` in `{line.strip()}`"


def build(build_dir, targets=()):
    """Builds `targets`, or everything when there are none."""
    command = ["cmake", "--build", str(build_dir), "-j", str(os.cpu_count() or 2)]
    if targets:
        command += ["--target", *targets]
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return result.returncode == 0, result.stdout


def unit_tests(build_dir):
    """The unit test programs (CTest's label "unit"), each with the folder
    of its source under tests/."""
    listing = subprocess.run(["ctest", "--test-dir", str(build_dir), "-L", "unit",
                              "--show-only=json-v1"], capture_output=True, text=True, check=True)
    # GoogleTest programs only: the fuzz replays share the label but not the command line.
    programs = sorted({Path(test["command"][0]) for test in json.loads(listing.stdout)["tests"]
                       if any(arg.startswith("--gtest_filter") for arg in test.get("command", []))})

    def folder(program):
        sources = sorted((TOP / "tests").rglob(program.name + ".cpp"))
        return sources[0].parent.relative_to(TOP / "tests").as_posix() if sources else ""

    return {program: folder(program) for program in programs}


def run_program(program, timeout):
    # In the program's own folder, as CTest runs it: a fault that writes
    # beside a relative path leaves its files in the build, not in the sources.
    try:
        result = subprocess.run([str(program), "--gtest_brief=1"], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=timeout, cwd=program.parent,
                                env=dict(os.environ, DISPLAY=""))
        return "passed" if result.returncode == 0 else "killed"
    except subprocess.TimeoutExpired:
        return "timeout"


def run_tests(programs, timeouts):
    """The first verdict other than passed, or passed; two programs at a time."""
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        pending = {pool.submit(run_program, p, timeouts.get(p, 300)): p for p in programs[:2]}
        queue = programs[2:]
        while pending:
            done, _ = concurrent.futures.wait(pending, return_when="FIRST_COMPLETED")
            for future in done:
                pending.pop(future)
                verdict = future.result()
                if verdict != "passed":
                    for other in pending:
                        other.cancel()
                    return verdict
                if queue:
                    program = queue.pop(0)
                    pending[pool.submit(run_program, program, timeouts.get(program, 300))] = program
    return "passed"


def judge(mutant, build_dir, folders, timeouts):
    """The verdict on the fault in place: its layer's tests first, built
    alone; the rest only when they all pass."""
    layer = Path(mutant[0]).parent.relative_to("src").as_posix()
    first = [program for program, folder in folders.items() if folder == layer]
    rest = [program for program in folders if program not in first]
    if first:
        ok, _ = build(build_dir, [program.name for program in first])
        if not ok:
            return "stillborn"
        verdict = run_tests(first, timeouts)
        if verdict != "passed":
            return verdict
    ok, _ = build(build_dir)
    if not ok:
        return "stillborn"
    verdict = run_tests(rest, timeouts)
    return "survived" if verdict == "passed" else verdict


def apply(mutant):
    rel, index, start, end, _, text = mutant
    path = TOP / rel
    original = path.read_bytes()
    lines = original.decode("utf-8").split("\n")
    lines[index] = lines[index][:start] + text + lines[index][end:]
    path.write_text("\n".join(lines), encoding="utf-8")
    return path, original


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=60)
    parser.add_argument("--build", default="build-mutate", help="build folder (made if missing)")
    parser.add_argument("--list", action="store_true", help="list the picked faults and stop")
    parser.add_argument("--only", type=int, help="run only fault number K of the pick")
    parser.add_argument("--start", type=int, default=1, help="resume a run at fault number K")
    args = parser.parse_args()

    everything = candidates()
    picked = pick(everything, args.count, args.seed)
    print(f"{len(everything)} places; seed {args.seed}; {len(picked)} faults", flush=True)
    if args.list:
        for number, mutant in enumerate(picked, 1):
            print(f"{number:3} {describe(mutant)}")
        return 0

    build_dir = (TOP / args.build).resolve()
    if not (build_dir / "CMakeCache.txt").exists():
        subprocess.run(["cmake", "-S", str(TOP), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
                        "-DZAVO_TESTS=ON", "-DZAVO_WERROR=OFF"], check=True, stdout=subprocess.DEVNULL)
    ok, log = build(build_dir)
    if not ok:
        sys.exit("the unmutated tree does not build:\n" + log[-3000:])
    folders = unit_tests(build_dir)
    timeouts = {}
    for program in folders:
        started = time.monotonic()
        if run_program(program, 900) != "passed":
            sys.exit(f"{program.name} fails on the unmutated tree")
        timeouts[program] = 30 + 5 * (time.monotonic() - started)

    tally = {"killed": 0, "survived": 0, "timeout": 0, "stillborn": 0}
    for number, mutant in enumerate(picked, 1):
        if number < args.start or (args.only is not None and number != args.only):
            continue
        text = describe(mutant)
        path, original = apply(mutant)
        started = time.monotonic()
        try:
            verdict = judge(mutant, build_dir, folders, timeouts)
        finally:
            path.write_bytes(original)
        tally[verdict] += 1
        print(f"{number:3} {verdict:9} {time.monotonic() - started:4.0f} s  {text}", flush=True)

    build(build_dir)
    caught = tally["killed"] + tally["timeout"]
    counted = caught + tally["survived"]
    score = 100.0 * caught / counted if counted else 0.0
    print(f"killed {tally['killed']}, timeout {tally['timeout']}, survived {tally['survived']}, "
          f"stillborn {tally['stillborn']}: {score:.1f} % of {counted} caught")
    return 0


if __name__ == "__main__":
    sys.exit(main())
