#!/usr/bin/env bash
# The installer under Wine, in a fresh Wine prefix of its own, all silent:
# installed, it lists vendrak once among the installed programs, puts its
# folder once on the system PATH, a new cmd finds every program through the
# PATH and the checker works on an installed example, and every file of the
# install tree the MSI was made from is installed as it is there; uninstalled, it leaves
# no installed file, no PATH entry and no entry in that list. Then an older
# release is installed and this one over it: upgraded in place, listed once,
# on the PATH once, and uninstalled as cleanly.
# Usage: msi_test.sh MSI OLDER_MSI TREE PREFIX_DIR VERSION PROGRAM...
set -u
msi=$(realpath "$1") older=$(realpath "$2") tree=$(realpath "$3") prefix=$4 version=$5
shift 5
programs=("$@")
command -v wine >/dev/null || { echo "wine not found: skipped"; exit 77; }
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }

rm -rf "$prefix"
mkdir -p "$prefix"
export WINEPREFIX=$(realpath "$prefix") WINEDEBUG=-all
wineboot --init >/dev/null 2>&1 || { echo "wineboot failed"; exit 1; }
wineserver -w
dir="$WINEPREFIX/drive_c/Program Files/vendrak"
win() { printf 'Z:%s' "${1//\//\\}"; }

# The registry as Wine writes it out once its server has ended: the number
# of entries of the installation folder in the system PATH, and of vendrak
# in the machine's list of installed programs.
registry() { wineserver -k; wineserver -w; cat "$WINEPREFIX/system.reg"; }
path_entries() {
    sed -n 's/^"PATH"=str(2):"\(.*\)"$/\1/p' <<<"$1" | tr ';' '\n' | grep -ic 'program files\\\\vendrak'
}
listed() {
    awk '/^\[/ { uninstall = /^\[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\/ }
         uninstall && /^"DisplayName"="vendrak / { n++ } END { print n + 0 }' <<<"$1"
}
uninstalled() {  # what was done
    local reg
    wine msiexec /x "$(win "$msi")" /qn >/dev/null 2>&1 || fail "$1: the MSI does not uninstall"
    reg=$(registry)
    left=$(find "$dir" -type f 2>/dev/null)
    [ -z "$left" ] || fail "$1: files left after uninstalling: $left"
    [ "$(path_entries "$reg")" = 0 ] || fail "$1: the PATH still holds the folder after uninstalling"
    [ "$(listed "$reg")" = 0 ] || fail "$1: vendrak is still listed among the installed programs"
}

# A fresh install.
wine msiexec /i "$(win "$msi")" /qn >/dev/null 2>&1 || fail "the MSI does not install"
reg=$(registry)
[ "$(listed "$reg")" = 1 ] || fail "vendrak is listed $(listed "$reg") times among the installed programs"
grep -q "^\"DisplayVersion\"=\"$version\"" <<<"$reg" || fail "the installed programs do not list version $version"
[ "$(path_entries "$reg")" = 1 ] || fail "the PATH holds the folder $(path_entries "$reg") times"
for program in "${programs[@]}"; do
    [ -f "$dir/$program.exe" ] || fail "$program.exe is not installed"
done
for file in README.md LICENSE docs/language.md docs/man/vendrak-script.5.html docs/man/vbf.5.html \
    examples/flash_job.vsc; do
    [ -f "$dir/$file" ] || fail "$file is not installed"
done
(cd "$tree" && find . -type f) | while read -r file; do
    cmp -s "$tree/$file" "$dir/$file" || echo "${file#./}"
done >"$prefix/differ"
[ ! -s "$prefix/differ" ] || fail "not installed as in the tree: $(cat "$prefix/differ")"
for program in "${programs[@]}"; do
    [ -f "$dir/docs/man/$program.1.html" ] || fail "the man page of $program is not installed"
done

# A new cmd, which reads the PATH from the registry, finds each program.
# Under load Wine's cmd has once failed to find one program of six that the
# next cmd found, so a program counts as not found when two cmds in a row
# (the second once the Wine server is idle) do not find it.
for program in "${programs[@]}"; do
    case $program in
    vendrak) command=$program want="VENDRAK Compiler Version $version" ;;
    *) command="$program --version" want="$program $version" ;;
    esac
    out=$(wine cmd /c "$command" </dev/null 2>&1)
    if ! grep -q "^$want" <<<"$out"; then
        echo "cmd did not run $program through the PATH; once more: $(head -1 <<<"$out")"
        wineserver -w
        out=$(wine cmd /c "$command" </dev/null 2>&1)
    fi
    grep -q "^$want" <<<"$out" || fail "cmd does not run $program through the PATH: $(head -2 <<<"$out")"
done
out=$(cd "$dir/examples" && wine cmd /c "vendrak-check flash_job.vsc key_menu.vsc" </dev/null 2>&1) ||
    fail "the installed vendrak-check fails on the installed examples: $out"
uninstalled "fresh install"

# An upgrade in place: the older release, then this one over it. (Wine
# leaves the `;` of a removed PATH entry behind, and its cmd stops searching
# the PATH at an empty entry, so the programs are run by their full path
# here.)
wine msiexec /i "$(win "$older")" /qn >/dev/null 2>&1 || fail "the older MSI does not install"
wine msiexec /i "$(win "$msi")" /qn >/dev/null 2>&1 || fail "the MSI does not install over the older one"
reg=$(registry)
[ "$(listed "$reg")" = 1 ] || fail "after the upgrade vendrak is listed $(listed "$reg") times among the installed programs"
grep -q "^\"DisplayVersion\"=\"$version\"" <<<"$reg" || fail "after the upgrade the version listed is not $version"
[ "$(path_entries "$reg")" = 1 ] || fail "after the upgrade the PATH holds the folder $(path_entries "$reg") times"
out=$(wine "$dir/vendrak-check.exe" --version </dev/null 2>&1)
grep -q "^vendrak-check $version" <<<"$out" || fail "after the upgrade vendrak-check.exe says $out"
uninstalled "upgrade"

wineserver -k
[ $failures = 0 ] && echo "msi_test: all checks passed"
exit $((failures > 0))
