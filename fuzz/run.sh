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
cp -r "$seeds/compile" "$seeds/fmt"
echo "seeds: $(ls "$seeds/compile" | wc -l) scripts, $(ls "$seeds/vbf" | wc -l) VBF files," \
     "$(ls "$seeds/inspect" | wc -l) containers"

status=0
for entry in compile:script vbf:vbf inspect:container check:script fmt:script; do
    name=${entry%%:*}
    dict=$root/fuzz/${entry#*:}.dict
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
