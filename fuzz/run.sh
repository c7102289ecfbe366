#!/usr/bin/env bash
# Runs every fuzzer that is built for a given number of seconds each, one
# after the other, and fails on the first finding.
# Usage: run.sh <fuzz build dir> <vendrak binary for the seed containers> <seconds>
#
# Each fuzzer keeps what it finds interesting in <build>/corpus/<name>, so a
# later run goes on from there; a crashing or hanging input is written to
# <build>/findings/<name>-crash-... (or -timeout-..., -leak-...).
set -euo pipefail
fuzz_dir=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
vendrak=$2
seconds=$3

"$fuzz_dir/make_seeds.sh" "$fuzz_dir/.." "$vendrak" "$build/seeds"
mkdir -p "$build/findings"

status=0
for entry in compile:script vbf:vbf inspect:container check:script; do
    name=${entry%%:*}
    dict=$fuzz_dir/${entry#*:}.dict
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
            "$build/corpus/$name" "$build/seeds/$name" >"$log" 2>&1; then
        echo "$name: $(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}') runs in ${seconds} s," \
             "corpus $(ls "$build/corpus/$name" | wc -l) inputs, no finding"
    else
        echo "$name: FINDING (log: $log)"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' "$log" || tail -n 30 "$log"
        status=1
    fi
done
exit $status
