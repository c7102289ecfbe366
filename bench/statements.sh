#!/usr/bin/env bash
# Times the compile of a generated script of 1,000,000 statements (every
# statement form, labels, GOTOs, IF and DO blocks) against `wc -w` on the
# same file, `vendrak-inspect -q` on the container it gives, and
# `vendrak-check` on the script against the compile; where the build has
# vendrak-fmt, also the formatting of the script against `wc -w`.
#
#   bench/statements.sh                 build Release into build-release, run, report
#   bench/statements.sh DIR...          measure the programs in each build DIR instead
#   STATEMENTS=200000 RUNS=5 bench/statements.sh
#   SCRIPT_ONLY=/abs/dir bench/statements.sh build   only write big.vsc (and small.vbf) there
#
# STATEMENTS: statements of the script (default 1000000).
# RUNS: runs of each command, interleaved (wc, then each build's compile);
# the fastest wall and CPU times count (default 3).
# Given several build directories, all of them are measured in the same
# interleaved runs, so their figures compare directly.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
statements=${STATEMENTS:-1000000}
runs=${RUNS:-3}

if [ ! -x /usr/bin/time ]; then
    echo "bench: /usr/bin/time is missing (Debian/Ubuntu: apt-get install time)" >&2
    exit 1
fi

builds=("$@")
if [ ${#builds[@]} -eq 0 ]; then
    build=$root/build-release
    echo "== building Release into $build"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVENDRAK_TESTS=OFF -DVENDRAK_TOOLS=ON >/dev/null
    ninja -C "$build" vendrak vendrak-inspect vendrak-vbf vendrak-check >/dev/null
    ninja -C "$build" vendrak-fmt >/dev/null 2>&1 || true
    builds=("$build")
fi
for i in "${!builds[@]}"; do
    builds[$i]=$(cd "${builds[$i]}" && pwd)
done
for b in "${builds[@]}"; do
    for p in vendrak vendrak-inspect; do
        [ -x "$b/$p" ] || { echo "bench: $b/$p is missing" >&2; exit 1; }
    done
done
vbftool=
for b in "${builds[@]}"; do [ -x "$b/vendrak-vbf" ] && vbftool=$b/vendrak-vbf && break; done

work=$(mktemp -d "${TMPDIR:-/tmp}/vendrak-statements.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# One cycle of 48 statements: a label, most statement forms with valid
# operands, an IF/ELSE block, a DO loop and a GOTO to the next cycle's
# label; every 20,000th cycle also programs a small VBF file. Texts and
# arrays stand only in the first 1,000 cycles: the string table and the
# operands that point into the data table are limited to 64 KiB offsets.
echo "== generating $statements statements in $work/big.vsc"
[ -n "$vbftool" ] && "$vbftool" create -o small.vbf --part-number BENCH --part-type DATA --fill 0x0:64 >/dev/null
awk -v n="$statements" -v prog="$([ -n "$vbftool" ] && echo 1 || echo 0)" '
BEGIN {
    m = split("DELAY 100#LCD 1 1 VAR[3]#HLCD 2 1 DATA[0,4]#HUD 3 5 VBAT 1.5 2.5#LED GREEN ON#LED RED TOGGLE#" \
              "LOG ADD TIME#NET CAN_HS 11 500000#DIAG ISO14229 0x7E0 0x7E8#WRITE SID 0x22 0xF1 0x90#" \
              "READ SID 0x62#REQUEST 0x10 0x03#PERIODIC MSG 100 0x7DF 0x3E 0x80#SET_VALUE VOLTS 12#" \
              "VAR[1] = VAR[1] + 1#VAR[2] = DATA[0,2] * 3#IF VAR[1] > 10#VAR[1] = 0#ELSE#GETKEY#ENDIF#" \
              "DO#GETKEY#ENDDO#WHILE KEY != ENTER#WAITKEY ENTER#DAT_CREATE VIN#DAT_CHECK VIN#DID SAVE 0x10#" \
              "DID MODIFY 0x10 2 8 | 0x80#DAT_DELETE VIN#SECURITY 1 0x0102030405#EXHALE A#INHALE B#" \
              "FW_VERSION 2.15#UPLOAD 0x1000 0x20#DOWNLOAD 0x2000 0x40#MEM 5 = 0x0102#GETTIME#" \
              "IF BIT[3,1] = 1#LOG FILE VAR[2]#ENDIF#DELAY 5#VAR[3] = 2.5 * VAR[1]#LED RED OFF#RETURN", cycle, "#")
    print "DAT_INIT VIN"
    emitted = 1
    for (c = 0; emitted < n; c++) {
        print "L" c ":"
        emitted++
        for (i = 1; i <= m && emitted < n - 1; i++) { print cycle[i]; emitted++ }
        if (emitted >= n - 1) break
        if (c < 1000) {
            print "LCD 1 1 \"READY\""
            print "IF HEX[0,2] = {0x01, 0x02}"
            print "ENDIF"
            emitted += 3
        } else if (prog && c % 20000 == 0) {
            print "PROG \"small.vbf\""
            emitted++
        }
        print "GOTO L" c + 1
        emitted++
    }
    while (emitted < n) { print "L" c + 1 ":"; emitted++ }
}' >big.vsc
ls -l big.vsc
echo "words: $(wc -w <big.vsc), statements: $statements"
# SCRIPT_ONLY=DIR (an absolute path): only make the script and its VBF
# file, copied into DIR, and time nothing (the page's test uses them).
if [ -n "${SCRIPT_ONLY:-}" ]; then
    cp big.vsc "$SCRIPT_ONLY"/
    [ ! -f small.vbf ] || cp small.vbf "$SCRIPT_ONLY"/
    exit 0
fi

# Runs "$@" once under /usr/bin/time; sets wall, cpu (user + system) and
# peak (KiB resident) of that run.
measure_once() {
    local report=$work/time.txt start end user sys
    start=$(date +%s%N)
    if ! /usr/bin/time -f '%U %S %M' -o "$report" "$@" </dev/null >run.out 2>run.err; then
        echo "bench: '$*' failed:" >&2
        head -c 2000 run.out run.err >&2
        exit 1
    fi
    end=$(date +%s%N)
    read -r user sys peak <"$report"
    wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }

cat big.vsc >/dev/null
declare -A best_wall best_cpu peak_of findings_of
for ((r = 0; r < runs; r++)); do
    measure_once wc -w big.vsc
    best_wall[wc]=$(min "${best_wall[wc]:-}" "$wall")
    best_cpu[wc]=$(min "${best_cpu[wc]:-}" "$cpu")
    for i in "${!builds[@]}"; do
        rm -f "big$i.out"
        measure_once "${builds[$i]}/vendrak" -o "big$i.out" big.vsc
        best_wall[c$i]=$(min "${best_wall[c$i]:-}" "$wall")
        best_cpu[c$i]=$(min "${best_cpu[c$i]:-}" "$cpu")
        peak_of[c$i]=$peak
        summary[$i]=$(grep 'Script Size' run.out || true)
    done
done
for i in "${!builds[@]}"; do
    for ((r = 0; r < runs; r++)); do
        measure_once "${builds[$i]}/vendrak-inspect" -q "big$i.out"
        best_wall[i$i]=$(min "${best_wall[i$i]:-}" "$wall")
        best_cpu[i$i]=$(min "${best_cpu[i$i]:-}" "$cpu")
        peak_of[i$i]=$peak
        verdict[$i]=$(tail -n 1 run.out)
    done
done

# vendrak-check on the same script, where the build has it: every check,
# the whole-program ones included, against the compile.
for i in "${!builds[@]}"; do
    [ -x "${builds[$i]}/vendrak-check" ] || continue
    for ((r = 0; r < runs; r++)); do
        measure_once "${builds[$i]}/vendrak-check" big.vsc
        best_wall[k$i]=$(min "${best_wall[k$i]:-}" "$wall")
        best_cpu[k$i]=$(min "${best_cpu[k$i]:-}" "$cpu")
        peak_of[k$i]=$peak
        findings_of[$i]=$(wc -l <run.out)
    done
done

# The formatter, interleaved with wc -w as the compile is; its output goes
# to a file like the compile's container.
for i in "${!builds[@]}"; do
    [ -x "${builds[$i]}/vendrak-fmt" ] || continue
    for ((r = 0; r < runs; r++)); do
        measure_once wc -w big.vsc
        best_wall[fwc$i]=$(min "${best_wall[fwc$i]:-}" "$wall")
        best_cpu[fwc$i]=$(min "${best_cpu[fwc$i]:-}" "$cpu")
        measure_once "${builds[$i]}/vendrak-fmt" big.vsc
        best_wall[f$i]=$(min "${best_wall[f$i]:-}" "$wall")
        best_cpu[f$i]=$(min "${best_cpu[f$i]:-}" "$cpu")
        peak_of[f$i]=$peak
    done
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }
echo
echo "wc -w:            ${best_wall[wc]} s wall, ${best_cpu[wc]} s CPU"
for i in "${!builds[@]}"; do
    echo
    echo "build:            ${builds[$i]}"
    echo "vendrak output:   ${summary[$i]:-<no summary line>}"
    echo "compile:          ${best_wall[c$i]} s wall ($(ratio "${best_wall[c$i]}" "${best_wall[wc]}") x wc -w)," \
         "${best_cpu[c$i]} s CPU ($(ratio "${best_cpu[c$i]}" "${best_cpu[wc]}") x wc -w)"
    echo "compile peak:     $(mib "${peak_of[c$i]}") resident"
    echo "inspect -q:       ${best_wall[i$i]} s wall, ${best_cpu[i$i]} s CPU, peak $(mib "${peak_of[i$i]}"): ${verdict[$i]}"
    if [ -n "${best_wall[k$i]:-}" ]; then
        echo "vendrak-check:    ${best_wall[k$i]} s wall ($(ratio "${best_wall[k$i]}" "${best_wall[c$i]}") x compile)," \
             "${best_cpu[k$i]} s CPU ($(ratio "${best_cpu[k$i]}" "${best_cpu[c$i]}") x compile)," \
             "peak $(mib "${peak_of[k$i]}"), ${findings_of[$i]} lines of findings"
    fi
    if [ -n "${best_wall[f$i]:-}" ]; then
        echo "vendrak-fmt:      ${best_wall[f$i]} s wall ($(ratio "${best_wall[f$i]}" "${best_wall[fwc$i]}") x wc -w)," \
             "${best_cpu[f$i]} s CPU ($(ratio "${best_cpu[f$i]}" "${best_cpu[fwc$i]}") x wc -w)," \
             "peak $(mib "${peak_of[f$i]}")"
    fi
done
