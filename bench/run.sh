#!/usr/bin/env bash
# Times a vendrak run whose script programs one large VBF file (1 GiB by
# default) against `cp` of the same file, in interleaved pairs (cp, then
# vendrak), and reports the medians of wall and CPU time (user + system) of
# each, their ratios, and the peak resident memory of the vendrak runs.
#
#   bench/run.sh              build Release into build-release, run, report
#   VBF_SIZE=256M PAIRS=7 bench/run.sh
#
# VBF_SIZE: data bytes of the generated file (K, M, G suffixes; default 1G).
# PAIRS: number of (cp, vendrak) pairs (default 5).
# The work files (the VBF file, its copy, the container: about 3 times
# VBF_SIZE) go to a temporary directory under $TMPDIR (default /tmp) that is
# removed at the end.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-release
size=${VBF_SIZE:-1G}
pairs=${PAIRS:-5}

if [ ! -x /usr/bin/time ]; then
    echo "bench: /usr/bin/time is missing (Debian/Ubuntu: apt-get install time)" >&2
    exit 1
fi

echo "== building Release into $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVENDRAK_TESTS=OFF -DVENDRAK_TOOLS=ON >/dev/null
ninja -C "$build" vendrak vendrak-vbf >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/vendrak-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "== generating big.vbf ($size of data) in $work"
"$build/vendrak-vbf" create -o big.vbf --part-number BENCH-1GIB --part-type DATA \
    --fill 0x0:"$size":0x5A >/dev/null
printf 'PROG "big.vbf"\n' >bench.vsc
ls -l big.vbf

# Runs "$@" once from a clean start (no output of an earlier run, no dirty
# pages waiting to be written) and appends "wall cpu peak_kib" to the file
# named by $1; the command follows.
measure() {
    local log=$1
    shift
    rm -f a.out big.copy
    sync
    local start end
    start=$(date +%s%N)
    if ! /usr/bin/time -f '%U %S %M' -o time.txt "$@" </dev/null >run.out 2>run.err; then
        echo "bench: '$*' failed:" >&2
        cat run.out run.err >&2
        exit 1
    fi
    end=$(date +%s%N)
    awk -v a="$start" -v b="$end" '{ printf "%.3f %.2f %d\n", (b - a) / 1e9, $1 + $2, $3 }' time.txt >>"$log"
}

# The median of column $2 of file $1.
median() {
    sort -g -k "$2,$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Read the file once so that both commands start from the page cache.
cat big.vbf >/dev/null

echo "== $pairs pairs: cp big.vbf big.copy, then vendrak bench.vsc"
: >cp.log
: >vendrak.log
for ((i = 1; i <= pairs; i++)); do
    measure cp.log cp big.vbf big.copy
    measure vendrak.log "$build/vendrak" bench.vsc
    summary=$(grep 'Script Size' run.out || true)
    printf '   pair %d: cp %s s wall %s s cpu, vendrak %s s wall %s s cpu\n' "$i" \
        $(tail -n 1 cp.log | cut -d' ' -f1,2) $(tail -n 1 vendrak.log | cut -d' ' -f1,2)
done

cp_wall=$(median cp.log 1)
cp_cpu=$(median cp.log 2)
v_wall=$(median vendrak.log 1)
v_cpu=$(median vendrak.log 2)
peak_kib=$(sort -n -k 3,3 vendrak.log | tail -n 1 | cut -d' ' -f3)
ratio() { awk -v v="$1" -v c="$2" 'BEGIN { if (c > 0) printf "%.2f", v / c; else print "n/a" }'; }

echo
echo "vendrak output:   ${summary:-<no summary line>}"
echo "container:        $(stat -c %s a.out) bytes"
echo "medians of $pairs:    cp ${cp_wall} s wall ${cp_cpu} s cpu; vendrak ${v_wall} s wall ${v_cpu} s cpu"
echo "wall ratio:       $(ratio "$v_wall" "$cp_wall") (vendrak / cp)"
echo "cpu ratio:        $(ratio "$v_cpu" "$cp_cpu") (vendrak / cp)"
echo "peak memory:      ${peak_kib} KiB ($(awk -v k="$peak_kib" 'BEGIN { printf "%.1f", k / 1024 }') MiB) resident"
