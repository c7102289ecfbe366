#!/usr/bin/env bash
# Gathers the seed corpora of the fuzzers from the end-to-end cases and the
# examples:
#   <out>/compile  every script
#   <out>/check    the same scripts
#   <out>/vbf      every VBF file
#   <out>/inspect  the container of every script that compiles, plain and
#                  encrypted, made by the vendrak binary given
# Usage: make_seeds.sh <source root> <vendrak binary> <out dir>
set -euo pipefail
root=$(cd "$1" && pwd)
vendrak=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
out=$3

rm -rf "$out"
mkdir -p "$out/compile" "$out/vbf" "$out/inspect"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

n=0
while IFS= read -r -d '' script; do
    n=$((n + 1))
    cp "$script" "$out/compile/$n-$(basename "$script")"
    # Compile it beside the files it names, in a copy of its folder.
    rm -rf "$work/run"
    cp -r "$(dirname "$script")" "$work/run"
    for option in "" "-a"; do
        if (cd "$work/run" && "$vendrak" $option -o seed.bin "$(basename "$script")" </dev/null >/dev/null 2>&1); then
            cp "$work/run/seed.bin" "$out/inspect/$n$option-$(basename "$script" .vsc).bin"
        fi
    done
done < <(find "$root/tests/e2e/cases" "$root/examples" -type f -name '*.vsc' -print0 | sort -z)

while IFS= read -r -d '' vbf; do
    n=$((n + 1))
    cp "$vbf" "$out/vbf/$n-$(basename "$vbf")"
done < <(find "$root/tests/e2e/cases" "$root/examples" -type f -name '*.vbf' -print0 | sort -z)

cp -r "$out/compile" "$out/check"

echo "seeds: $(ls "$out/compile" | wc -l) scripts, $(ls "$out/vbf" | wc -l) VBF files," \
     "$(ls "$out/inspect" | wc -l) containers"
