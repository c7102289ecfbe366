#!/usr/bin/env bash
# Times a vendrak run whose script programs one large VBF file (1 GiB by
# default) against `cp` of the same file, and reports the ratio of the two
# and the peak resident memory of the vendrak run.
#
#   bench/run.sh              build Release into build-release, run, report
#   VBF_SIZE=256M RUNS=5 bench/run.sh
#
# VBF_SIZE: data bytes of the generated file (K, M, G suffixes; default 1G).
# RUNS: runs of each command; the fastest counts (default 3).
# The work files (the VBF file, its copy, the container: about 3 times
# VBF_SIZE) go to a temporary directory under $TMPDIR (default /tmp) that is
# removed at the end.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-release
size=${VBF_SIZE:-1G}
runs=${RUNS:-3}

if [ ! -x /usr/bin/time ]; then
    echo "bench: /usr/bin/time is missing (Debian/Ubuntu: apt-get install time)" >&2
    exit 1
fi

echo "== building Release into $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVENDRAK_TESTS=OFF -DVENDRAK_TOOLS=ON >/dev/null
ninja -C "$build" vendrak vbfgen >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/vendrak-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "== generating big.vbf ($size of data) in $work"
"$build/tools/vbfgen" -o big.vbf --part-number BENCH-1GIB --part-type DATA \
    --erase 0x0:"$size" --section 0x0:"$size"
printf 'PROG "big.vbf"\n' >bench.vsc
ls -l big.vbf

now_ns() { date +%s%N; }

# Runs "$@" $runs times; leaves the fastest wall time in seconds in $best and
# the /usr/bin/time report of the last run in $report.
best=
report=$work/time.txt
measure() {
    best=
    for ((i = 0; i < runs; i++)); do
        rm -f a.out big.copy
        # Start without dirty pages of an earlier run waiting to be written.
        sync
        local start end
        start=$(now_ns)
        if ! /usr/bin/time -v -o "$report" "$@" </dev/null >run.out 2>run.err; then
            echo "bench: '$*' failed:" >&2
            cat run.out run.err >&2
            exit 1
        fi
        end=$(now_ns)
        local t
        t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
        if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
    done
}

# Read the file once so that both commands start from the page cache.
cat big.vbf >/dev/null

echo "== cp big.vbf big.copy ($runs runs)"
measure cp big.vbf big.copy
cp_time=$best

echo "== vendrak bench.vsc ($runs runs)"
measure "$build/vendrak" bench.vsc
vendrak_time=$best
peak_kib=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$report")
summary=$(grep 'Script Size' run.out || true)

echo
echo "vendrak output:   ${summary:-<no summary line>}"
echo "container:        $(stat -c %s a.out) bytes"
echo "cp time:          ${cp_time} s"
echo "vendrak time:     ${vendrak_time} s"
echo "ratio:            $(awk -v v="$vendrak_time" -v c="$cp_time" 'BEGIN { printf "%.2f", v / c }') (vendrak / cp)"
echo "peak memory:      ${peak_kib} KiB ($(awk -v k="$peak_kib" 'BEGIN { printf "%.1f", k / 1024 }') MiB) resident"
