#!/usr/bin/env bash
# Compiles every script block of the language manual, so the manual cannot
# drift from the compiler:
#   ```vsc         must compile (status 0, nothing on standard error), and
#                  the container must pass `vendrak-inspect -q`;
#   ```vsc error   must fail (status 1) with the message given in the first
#                  code span after the block, as one whole line of what the
#                  run printed;
#   ```vsc warning must compile like ```vsc.
# With VENDRAK_CHECK, each block is checked too: a ```vsc block must check
# clean (status 0, no finding), an error block must give its message as an
# error, and a warning block exactly the warnings named by the `-Wname` code
# spans of the paragraph after it.
# Each block runs in a scratch directory that holds the example VBF files,
# with standard input from /dev/null.
# Usage: manual.sh VENDRAK VENDRAK_INSPECT MANUAL EXAMPLES_DIR [VENDRAK_CHECK]
set -u
vendrak=$(realpath "$1") inspect=$(realpath "$2") manual=$3 examples=$4
check=${5:+$(realpath "$5")}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/blocks" "$work/run"
cp "$examples"/*.vbf "$work/run/"

# One file per block: NNNN.vsc (the script), NNNN.info ("ok|error|warning
# LINE"), for error blocks NNNN.msg, and for warning blocks NNNN.warn (the
# warning names, one a line).
awk -v dir="$work/blocks" '
    function name(ext) { return sprintf("%s/%04d.%s", dir, n, ext) }
    !fence && /^```/ {
        fence = 1
        if ($0 ~ /^```vsc([ \t]+(error|warning))?[ \t]*$/) {
            n++; kind = ($0 ~ /error/) ? "error" : ($0 ~ /warning/) ? "warning" : "ok"; script = 1
            print kind, NR > name("info"); close(name("info"))
            printf "" > name("vsc")
            if (kind == "warning") { printf "" > name("warn"); close(name("warn")) }
        }
        next
    }
    fence && /^```[ \t]*$/ { fence = 0; if (script) { close(name("vsc")); want = (kind != "ok") } script = 0; next }
    fence { if (script) print > name("vsc"); next }
    want && kind == "error" && /`[^`]+`/ {
        match($0, /`[^`]+`/); print substr($0, RSTART + 1, RLENGTH - 2) > name("msg"); close(name("msg"))
        want = 0; next
    }
    want && kind == "warning" && NF {
        line = $0; paragraph = 1
        while (match(line, /`-W[a-z0-9-]+`/)) {
            print substr(line, RSTART + 3, RLENGTH - 4) >> name("warn")
            line = substr(line, RSTART + RLENGTH)
        }
        close(name("warn")); next
    }
    want && kind == "warning" && paragraph { want = 0; paragraph = 0; next }
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
    if [ "$kind" != error ]; then
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
    [ -n "$check" ] || continue

    (cd "$work/run" && "$check" "$block.vsc" </dev/null >"$work/check")
    status=$?
    found=$(sed -E 's/^[^:]*:[0-9]+:[0-9]+: //' "$work/check")
    case $kind in
    ok)
        [ "$status" -eq 0 ] && [ -z "$found" ] || fail "block should check clean, status $status: $(head -3 "$work/check")"
        ;;
    error)
        # vendrak's messages without their "[line] Error: ", "Error: " or
        # "ERROR: ": the one the manual names must be among the errors for a
        # script message; for a file, one of the errors must be what vendrak
        # printed first.
        printed=$(cat "$work/err" "$work/out" | sed -E 's/^\[[0-9]+\] (Error: )?//; s/^(ERROR|Error): //')
        errors=$(sed -n 's/^error: //p' <<<"$found")
        text=$(sed -E 's/^\[[0-9]+\] (Error: )?//' "$block.msg")
        if grep -qE '^\[[0-9]+\]' "$block.msg"; then
            grep -qxF -- "$text" <<<"$errors"
        else
            grep -qxF -- "$(head -1 <<<"$printed")" <<<"$errors"
        fi && [ "$status" -eq 1 ] ||
            fail "vendrak-check should report what vendrak printed, status $status: $(head -3 "$work/check")"
        ;;
    warning)
        wanted=$(sort -u "$block.warn")
        got=$(grep -oE '\[-W[a-z0-9-]+\]$' <<<"$found" | tr -d '[]' | cut -c3- | sort -u)
        [ -n "$wanted" ] || fail "warning block without a -Wname code span after it"
        [ "$status" -eq 0 ] && [ "$got" = "$wanted" ] && ! grep -q ': error: ' <<<"$found" ||
            fail "vendrak-check should warn $(echo $wanted), status $status: $(head -3 "$work/check")"
        ;;
    esac
done

echo "$blocks script blocks, $failures failing"
[ "$blocks" -gt 0 ] && [ "$failures" -eq 0 ]
