#!/usr/bin/env python3
"""Counts how many slip scripts vendrak-check reports at the line of their
cause (the first line of each reads "; cause: N"), by a finding or a note,
and lists the findings of the clean scripts.
The clean scripts are checked in a directory with the examples' VBF files.
Usage: check_slips.py VENDRAK_CHECK SLIPS_DIR CLEAN_DIR [EXAMPLES_DIR]"""
import json, pathlib, re, shutil, subprocess, sys, tempfile

check, slips, clean = sys.argv[1], pathlib.Path(sys.argv[2]), pathlib.Path(sys.argv[3])
examples = pathlib.Path(sys.argv[4]) if len(sys.argv) > 4 else pathlib.Path(__file__).parent.parent / "examples"


def findings(path, run_in=None):
    out = subprocess.run([check, "-f", "json", str(path.resolve())], cwd=run_in or path.parent,
                         capture_output=True).stdout
    return json.loads(out)


hit = 0
scripts = sorted(slips.glob("*.vsc"))
for s in scripts:
    cause = int(re.match(rb"; cause: (\d+)", s.read_bytes()).group(1))
    found = findings(s)
    lines = {f["line"] for f in found} | {n["line"] for f in found for n in f.get("notes", [])}
    ok = cause in lines
    hit += ok
    print(f"{'ok  ' if ok else 'MISS'} {s.name}: cause {cause}, " +
          "; ".join(f"{f['line']}: {f['message'][:60]}" for f in found))
print(f"slips reported at their cause: {hit} of {len(scripts)} ({100 * hit // max(len(scripts), 1)} %)")
noisy = 0
run = tempfile.mkdtemp()
for vbf in examples.glob("*.vbf"):
    shutil.copy(vbf, run)
for s in sorted(clean.glob("*.vsc")):
    found = findings(s, run)
    noisy += bool(found)
    for f in found:
        print(f"clean {s.name}:{f['line']}: {f['message']}")
print(f"clean scripts with a finding: {noisy}")
shutil.rmtree(run)
