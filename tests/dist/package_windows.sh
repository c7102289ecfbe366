#!/usr/bin/env bash
# Packages the Windows build as a .zip, checks that it holds the programs,
# the documents, the man pages and the examples, that the programs need no
# DLL beside Windows' own, and then uses it as a workshop PC would: unpacks
# it, compiles the bundled example with the unpacked vendrak.exe under Wine,
# verifies the container with the unpacked vendrak-inspect.exe, checks
# the examples with the unpacked vendrak-check.exe and vendrak-fmt.exe, and
# their VBF files with vendrak-vbf.exe. (That the .exe files
# make the containers and findings the Linux build makes, the e2e cases and
# check_compare.sh show under Wine.)
# Usage: package_windows.sh WINDOWS_BUILD_DIR
# (WINEPREFIX and WINEDEBUG as `make test-windows` sets them)
set -u
build=$(realpath "$1")
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }

cpack -G ZIP -B "$work/pkg" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; exit 1; }
zip=$work/pkg/vendrak-$version-Windows-x86_64.zip
[ -f "$zip" ] || { fail "cpack made no $(basename "$zip"): $(ls "$work/pkg")"; exit 1; }
(cd "$work" && cmake -E tar xf "$zip") || { fail "cannot unpack $zip"; exit 1; }
root=$work/vendrak-$version-Windows-x86_64

programs="vendrak.exe vendrak-inspect.exe vendrak-check.exe vendrak-lsp.exe vendrak-fmt.exe vendrak-vbf.exe"
for file in $programs README.md LICENSE CHANGELOG.md docs/language.md docs/limits.md \
    docs/man/vendrak.1.html docs/man/vendrak-inspect.1.html docs/man/vendrak-check.1.html \
    docs/man/vendrak-lsp.1.html docs/man/vendrak-fmt.1.html docs/man/vendrak-vbf.1.html \
    docs/man/vendrak-script.5.html docs/man/vbf.5.html examples/README.md examples/flash_job.vsc examples/key_menu.vsc examples/diagnostic_session.vsc \
    examples/logging_loop.vsc examples/sbl.vbf examples/app.vbf examples/cal.vbf; do
    [ -f "$root/$file" ] || fail "$file missing from the .zip"
done

# The VS Code extension for Windows, when `make vsix` has built it.
vsix_dir=$(sed -n 's/^VENDRAK_VSIX_DIR:PATH=//p' "$build/CMakeCache.txt")
vsix=vendrak-script-$version-win32-x64.vsix
if [ -n "$vsix_dir" ] && [ -f "$vsix_dir/$vsix" ]; then
    cmp -s "$vsix_dir/$vsix" "$root/vscode/$vsix" || fail "vscode/$vsix missing from the .zip or not the one built"
fi

# Linked statically: no DLL of the compiler's runtime (libstdc++, libgcc,
# winpthread) has to travel with the programs.
for exe in $programs; do
    dlls=$(x86_64-w64-mingw32-objdump -p "$root/$exe" | sed -n 's/^\s*DLL Name: //p')
    [ -n "$dlls" ] || fail "$exe: no import table found"
    for dll in $dlls; do
        case ${dll,,} in
        lib*) fail "$exe needs $dll" ;;
        esac
    done
done

cp -r "$root/examples" "$work/job"
(cd "$work/job" && wine "$root/vendrak.exe" -o job.bin flash_job.vsc </dev/null >"$work/out" 2>&1)
status=$?
[ $status = 0 ] || fail "vendrak.exe ended with $status on the bundled example: $(cat "$work/out")"
grep -Eq $'^Script Size:[0-9]+, File Size:[0-9]+, CRC:0x[0-9A-F]{8}\r$' "$work/out" ||
    fail "no summary line with CR LF: $(cat -A "$work/out")"
(cd "$work/job" && wine "$root/vendrak-inspect.exe" -q job.bin </dev/null >"$work/inspect" 2>&1) ||
    fail "vendrak-inspect.exe rejects the container: $(cat "$work/inspect")"
for program in vendrak-inspect vendrak-check vendrak-lsp vendrak-fmt vendrak-vbf; do
    wine "$root/$program.exe" --version </dev/null | grep -q "^$program $version"$'\r$' ||
        fail "$program.exe --version does not say $version"
done
(cd "$work/job" && wine "$root/vendrak-check.exe" flash_job.vsc key_menu.vsc diagnostic_session.vsc logging_loop.vsc \
    </dev/null >"$work/check" 2>&1) && [ ! -s "$work/check" ] ||
    fail "vendrak-check.exe does not find the examples clean: $(cat "$work/check")"
(cd "$work/job" && wine "$root/vendrak-fmt.exe" --check flash_job.vsc key_menu.vsc diagnostic_session.vsc \
    logging_loop.vsc </dev/null >"$work/fmt" 2>&1) ||
    fail "vendrak-fmt.exe would change the examples: $(cat "$work/fmt")"
(cd "$work/job" && wine "$root/vendrak-vbf.exe" verify -q sbl.vbf app.vbf cal.vbf </dev/null >"$work/vbf" 2>&1) &&
    [ ! -s "$work/vbf" ] || fail "vendrak-vbf.exe does not find the examples' VBF files sound: $(cat "$work/vbf")"

[ $failures = 0 ] && echo "package_windows: all checks passed"
exit $((failures > 0))
