#!/usr/bin/env bash
# Compiles every script block of the language manual, so the manual cannot
# drift from the compiler:
#   ```vsc         must compile (status 0, nothing on standard error), and
#                  the container must pass `vendrak-inspect -q`;
#   ```vsc error   must fail (status 1) with the message given in the first
#                  code span after the block, as one whole line of what the
#                  run printed.
# Each block runs in a scratch directory that holds the example VBF files,
# with standard input from /dev/null.
# Usage: manual.sh VENDRAK VENDRAK_INSPECT MANUAL EXAMPLES_DIR
set -u
vendrak=$(realpath "$1") inspect=$(realpath "$2") manual=$3 examples=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/blocks" "$work/run"
cp "$examples"/*.vbf "$work/run/"

# One file per block: NNNN.vsc (the script), NNNN.info ("ok|error LINE") and,
# for error blocks, NNNN.msg.
awk -v dir="$work/blocks" '
    function name(ext) { return sprintf("%s/%04d.%s", dir, n, ext) }
    !fence && /^```/ {
        fence = 1
        if ($0 ~ /^```vsc[ \t]*$/ || $0 ~ /^```vsc error[ \t]*$/) {
            n++; kind = ($0 ~ /error/) ? "error" : "ok"; script = 1
            print kind, NR > name("info"); close(name("info"))
            printf "" > name("vsc")
        }
        next
    }
    fence && /^```[ \t]*$/ { fence = 0; if (script) { close(name("vsc")); want = (kind == "error") } script = 0; next }
    fence { if (script) print > name("vsc"); next }
    want && /`[^`]+`/ {
        match($0, /`[^`]+`/); print substr($0, RSTART + 1, RLENGTH - 2) > name("msg"); close(name("msg"))
        want = 0; next
    }
    want && NF { want = 0 }
' "$manual"

blocks=0 failures=0
fail() { echo "$(basename "$manual"):$line: $*"; failures=$((failures + 1)); }
for info in "$work"/blocks/*.info; do
    [ -e "$info" ] || break
    read -r kind line < "$info"
    block=${info%.info}
    blocks=$((blocks + 1))
    rm -f "$work/run/a.out"
    (cd "$work/run" && "$vendrak" "$block.vsc" </dev/null >"$work/out" 2>"$work/err")
    status=$?
    if [ "$kind" = ok ]; then
        if [ "$status" -ne 0 ] || [ -s "$work/err" ]; then
            fail "block should compile, status $status: $(cat "$work/err" "$work/out" | head -3)"
        elif ! "$inspect" -q "$work/run/a.out" >/dev/null 2>"$work/inspect"; then
            fail "vendrak-inspect rejects the container: $(head -3 "$work/inspect")"
        fi
    elif [ ! -s "$block.msg" ]; then
        fail "error block without its message in a code span after it"
    else
        message=$(cat "$block.msg")
        if [ "$status" -ne 1 ]; then
            fail "block should fail with '$message', status $status"
        elif ! grep -qxF -- "$message" "$work/err" "$work/out"; then
            fail "expected '$message', got: $(cat "$work/err" "$work/out" | grep -v '^$' | head -3)"
        fi
    fi
done

echo "$blocks script blocks, $failures failing"
[ "$blocks" -gt 0 ] && [ "$failures" -eq 0 ]
