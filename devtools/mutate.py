#!/usr/bin/env python3
"""Mutation testing: how many one-token faults in src/ or tools/ does the suite catch?

Each mutant changes one token of one source file: a comparison or logical
operator, an arithmetic or bitwise operator, an integer constant by one, the
boolean a function returns, the boundary of a loop condition, or a removed
`!`. Comments, string and character literals, preprocessor lines,
static_asserts and source files the build does not compile are never
touched. For each mutant the tool writes the file,
rebuilds its own build tree incrementally, runs the plain suite with ctest
(stopping at the first failure, every test under a timeout; --tests narrows
it to the tests whose names match a regular expression), restores the
file and prints the verdict: killed, survived or did not build. A mutant
whose build leaves every object file as it was (an #if branch this platform
skips, or a change the compiler folds away) is equivalent by construction:
it is reported as "same code" and, like one that did not build, not scored.

The mutants are drawn from a seed, so the same seed, count and files give the
same mutants. The original of the file under mutation is kept in a journal
in the build tree until it is restored; on Ctrl+C or any error the file is
restored before anything else, and a run that was killed outright restores
it at the start of the next run.
"""

import argparse
import fcntl
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# --- Tokens ---------------------------------------------------------------

TOKEN = re.compile(r"""
    (?P<ws>\s+)
  | (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<raw>(?:u8|[uUL])?R"(?P<delim>[^()\\\s]{0,16})\(.*?\)(?P=delim)")
  | (?P<string>(?:u8|[uUL])?"(?:\\.|[^"\\\n])*")
  | (?P<char>(?:u8|[uUL])?'(?:\\.|[^'\\\n])+')
  | (?P<number>\.?[0-9](?:[eEpP][+-]|'[0-9a-zA-Z]|[0-9a-zA-Z_.])*)
  | (?P<ident>[A-Za-z_][A-Za-z_0-9]*)
  | (?P<punct><=>|<<=|>>=|->\*|\.\.\.|::|->|\+\+|--|<<|>>|<=|>=|==|!=|&&|\|\||[-+*/%&|^]=|.)
""", re.VERBOSE | re.DOTALL)

PREPROCESSOR = re.compile(r"^[ \t]*#(?:[^\n]*\\\n)*[^\n]*", re.MULTILINE)


@dataclass
class Token:
    kind: str
    text: str
    start: int
    end: int


def tokenize(source):
    """The code tokens of `source`; preprocessor lines, comments and
    white space are dropped, literals are kept but marked."""
    blank = PREPROCESSOR.sub(lambda m: re.sub(r"[^\n]", " ", m.group()), source)
    tokens = []
    pos = 0
    while pos < len(blank):
        m = TOKEN.match(blank, pos)
        kind = m.lastgroup if m.lastgroup != "delim" else "raw"
        if kind not in ("ws", "comment"):
            tokens.append(Token(kind, m.group(), m.start(), m.end()))
        pos = m.end()
    return tokens


# --- Mutation sites ---------------------------------------------------------

COMPARISONS = ["<", "<=", ">", ">=", "==", "!="]
BOUNDARY = {"<": "<=", "<=": "<", ">": ">=", ">=": ">"}
BINARY = {
    "&&": ["||"], "||": ["&&"],
    "+": ["-"], "-": ["+"], "*": ["/"], "/": ["*"], "%": ["/"],
    "&": ["|", "^"], "|": ["&", "^"], "^": ["|", "&"],
    "<<": [">>"], ">>": ["<<"],
    "+=": ["-="], "-=": ["+="], "&=": ["|="], "|=": ["&="], "^=": ["|="],
}
INTEGER = re.compile(r"(0[xX][0-9a-fA-F']+|0[bB][01']+|[0-9][0-9']*)([uUlLzZ]*)")


@dataclass
class Site:
    path: str          # relative to the repository root
    start: int         # the token's span in the file
    end: int
    kind: str          # comparison, loop bound, logical, arithmetic, constant, return, negation
    original: str
    alternatives: list


def integer_neighbours(text):
    m = INTEGER.fullmatch(text)
    if not m:
        return []
    digits, suffix = m.group(1).replace("'", ""), m.group(2)
    if digits[:2] in ("0x", "0X"):
        value, base = int(digits, 16), "x"
    elif digits[:2] in ("0b", "0B"):
        value, base = int(digits[2:], 2), "b"
    elif len(digits) > 1 and digits[0] == "0":
        value, base = int(digits, 8), "o"
    else:
        value, base = int(digits), "d"

    def spell(v):
        if base == "x":
            hexdigits = format(v, "0%dx" % (len(digits) - 2))
            upper = any(c.isupper() for c in digits[2:])
            return digits[:2] + (hexdigits.upper() if upper else hexdigits) + suffix
        if base == "b":
            return digits[:2] + format(v, "b") + suffix
        if base == "o":
            return "0" + format(v, "o") + suffix
        return str(v) + suffix

    return [spell(v) for v in (value - 1, value + 1) if v >= 0]


def loop_conditions(tokens):
    """Indexes of the tokens that stand in the condition of a for or while."""
    inside = set()
    for i, t in enumerate(tokens):
        if t.text not in ("for", "while") or i + 1 >= len(tokens) or tokens[i + 1].text != "(":
            continue
        depth, semicolons, j = 0, [], i + 1
        while j < len(tokens):
            if tokens[j].text in "([{":
                depth += 1
            elif tokens[j].text in ")]}":
                depth -= 1
                if depth == 0:
                    break
            elif tokens[j].text == ";" and depth == 1:
                semicolons.append(j)
            j += 1
        if t.text == "while":
            inside.update(range(i + 2, j))
        elif len(semicolons) == 2:
            inside.update(range(semicolons[0] + 1, semicolons[1]))
    return inside


def find_sites(path, source):
    tokens = tokenize(source)
    in_loop = loop_conditions(tokens)
    skip_until = -1
    sites = []

    def spaced(t):
        return (t.start > 0 and source[t.start - 1].isspace()
                and t.end < len(source) and source[t.end].isspace())

    for i, t in enumerate(tokens):
        if i <= skip_until:
            continue
        if t.text == "static_assert":
            depth, j = 0, i + 1
            while j < len(tokens):
                depth += {"(": 1, ")": -1}.get(tokens[j].text, 0)
                if depth == 0:
                    break
                j += 1
            skip_until = j
            continue
        site = lambda kind, alts: sites.append(Site(path, t.start, t.end, kind, t.text, alts))
        if t.kind == "number":
            alts = integer_neighbours(t.text)
            if alts:
                site("constant", alts)
        elif t.kind != "punct" and t.kind != "ident":
            continue
        elif t.text in ("true", "false") and i > 0 and tokens[i - 1].text == "return" \
                and i + 1 < len(tokens) and tokens[i + 1].text == ";":
            site("return", ["false" if t.text == "true" else "true"])
        elif t.text == "!":
            site("negation", [""])
        elif t.text in COMPARISONS and spaced(t):
            if i in in_loop and t.text in BOUNDARY:
                site("loop bound", [BOUNDARY[t.text]])
            else:
                site("comparison", [c for c in COMPARISONS if c != t.text])
        elif t.text in BINARY and spaced(t):
            site("logical" if t.text in ("&&", "||") else "arithmetic", BINARY[t.text])
    return sites


def source_files(patterns, compiled):
    """The C++ files under src/ or tools/ that `patterns` (files, folders or
    globs, relative to the repository root) name, all of src/ by default, and
    how many were left out: .cpp files that are not in `compiled`, since the
    build of this platform never compiles them."""
    roots = (ROOT / "src", ROOT / "tools")
    chosen = set()
    for pattern in patterns or ["src"]:
        matches = sorted(ROOT.glob(pattern)) if any(c in pattern for c in "*?[") else [ROOT / pattern]
        for m in matches:
            m = m.resolve()
            if not m.exists():
                sys.exit(f"mutate: {pattern}: no such file")
            if not any(m == r or r in m.parents for r in roots):
                sys.exit(f"mutate: {pattern}: only files under src/ or tools/ are mutated")
            files = m.rglob("*") if m.is_dir() else [m]
            chosen.update(f for f in files if f.suffix in (".cpp", ".h"))
    kept = sorted(f for f in chosen if f.suffix == ".h" or f in compiled)
    return kept, len(chosen) - len(kept)


def draw_mutants(files, count, seed):
    """`count` mutants drawn at random, spread evenly over the kinds of
    change as far as each kind has sites: each round takes one more site of
    every kind that has one left, in a shuffled order, then one of its
    changes. Returns them in file order, and the number of sites."""
    by_kind = {}
    for f in files:
        rel = f.relative_to(ROOT).as_posix()
        for site in find_sites(rel, f.read_bytes().decode("latin-1")):
            by_kind.setdefault(site.kind, []).append(site)
    rng = random.Random(seed)
    pools = [rng.sample(by_kind[k], len(by_kind[k])) for k in sorted(by_kind)]
    picked = []
    while len(picked) < count and any(pools):
        rng.shuffle(pools)
        for pool in pools:
            if pool and len(picked) < count:
                site = pool.pop()
                picked.append((site, rng.choice(site.alternatives)))
    picked.sort(key=lambda p: (p[0].path, p[0].start))
    return picked, sum(len(v) for v in by_kind.values())


# --- The file under mutation ------------------------------------------------

class Workspace:
    """Puts one mutant into the tree at a time and always takes it out again."""

    def __init__(self, build):
        self.journal = build / "mutate-journal.json"
        self.path = None
        self.original = None
        self.child = None

    def recover(self):
        """Restores a file left mutated by a run that was killed outright,
        unless it was edited since."""
        if not self.journal.exists():
            return
        entry = json.loads(self.journal.read_text())
        path = ROOT / entry["path"]
        current = path.read_bytes().decode("latin-1")
        if current not in (entry["mutated"], entry["original"]):
            sys.exit(f"mutate: {entry['path']} was left mutated by an interrupted run and has changed "
                     f"since; its original is in {self.journal}")
        if current != entry["original"]:
            path.write_bytes(entry["original"].encode("latin-1"))
            print(f"mutate: restored {entry['path']}, left mutated by an interrupted run", file=sys.stderr)
        self.journal.unlink()

    def apply(self, site, replacement):
        path = ROOT / site.path
        self.original = path.read_bytes()
        self.path = path
        text = self.original.decode("latin-1")
        mutated = text[:site.start] + replacement + text[site.end:]
        with open(self.journal, "w") as j:
            json.dump({"path": site.path, "original": text, "mutated": mutated}, j)
            j.flush()
            os.fsync(j.fileno())
        path.write_bytes(mutated.encode("latin-1"))

    def restore(self):
        if self.path is not None:
            self.path.write_bytes(self.original)
            self.path = None
            self.journal.unlink(missing_ok=True)

    def run(self, command, log, limit):
        """Runs `command` in its own process group with its output in `log`;
        whatever of the group is still alive at the end or after `limit`
        seconds is killed. Returns the exit status, None on a timeout."""
        with open(log, "wb") as out:
            self.child = subprocess.Popen(command, cwd=ROOT, stdout=out, stderr=subprocess.STDOUT,
                                          stdin=subprocess.DEVNULL, start_new_session=True)
            try:
                status = self.child.wait(timeout=limit)
            except subprocess.TimeoutExpired:
                status = None
            finally:
                self.kill_children()
        return status

    def kill_children(self, wait=True):
        """Kills the group of the running command. A signal handler must not
        wait, since the frame it interrupted may be inside Popen.wait."""
        if self.child is not None:
            try:
                os.killpg(self.child.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            if wait:
                self.child.wait()
                self.child = None


# --- The suite ----------------------------------------------------------------

FAILED = re.compile(r"^\s*\d+ - (\S+) \((.+)\)\s*$", re.MULTILINE)
TOTAL = re.compile(r"tests passed, (\d+) tests? failed out of (\d+)")
TIME = re.compile(r"Test\s+#\d+: \S+ \.*\s+Passed\s+([0-9.]+) sec")


class Suite:
    def __init__(self, ws, build, jobs, tests=None):
        self.ws, self.build, self.jobs, self.tests = ws, build, jobs, tests
        self.timeout = None
        self.limit = None
        self.count = None
        self.unmutated = None

    def configure(self):
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        # -O1 without debug information rebuilds fastest; asserts are off as
        # in the plain build. The standard library checks its bounds, so a
        # mutant that indexes past an array or string fails the test that
        # reaches it (as the sanitizer build would) instead of corrupting
        # memory unseen. Warnings are errors, as in `make test`. Tests are
        # discovered when ctest runs, so a test program that a mutant breaks
        # fails the suite rather than the build.
        command = ["cmake", "--no-warn-unused-cli", "-S", str(ROOT), "-B", str(self.build), *generator,
                   "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                   "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -DNDEBUG -D_GLIBCXX_ASSERTIONS",
                   "-DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST",
                   "-DVENDRAK_TESTS=ON", "-DVENDRAK_TOOLS=ON", "-DVENDRAK_WERROR=ON"]
        if subprocess.run(command, stdout=subprocess.DEVNULL).returncode != 0:
            sys.exit("mutate: cmake could not configure " + str(self.build))

    def compiled_sources(self):
        """The source files the build compiles, from the compile database."""
        with open(self.build / "compile_commands.json") as database:
            return {Path(entry["directory"], entry["file"]).resolve() for entry in json.load(database)}

    def compile(self):
        status = self.ws.run(["cmake", "--build", str(self.build), "-j", str(self.jobs)],
                             self.build / "mutate-build.log", 1800)
        return status == 0

    def objects(self):
        """A digest of every object file of the build tree."""
        return {o: hashlib.sha256(o.read_bytes()).digest() for o in self.build.rglob("*.o")}

    def test(self):
        """(passed, what failed first)."""
        log = self.build / "mutate-test.log"
        command = ["ctest", "--test-dir", str(self.build), "-j", str(self.jobs), "--stop-on-failure"]
        if self.tests:
            command += ["-R", self.tests]
        if self.timeout:
            command += ["--timeout", str(self.timeout)]
        status = self.ws.run(command, log, self.limit)
        output = log.read_text(errors="replace")
        if status is None:
            return False, "suite timed out", output
        failed = FAILED.search(output)
        if failed:
            return False, f"{failed.group(1)} ({failed.group(2).lower()})", output
        total = TOTAL.search(output)
        if self.tests and "No tests were found" in output:
            return False, f"no test matches {self.tests}", output
        if status != 0 or not total:
            return False, "ctest failed", output
        if self.count is not None and int(total.group(2)) != self.count:
            return False, f"{self.count - int(total.group(2))} tests missing", output
        return True, "", output

    def baseline(self, timeout):
        """Builds and runs the unmutated tree; it must pass. Sets the
        per-test timeout (ten times the slowest test, at least 20 s, unless
        given) and the limit for the whole suite."""
        if not self.compile():
            sys.exit(f"mutate: the unmutated tree does not build; see {self.build / 'mutate-build.log'}")
        self.unmutated = self.objects()
        started = time.monotonic()
        self.limit = 3600
        passed, failure, output = self.test()
        wall = time.monotonic() - started
        if not passed:
            sys.exit(f"mutate: the suite fails without a mutant: {failure}")
        self.count = int(TOTAL.search(output).group(2))
        slowest = max((float(t) for t in TIME.findall(output)), default=1.0)
        self.timeout = timeout or max(20, int(10 * slowest) + 1)
        self.limit = 4 * wall + 2 * self.timeout + 60
        return wall


# --- Main -------------------------------------------------------------------

VERDICTS = ("killed", "survived", "same code", "did not build")

def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mutants", "-n", type=int, default=100, help="how many mutants (default 100)")
    parser.add_argument("--seed", "-s", type=int, default=1, help="the seed that draws them (default 1)")
    parser.add_argument("--files", nargs="+", metavar="PATH",
                        help="files, folders or globs under src/ or tools/ to mutate (default all of src/)")
    parser.add_argument("--tests", metavar="REGEX",
                        help="run only the tests whose names match (ctest -R), say those of the files mutated")
    parser.add_argument("--build-dir", default="build-mutate", help="build tree (default build-mutate)")
    parser.add_argument("--jobs", "-j", type=int, default=2, help="parallel build and test jobs (default 2)")
    parser.add_argument("--timeout", type=int, help="seconds per test (default ten times the slowest)")
    parser.add_argument("--only", metavar="N,...", type=lambda v: {int(n) for n in v.split(",")},
                        help="run only these numbers of the drawn mutants (after a test was added)")
    parser.add_argument("--list", action="store_true", help="only list the mutants")
    args = parser.parse_args()

    # One run at a time may change the sources, whatever its build tree.
    src_lock = os.open(ROOT / "src", os.O_RDONLY)
    try:
        fcntl.flock(src_lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        sys.exit("mutate: another run is mutating the sources")

    build = (ROOT / args.build_dir).resolve()
    build.mkdir(parents=True, exist_ok=True)
    ws = Workspace(build)
    ws.recover()

    suite = Suite(ws, build, args.jobs, args.tests)
    suite.configure()
    files, left_out = source_files(args.files, suite.compiled_sources())
    mutants, site_count = draw_mutants(files, args.mutants, args.seed)
    width = len(str(len(mutants)))
    chosen = [n for n in range(1, len(mutants) + 1) if not args.only or n in args.only]

    def describe(number, site, replacement):
        before = ROOT.joinpath(site.path).read_bytes()[:site.start]
        line, column = before.count(b"\n") + 1, site.start - before.rfind(b"\n")
        change = f"'{site.original}' removed" if not replacement else f"'{site.original}' -> '{replacement}'"
        return line, f"{number:>{width}}/{len(mutants)}  {site.path}:{line}:{column}  {change}"

    print(f"{len(mutants)} mutants of {site_count} sites, seed {args.seed}"
          + (f"; left out: {left_out} file(s) this build does not compile" if left_out else ""), flush=True)
    if args.list:
        for n in chosen:
            print(describe(n, *mutants[n - 1])[1])
        return 0

    def interrupted(signum, _frame):
        ws.restore()
        ws.kill_children(wait=False)
        print(f"\nmutate: stopped by signal {signum}; the tree is restored", file=sys.stderr)
        sys.exit(128 + signum)

    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
        signal.signal(s, interrupted)

    wall = suite.baseline(args.timeout)
    print(f"the unmutated suite passes {suite.count} tests in {wall:.1f} s; "
          f"{suite.timeout} s per test", flush=True)

    verdicts = dict.fromkeys(VERDICTS, 0)
    by_kind = {}
    started = time.monotonic()
    try:
        for n in chosen:
            site, replacement = mutants[n - 1]
            line, text = describe(n, site, replacement)
            ws.apply(site, replacement)
            try:
                if not suite.compile():
                    verdict, detail = "did not build", ""
                elif suite.objects() == suite.unmutated:
                    verdict, detail = "same code", ""
                else:
                    passed, detail, _ = suite.test()
                    verdict = "survived" if passed else "killed"
                    if passed:
                        detail = (ROOT / site.path).read_bytes().decode("latin-1").splitlines()[line - 1].strip()
            finally:
                ws.restore()
            verdicts[verdict] += 1
            kind = by_kind.setdefault(site.kind, dict.fromkeys(VERDICTS, 0))
            kind[verdict] += 1
            print(f"{text}  {verdict}" + (f": {detail}" if detail else ""), flush=True)
    finally:
        ws.restore()

    killed, survived = verdicts["killed"], verdicts["survived"]
    print("\n" + ", ".join(f"{verdicts[v]} {v}" for v in VERDICTS) +
          f" in {(time.monotonic() - started) / 60:.1f} min")
    for kind, counts in sorted(by_kind.items()):
        print(f"  {kind:<11}" + "".join(f" {counts[v]:>4} {v}" for v in VERDICTS))
    if killed + survived:
        print(f"score {killed}/{killed + survived} = {100 * killed / (killed + survived):.1f} %")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BrokenPipeError:
        # whoever read the output has gone (mutate.py --list | head)
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(1)
