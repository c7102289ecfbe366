#!/usr/bin/env bash
# vendrak-check.exe under Wine against vendrak-check on Linux, on every .vsc
# below the given directories (copied, with the files beside them, into a
# scratch tree): the findings and the exit status must be the same
#   - for the scripts of each directory checked in that directory, as a
#     user runs them;
#   - for all scripts at once from the top of the tree, named by relative
#     paths, with `\` between the parts on Windows and `/` on Linux (the
#     paths Windows prints, file names and the files beside the script,
#     are compared with `\` read as `/`);
#   - for all scripts again with CR LF line ends, as Windows editors save.
# The Windows output ends its lines with CR LF; that is checked, then
# removed before comparing.
# Usage: check_compare.sh LINUX_CHECK WINDOWS_CHECK.exe DIR...
# (WINEPREFIX and WINEDEBUG as `make test-windows` sets them)
set -u
linux=$(realpath "$1") windows=$(realpath "$2")
shift 2
command -v wine >/dev/null || { echo "wine not found: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 compared=0
fail() { echo "$*"; failures=$((failures + 1)); }

# One Wine server for all the runs, rather than one started for each.
wineserver -p 30 2>/dev/null

# The scripts and their directories' files, under tree/<n>/ for the n-th
# directory given.
n=0
for dir in "$@"; do
    n=$((n + 1))
    mkdir -p "$work/tree/$n"
    cp -r "$dir/." "$work/tree/$n/"
done
cd "$work/tree" || exit 1
mapfile -t scripts < <(find . -name '*.vsc' -type f | sed 's|^\./||' | LC_ALL=C sort)
[ ${#scripts[@]} -gt 0 ] || { echo "no scripts found in $*"; exit 1; }

# Runs both checkers with the same arguments (Windows: `/` turned into `\`
# in the script paths) in the current directory and compares.
compare() {  # what, paths (exact: the findings as printed; paths: `\` read as `/`), arguments...
    local what=$1 paths=$2
    shift 2
    local args=("$@") win_args=() linux_status windows_status
    for a in "${args[@]}"; do win_args+=("${a//\//\\}"); done
    "$linux" "${args[@]}" >"$work/linux.out" 2>"$work/linux.err" </dev/null
    linux_status=$?
    wine "$windows" "${win_args[@]}" >"$work/windows.raw" 2>"$work/windows.err" </dev/null
    windows_status=$?
    compared=$((compared + 1))
    if [ -s "$work/windows.raw" ] && grep -qv $'\r$' "$work/windows.raw"; then
        fail "$what: a line of vendrak-check.exe's output does not end in CR LF"
    fi
    if [ "$paths" = exact ]; then
        tr -d '\r' <"$work/windows.raw" >"$work/windows.out"
    else
        # The same on both sides, so that a `\` of the findings' own text (a
        # byte written as \xEF) still compares equal.
        tr -d '\r' <"$work/windows.raw" | tr '\\' / >"$work/windows.out"
        tr '\\' / <"$work/linux.out" >"$work/linux.slashed" && mv "$work/linux.slashed" "$work/linux.out"
    fi
    [ "$linux_status" = "$windows_status" ] ||
        fail "$what: status $windows_status on Windows, $linux_status on Linux"
    if ! cmp -s "$work/linux.out" "$work/windows.out"; then
        fail "$what: the findings differ (< Linux, > Windows):"
        diff "$work/linux.out" "$work/windows.out" | head -20
    fi
}

mapfile -t dirs < <(printf '%s\n' "${scripts[@]}" | xargs -d '\n' -n 1 dirname | LC_ALL=C sort -u)
for dir in "${dirs[@]}"; do
    names=()
    for script in "${scripts[@]}"; do
        [ "$(dirname "$script")" = "$dir" ] && names+=("$(basename "$script")")
    done
    cd "$work/tree/$dir" && compare "$dir" exact "${names[@]}"
done
cd "$work/tree" || exit 1
compare "all scripts from the top" paths "${scripts[@]}"

mkdir "$work/crlf"
for script in "${scripts[@]}"; do
    mkdir -p "$work/crlf/$(dirname "$script")"
    sed 's/\r*$/\r/' "$script" >"$work/crlf/$script"
done
cd "$work/crlf" && compare "all scripts with CR LF" paths "${scripts[@]}"
cd "$work" || exit 1

echo "check_compare: ${#scripts[@]} scripts, $failures failing"
[ $failures = 0 ]
