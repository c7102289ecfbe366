#!/usr/bin/env bash
# Makes a large VBF file (1 GiB of data by default) with `vendrak-vbf create`
# from a binary image of half the size and a fill of the other half, then
# runs `vendrak-vbf verify` and `vendrak-vbf info` on it, and reports for
# each the wall time and the peak resident memory, which must stay under
# 16 MiB whatever the size: the tool streams every byte through fixed
# buffers.
#
#   bench/vbf.sh              build Release into build-release, run, report
#   VBF_SIZE=256M bench/vbf.sh
#
# VBF_SIZE: data bytes of the file (K, M, G suffixes; default 1G). The work
# files (the image and the VBF file: about 1.5 times VBF_SIZE) go to a
# temporary directory under $TMPDIR (default /tmp), removed at the end.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-release
size=${VBF_SIZE:-1G}
limit_kib=$((16 * 1024))

if [ ! -x /usr/bin/time ]; then
    echo "bench: /usr/bin/time is missing (Debian/Ubuntu: apt-get install time)" >&2
    exit 1
fi

echo "== building Release into $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVENDRAK_TESTS=OFF -DVENDRAK_TOOLS=ON >/dev/null
ninja -C "$build" vendrak-vbf >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/vendrak-vbf-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

bytes=$(numfmt --from=iec "$size")
half=$((bytes / 2))
echo "== a binary image of $half bytes in $work"
head -c "$half" /dev/urandom >image.bin

status=0
# Runs "$@" under /usr/bin/time -v and prints its wall time and peak memory.
measure() {
    local name=$1
    shift
    if ! /usr/bin/time -v -o time.txt "$@" >run.out 2>run.err; then
        echo "bench: '$*' failed:" >&2
        cat run.out run.err >&2
        exit 1
    fi
    local wall rss
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' time.txt)
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' time.txt)
    printf '%-8s wall %s  peak resident %d KiB\n' "$name" "$wall" "$rss"
    if [ "$rss" -ge "$limit_kib" ]; then
        echo "bench: $name used $rss KiB, not under $limit_kib KiB" >&2
        status=1
    fi
}

measure create "$build/vendrak-vbf" create -o big.vbf --part-type DATA image.bin@0x0 \
    --fill "$half:$((bytes - half)):0x5A"
rm image.bin
ls -l big.vbf
measure verify "$build/vendrak-vbf" verify big.vbf
measure info "$build/vendrak-vbf" info big.vbf
exit $status
