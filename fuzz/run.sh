#!/usr/bin/env bash
# Runs every fuzzer that is built for a given number of seconds each, one
# after the other, and fails on the first finding.
# Usage: run.sh <fuzz build dir> <vendrak binary for the seed containers> <seconds>
#
# The seeds come from the scripts and VBF files of the end-to-end cases and
# the examples: <build>/seeds/compile, check and fmt hold every script, vbf every
# VBF file, inspect the container (plain and encrypted) of every script that
# compiles beside the files it names. Each fuzzer keeps what it finds
# interesting in <build>/corpus/<name>, so a later run goes on from there; a
# crashing or hanging input is written to <build>/findings/<name>-crash-...
# (or -timeout-..., -leak-...).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
vendrak=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
seconds=$3

seeds=$build/seeds work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$seeds"
mkdir -p "$seeds/compile" "$seeds/vbf" "$seeds/inspect" "$build/findings"
n=0
while IFS= read -r -d '' file; do
    n=$((n + 1))
    if [[ $file == *.vbf ]]; then
        cp "$file" "$seeds/vbf/$n-$(basename "$file")"
        continue
    fi
    cp "$file" "$seeds/compile/$n-$(basename "$file")"
    rm -rf "$work/run"
    cp -r "$(dirname "$file")" "$work/run"
    for option in "" "-a"; do
        if (cd "$work/run" && "$vendrak" $option -o seed.bin "$(basename "$file")" </dev/null >/dev/null 2>&1); then
            cp "$work/run/seed.bin" "$seeds/inspect/$n$option-$(basename "$file" .vsc).bin"
        fi
    done
done < <(find "$root/tests/e2e/cases" "$root/examples" -type f \( -name '*.vsc' -o -name '*.vbf' \) -print0 | sort -z)
cp -r "$seeds/compile" "$seeds/check"
# The language server's seeds: sessions as an editor sends them, and frames
# that nest deeply, announce huge lengths or never end their header.
mkdir -p "$seeds/lsp"
frame() { printf 'Content-Length: %d\r\n\r\n%s' "${#1}" "$1"; }
init='{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}}'
open='{"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///f.vsc","version":1,"text":"DEFINE N 1\nmenu:\nLED RED ON\nIF KEY = 1\nGOTO menu\nENDIF\nDELAY 1.5\n"}}}'
at() { printf '{"jsonrpc":"2.0","id":%d,"method":"%s","params":{"textDocument":{"uri":"file:///f.vsc"},"position":{"line":%d,"character":%d}%s}}' "$@"; }
{
    frame "$init"; frame "$open"
    frame "$(at 2 textDocument/hover 2 1 '')"
    frame "$(at 3 textDocument/definition 4 6 '')"
    frame "$(at 4 textDocument/references 1 1 ',"context":{"includeDeclaration":true}')"
    frame "$(at 5 textDocument/rename 1 1 ',"newName":"top"')"
    frame "$(at 6 textDocument/completion 2 4 '')"
    frame '{"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///f.vsc","version":2},"contentChanges":[{"range":{"start":{"line":6,"character":6},"end":{"line":6,"character":9}},"text":"2"}]}}'
    frame '{"jsonrpc":"2.0","id":7,"method":"shutdown"}'
    frame '{"jsonrpc":"2.0","method":"exit"}'
} >"$seeds/lsp/session"
{ frame "$init"; frame "{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"x\",\"params\":$(printf '[%.0s' {1..3000})}"; } >"$seeds/lsp/nesting"
{ frame "$init"; printf 'Content-Length: 1073741824\r\n\r\n'; frame "$open"; } >"$seeds/lsp/huge-length"
{ frame "$init"; printf 'Content-Length: 5\r\nX: %s' "$(printf 'a%.0s' {1..6000})"; } >"$seeds/lsp/endless-header"
cp -r "$seeds/compile" "$seeds/fmt"
echo "seeds: $(ls "$seeds/compile" | wc -l) scripts, $(ls "$seeds/vbf" | wc -l) VBF files," \
     "$(ls "$seeds/inspect" | wc -l) containers"

status=0
for entry in compile:script vbf:vbf inspect:container check:script fmt:script lsp:lsp; do
    name=${entry%%:*}
    # The language's dictionaries are made by the build (fuzz/*.dict.in
    # filled in from the vocabulary table); the others are kept as written.
    dict=$build/fuzz/${entry#*:}.dict
    [[ -f $dict ]] || dict=$root/fuzz/${entry#*:}.dict
    fuzzer=$build/fuzz/${name}_fuzzer
    if [[ ! -x $fuzzer ]]; then
        echo "$name: not built, skipped"
        continue
    fi
    mkdir -p "$build/corpus/$name"
    log=$build/$name.log
    # -timeout: one input that runs 10 s is a hang; the scripts may grow to
    # 8 KiB so that deep nesting and long DEFINE chains are reachable.
    if "$fuzzer" -max_total_time="$seconds" -timeout=10 -max_len=8192 -print_final_stats=1 \
            -dict="$dict" -artifact_prefix="$build/findings/$name-" \
            "$build/corpus/$name" "$seeds/$name" >"$log" 2>&1; then
        echo "$name: $(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}') runs in ${seconds} s," \
             "corpus $(ls "$build/corpus/$name" | wc -l) inputs, no finding"
    else
        echo "$name: FINDING (log: $log)"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' "$log" || tail -n 30 "$log"
        status=1
    fi
done
exit $status
