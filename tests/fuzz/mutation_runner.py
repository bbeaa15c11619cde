#!/usr/bin/env python3
"""Runs the whole program on randomly mutated copies of the bundled inputs.

Each run takes one input (examples/*.cci and tests/data/*.cci by default), shortens its
duration tEnd so that a run takes a fraction of a second, applies one to three mutations
(a number changed to another or to an extreme or garbage token, a line deleted, duplicated
or swapped, the file cut, bytes inserted, control bytes and NUL among them, a saved state
y.vec asked for), and runs the program binary, best one built with
-DTAVOLINE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug, in a fresh scratch folder with a timeout.

It records the exit status of every run and keeps as findings (input, y.vec, output) under
OUT/findings/:
  - a status other than the documented ones (0, 1, 2; 3 and 4 are accepted too),
  - a signal, a sanitizer report, a C++ exception text that escaped to the output,
  - a timeout;
and counts, as a statistic, refused inputs (status 1) that left files in the scratch
folder, and status-1 messages that name neither the input file nor y.vec.
OUT/summary.json holds the histogram and the statistics.

  tests/fuzz/mutation_runner.py --binary build-sanitize/tavoline --runs 2000 --jobs 2

The program is started directly, never through a shell, so no mutated text reaches one.
"""

import argparse
import collections
import concurrent.futures
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NAME = "m"  # the mutated input is m.cci, its run folder m/
DOCUMENTED_STATUS = {0, 1, 2, 3, 4}
SHORT_TEND = "0.05"  # [s] long enough for a few steps of every example

NUMBER = re.compile(rb"(?<![\w.+-])[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?(?![\w.])")
EXTREMES = [
    b"0", b"-0", b"1", b"-1", b"2", b"19", b"20", b"-2147483648", b"2147483647",
    b"2147483648", b"99999999999999999999", b"100000000", b"1e300", b"-1e300", b"1e-300",
    b"4.9e-324", b"2.2250738585072014e-308", b"1.797695e308", b"1e308", b"nan", b"inf",
    b"-inf", b"0x10", b"1,5", b"1e", b"+", b"-", b".", b"abc", b"--", b"1e-05", b"0.5",
    b"1e-20", b"1e20", b"1000", b"1001", b"-1000",
]
SANITIZER = re.compile(
    r"ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:|"
    r"UndefinedBehaviorSanitizer|Assertion .* failed|_GLIBCXX_ASSERTIONS|"
    r"Error: attempt to")
ESCAPED = re.compile(
    r"terminate called|std::|basic_string|vector::|_M_range_check|stoi|stod|bad_alloc|"
    r"filesystem error|unknown error")


def shorten(text):
    """The input with every tEnd value over SHORT_TEND set to it (the line after the
    comment that names tEnd)."""
    lines = text.split(b"\n")
    for i, line in enumerate(lines[:-1]):
        if line.startswith(b"--") and b"tEnd" in line:
            try:
                if float(lines[i + 1].split()[0]) > float(SHORT_TEND):
                    lines[i + 1] = SHORT_TEND.encode()
            except (ValueError, IndexError):
                pass
    return b"\n".join(lines)


def mutate_number(rng, text):
    spots = list(NUMBER.finditer(text))
    if not spots:
        return text, "no number"
    m = rng.choice(spots)
    old = m.group(0)
    kind = rng.random()
    if kind < 0.5:
        new = rng.choice(EXTREMES)
    elif kind < 0.75:
        try:
            new = repr(float(old) * 10.0 ** rng.randint(-12, 12)).encode()
        except ValueError:
            new = b"0"
    else:
        try:
            new = str(int(float(old)) + rng.choice([-2, -1, 1, 2, 10, 100])).encode()
        except (ValueError, OverflowError):
            new = b"1"
    return text[:m.start()] + new + text[m.end():], "number %r -> %r at %d" % (
        old.decode(), new.decode(errors="replace"), m.start())


def mutate_lines(rng, text):
    lines = text.split(b"\n")
    if len(lines) < 2:
        return text, "too short for a line mutation"
    i, j = rng.randrange(len(lines)), rng.randrange(len(lines))
    kind = rng.choice(["delete", "duplicate", "swap"])
    if kind == "delete":
        del lines[i]
    elif kind == "duplicate":
        lines.insert(i, lines[i])
    else:
        lines[i], lines[j] = lines[j], lines[i]
    return b"\n".join(lines), "%s line %d%s" % (kind, i + 1, " and %d" % (j + 1) if kind == "swap" else "")


def mutate_bytes(rng, text):
    kind = rng.choice(["cut", "insert", "replace", "crlf", "strip-end"])
    pos = rng.randrange(len(text) + 1)
    if kind == "cut":
        return text[:pos], "cut at %d" % pos
    if kind == "crlf":
        return text.replace(b"\n", b"\r\n"), "CR LF line ends"
    if kind == "strip-end":
        return text.rstrip(b"\n"), "no final line end"
    pool = [b"\x00", b"\r", b"\t", b"\x0b", b"\x0c", b"\x1b", b"\x7f", b"\xff", b"\xc3\xa9",
            b":", b"-", b"#", b" ", b"\n", b"e", b"."]
    chunk = b"".join(rng.choice(pool) if rng.random() < 0.7 else bytes([rng.randrange(256)])
                     for _ in range(rng.randint(1, 4)))
    if kind == "insert":
        return text[:pos] + chunk + text[pos:], "insert %r at %d" % (chunk, pos)
    return text[:pos] + chunk + text[pos + len(chunk):], "replace %r at %d" % (chunk, pos)


def ask_for_saved_state(text):
    lines = text.split(b"\n")
    for i, line in enumerate(lines[:-1]):
        if line.startswith(b"--") and b"y.vec" in line:
            lines[i + 1] = b"1"
            return b"\n".join(lines), "loadYvec 1"
    return text, "no loadYvec"


def mutate(rng, text):
    steps = []
    for _ in range(rng.choice([1, 1, 1, 2, 2, 3])):
        r = rng.random()
        if r < 0.5:
            text, what = mutate_number(rng, text)
        elif r < 0.7:
            text, what = mutate_lines(rng, text)
        elif r < 0.92:
            text, what = mutate_bytes(rng, text)
        else:
            text, what = ask_for_saved_state(text)
        steps.append(what)
    return text, steps


def saved_state_of(binary, text):
    """y.vec of an unmutated run of `text`, or None."""
    scratch = tempfile.mkdtemp(prefix="tavoline-mutation-")
    try:
        with open(os.path.join(scratch, NAME + ".cci"), "wb") as f:
            f.write(text)
        subprocess.run([binary, "-q", NAME], cwd=scratch, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        for root, _, files in sorted(os.walk(os.path.join(scratch, NAME))):
            if "y.vec" in files and "spectrum" not in root:
                with open(os.path.join(root, "y.vec"), "rb") as f:
                    return f.read()
    except subprocess.TimeoutExpired:
        pass
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return None


class Campaign:
    def __init__(self, args, bases):
        self.args = args
        self.bases = bases  # [(name, text, saved state or None)]
        self.lock = threading.Lock()
        self.status = collections.Counter()
        self.left_files = collections.Counter()
        self.refused = 0
        self.refused_with_files = 0
        self.unclear_messages = 0
        self.timeouts = 0
        self.findings = []
        self.seconds = []
        self.done = 0
        os.makedirs(os.path.join(args.out, "findings"), exist_ok=True)

    def run_one(self, index):
        rng = random.Random(self.args.seed * 1000003 + index)
        base_name, base_text, base_state = rng.choice(self.bases)
        text, steps = mutate(rng, base_text)
        state = None
        if base_state is not None and rng.random() < 0.5:
            state = base_state
            if rng.random() < 0.3:
                state, what = mutate_number(rng, state) if rng.random() < 0.6 else mutate_bytes(rng, state)
                steps.append("y.vec: " + what)
        quiet = rng.random() < 0.9
        scratch = tempfile.mkdtemp(prefix="tavoline-mutation-")
        try:
            with open(os.path.join(scratch, NAME + ".cci"), "wb") as f:
                f.write(text)
            if state is not None:
                with open(os.path.join(scratch, "y.vec"), "wb") as f:
                    f.write(state)
            env = dict(os.environ,
                       ASAN_OPTIONS="detect_leaks=1:exitcode=86",
                       UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=87")
            start = time.monotonic()
            timed_out = False
            try:
                proc = subprocess.run([self.args.binary] + (["-q"] if quiet else []) + [NAME],
                                      cwd=scratch, stdin=subprocess.DEVNULL,
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                      timeout=self.args.timeout, env=env)
                status, output = proc.returncode, proc.stdout.decode(errors="replace")
            except subprocess.TimeoutExpired as e:
                timed_out = True
                status = "timeout"
                output = (e.stdout or b"").decode(errors="replace")
            seconds = time.monotonic() - start
            left = sorted(p for p in os.listdir(scratch) if p not in (NAME + ".cci", "y.vec"))
            self.record(index, base_name, steps, text, state, status, output, seconds, left,
                        timed_out)
        finally:
            shutil.rmtree(scratch, ignore_errors=True)

    def record(self, index, base, steps, text, state, status, output, seconds, left, timed_out):
        kinds = []
        if timed_out:
            kinds.append("timeout")
        elif status < 0:
            kinds.append("signal%d" % -status)
        elif status not in DOCUMENTED_STATUS:
            kinds.append("status%d" % status)
        if SANITIZER.search(output):
            kinds.append("sanitizer")
        if ESCAPED.search(output):
            kinds.append("escaped-exception")
        with self.lock:
            self.done += 1
            self.status[str(status)] += 1
            self.seconds.append(seconds)
            if timed_out:
                self.timeouts += 1
            if status == 1:
                self.refused += 1
                if left:
                    self.refused_with_files += 1
                    for p in left:
                        self.left_files[re.sub(r"\d{4}-\d\d-\d\dT[\d-]+", "DATE", p)] += 1
                tail = output.strip().splitlines()[-3:] if output.strip() else []
                if not any(NAME + ".cci" in t or "y.vec" in t for t in tail):
                    self.unclear_messages += 1
                    kinds.append("unclear-message")
            if kinds:
                folder = os.path.join(self.args.out, "findings",
                                      "%06d-%s" % (index, "-".join(kinds)))
                os.makedirs(folder, exist_ok=True)
                with open(os.path.join(folder, NAME + ".cci"), "wb") as f:
                    f.write(text)
                if state is not None:
                    with open(os.path.join(folder, "y.vec"), "wb") as f:
                        f.write(state)
                with open(os.path.join(folder, "output.txt"), "w") as f:
                    f.write("base %s, mutations: %s\nstatus %s, %.2f s, left %s\n\n%s" %
                            (base, "; ".join(steps), status, seconds, left, output[-20000:]))
                self.findings.append({"run": index, "base": base, "kinds": kinds,
                                      "status": status, "mutations": steps})
            if self.done % 500 == 0:
                print("%d runs: %s, %d findings" % (self.done, dict(self.status),
                                                     len(self.findings)), flush=True)

    def summary(self, wall):
        secs = sorted(self.seconds)
        kinds = collections.Counter(k for f in self.findings for k in f["kinds"])
        return {
            "runs": self.done,
            "wall_seconds": round(wall, 1),
            "status": dict(sorted(self.status.items())),
            "timeouts": self.timeouts,
            "run_seconds_median": round(secs[len(secs) // 2], 3) if secs else None,
            "run_seconds_max": round(secs[-1], 3) if secs else None,
            "refused": self.refused,
            "refused_that_left_files": self.refused_with_files,
            "files_left_by_refused_runs": dict(self.left_files.most_common(20)),
            "refused_with_unclear_message": self.unclear_messages,
            "finding_kinds": dict(kinds),
            "findings": self.findings[:200],
        }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("inputs", nargs="*", help="inputs to mutate (default: the bundled ones)")
    parser.add_argument("--binary", default=os.path.join(TOP, "build-sanitize", "tavoline"))
    parser.add_argument("--runs", type=int, default=1000)
    parser.add_argument("--jobs", type=int, default=2, help="runs at once (default 2)")
    parser.add_argument("--timeout", type=float, default=20, help="seconds per run")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--first", type=int, default=0, help="index of the first run")
    parser.add_argument("--out", default=os.path.join(TOP, "build-fuzz", "mutation"))
    args = parser.parse_args()
    args.binary = os.path.abspath(args.binary)
    if not os.access(args.binary, os.X_OK):
        sys.exit("mutation_runner: no program at %s (build it first)" % args.binary)
    paths = args.inputs or sorted(
        os.path.join(d, f) for d in (os.path.join(TOP, "examples"), os.path.join(TOP, "tests", "data"))
        for f in os.listdir(d) if f.endswith(".cci"))
    bases = []
    for p in paths:
        with open(p, "rb") as f:
            text = shorten(f.read())
        bases.append((os.path.basename(p), text, saved_state_of(args.binary, text)))
    campaign = Campaign(args, bases)
    start = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for future in [pool.submit(campaign.run_one, i)
                       for i in range(args.first, args.first + args.runs)]:
            future.result()
    summary = campaign.summary(time.monotonic() - start)
    with open(os.path.join(args.out, "summary.json"), "w") as f:
        json.dump(summary, f, indent=1)
    print(json.dumps({k: v for k, v in summary.items() if k != "findings"}, indent=1))
    bad = sum(1 for f in campaign.findings if set(f["kinds"]) - {"unclear-message"})
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
