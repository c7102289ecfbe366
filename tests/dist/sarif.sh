#!/usr/bin/env bash
# Validates the SARIF log vendrak-check writes for every script under the
# given directories (and for a script that does not exist) against the SARIF
# 2.1.0 JSON schema, with the Python package jsonschema. Exits 77 when no
# python3 has that package.
# Usage: sarif.sh VENDRAK_CHECK SCHEMA DIR...
set -u
check=$1 schema=$2
shift 2
python=
for candidate in python3 /usr/bin/python3; do
    if command -v "$candidate" >/dev/null && "$candidate" -c 'import jsonschema' 2>/dev/null; then
        python=$candidate
        break
    fi
done
[ -n "$python" ] || { echo "no python3 with jsonschema: skipped"; exit 77; }

log=$(mktemp)
trap 'rm -f "$log"' EXIT
mapfile -t scripts < <(find "$@" -name '*.vsc' | sort)
"$check" --format=sarif "${scripts[@]}" does-not-exist.vsc >"$log" </dev/null
status=$?
[ "$status" -le 1 ] || { echo "vendrak-check ended with status $status"; exit 1; }

"$python" - "$schema" "$log" <<'PY'
import json, sys
import jsonschema

schema = json.load(open(sys.argv[1]))
log = json.load(open(sys.argv[2]))
validator = jsonschema.Draft202012Validator(schema, format_checker=jsonschema.FormatChecker())
errors = sorted(validator.iter_errors(log), key=lambda e: list(map(str, e.absolute_path)))
for e in errors[:20]:
    print("/".join(map(str, e.absolute_path)) + ": " + e.message)
results = log["runs"][0]["results"]
levels = sorted({r["level"] for r in results})
print(f"SARIF log of {len(results)} results ({', '.join(levels)}): {len(errors)} schema errors")
sys.exit(1 if errors or levels != ["error", "warning"] else 0)
PY
