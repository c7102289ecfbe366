#!/usr/bin/env bash
# Packages a build with cpack (.deb and .tar.gz) and installs it with
# `cmake --install` under a DESTDIR, checks that each holds the files it
# must, then unpacks the .deb as a user's machine would: compiles the bundled
# example with the unpacked compiler, verifies the container with the
# unpacked inspector, checks every example with the unpacked checker and formatter, checks
# the version everywhere and renders the man pages.
# Usage: package.sh BUILD_DIR VERSION
set -u
build=$(realpath "$1") version=$2
command -v dpkg-deb >/dev/null || { echo "dpkg-deb not found: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }

# Paths below the installation prefix; the zsh completion goes where zsh
# looks: vendor-completions for the distribution's packages under /usr,
# site-functions under any other prefix.
files="bin/vendrak bin/vendrak-inspect bin/vendrak-check
share/man/man1/vendrak.1.gz share/man/man1/vendrak-inspect.1.gz share/man/man1/vendrak-check.1.gz
share/man/man5/vendrak-script.5.gz share/doc/vendrak/copyright share/doc/vendrak/changelog.gz
share/doc/vendrak/README.md share/doc/vendrak/language.md share/doc/vendrak/limits.md
share/doc/vendrak/CHANGELOG.md share/doc/vendrak/examples/README.md
share/doc/vendrak/examples/flash_job.vsc share/doc/vendrak/examples/key_menu.vsc
share/doc/vendrak/examples/diagnostic_session.vsc share/doc/vendrak/examples/logging_loop.vsc
share/doc/vendrak/examples/sbl.vbf share/doc/vendrak/examples/app.vbf share/doc/vendrak/examples/cal.vbf
share/bash-completion/completions/vendrak share/bash-completion/completions/vendrak-inspect
share/bash-completion/completions/vendrak-check
share/vim/vimfiles/ftdetect/vsc.vim share/vim/vimfiles/syntax/vsc.vim share/vim/vimfiles/ftplugin/vsc.vim
share/vim/vimfiles/compiler/vendrak-check.vim share/nvim/site/syntax/vsc.vim share/nvim/site/ftdetect/vsc.vim"
# The language server, where the build has it (it needs nlohmann-json).
[ -x "$build/vendrak-lsp" ] &&
    files="$files bin/vendrak-lsp share/man/man1/vendrak-lsp.1.gz share/bash-completion/completions/vendrak-lsp"
files="$files bin/vendrak-fmt share/man/man1/vendrak-fmt.1.gz share/bash-completion/completions/vendrak-fmt
bin/vendrak-vbf share/man/man1/vendrak-vbf.1.gz share/man/man5/vbf.5.gz
share/bash-completion/completions/vendrak-vbf"
# The VS Code extension for Linux, when `make vsix` has built it.
vsix_dir=$(sed -n 's/^VENDRAK_VSIX_DIR:PATH=//p' "$build/CMakeCache.txt")
vsix=vendrak-script-$version-linux-x64.vsix
[ -n "$vsix_dir" ] && [ -f "$vsix_dir/$vsix" ] && files="$files share/vendrak/vscode/$vsix"
expect_files() {  # root, zsh directory that holds _vendrak, the one that must not
    local file
    for file in $files "share/zsh/$2/_vendrak"; do
        [ -f "$1/$file" ] || fail "$file missing under $1"
    done
    [ ! -e "$1/share/zsh/$3/_vendrak" ] || fail "_vendrak also in share/zsh/$3 under $1"
}

DESTDIR="$work/dest" cmake --install "$build" --prefix /usr/local >/dev/null || fail "cmake --install failed"
expect_files "$work/dest/usr/local" site-functions vendor-completions

cpack -G "DEB;TGZ" -B "$work/pkg" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/pkg/vendrak_"$version"_*.deb 2>/dev/null)
tgz=$(ls "$work"/pkg/vendrak-"$version"-*.tar.gz 2>/dev/null)
[ -f "$deb" ] && [ -f "$tgz" ] || { fail "cpack made no .deb or .tar.gz: $(ls "$work/pkg")"; exit 1; }

for field in Package:vendrak Version:"$version" Section:devel; do
    [ "$(dpkg-deb -f "$deb" "${field%%:*}")" = "${field#*:}" ] || fail "the .deb's ${field%%:*} is not ${field#*:}"
done
for field in Maintainer Description Depends; do
    [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "the .deb has no $field"
done
dpkg-deb -f "$deb" Depends | grep -q libc6 || fail "Depends lacks the C library: $(dpkg-deb -f "$deb" Depends)"
[ "$(dpkg-deb -f "$deb" Recommends)" = bash-completion ] || fail "the .deb does not recommend bash-completion"

root=$work/root
dpkg-deb -x "$deb" "$root"
expect_files "$root/usr" vendor-completions site-functions
mkdir "$work/tgz" && tar -xzf "$tgz" -C "$work/tgz"
expect_files "$(ls -d "$work"/tgz/*)" site-functions vendor-completions

# The unpacked programs, on the unpacked example.
cp -r "$root/usr/share/doc/vendrak/examples" "$work/job"
(cd "$work/job" && "$root/usr/bin/vendrak" -o job.bin flash_job.vsc </dev/null >"$work/out" 2>&1) ||
    fail "the unpacked vendrak failed on the example: $(cat "$work/out")"
grep -q '^Script Size:' "$work/out" || fail "no summary line: $(cat "$work/out")"
"$root/usr/bin/vendrak-inspect" -q "$work/job/job.bin" >"$work/out" 2>&1 ||
    fail "the unpacked vendrak-inspect rejects the container: $(cat "$work/out")"
(cd "$work/job" && "$root/usr/bin/vendrak-check" *.vsc >"$work/out" 2>&1) && [ ! -s "$work/out" ] ||
    fail "the unpacked vendrak-check does not find the examples clean: $(cat "$work/out")"

# The Debian changelog's newest entry is this version; the copyright file
# is in the machine-readable format.
zcat "$root/usr/share/doc/vendrak/changelog.gz" | head -1 | grep -q "^vendrak ($version) " ||
    fail "the changelog does not begin with version $version"
head -1 "$root/usr/share/doc/vendrak/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' ||
    fail "the copyright file is not machine-readable"

# One version: usage banner, maker tag in the trailer, inspector.
"$root/usr/bin/vendrak" 2>&1 | grep -qxF "VENDRAK Compiler Version $version" || fail "usage banner lacks $version"
[ "$(tail -c 16 "$work/job/job.bin" | tr -d '\0')" = "VENDRAK v$version" ] || fail "maker tag is not VENDRAK v$version"
"$root/usr/bin/vendrak-inspect" --version | grep -qxF "vendrak-inspect $version" || fail "vendrak-inspect --version lacks $version"
"$root/usr/bin/vendrak-check" --version | grep -qxF "vendrak-check $version" || fail "vendrak-check --version lacks $version"
"$root/usr/bin/vendrak-vbf" --version | grep -qxF "vendrak-vbf $version" || fail "vendrak-vbf --version lacks $version"
"$root/usr/bin/vendrak-fmt" --version | grep -qxF "vendrak-fmt $version" || fail "vendrak-fmt --version lacks $version"
(cd "$work/job" && "$root/usr/bin/vendrak-fmt" --check *.vsc >"$work/out" 2>&1) ||
    fail "the unpacked vendrak-fmt would change the examples: $(cat "$work/out")"
"$root/usr/bin/vendrak-vbf" verify -q "$work"/job/*.vbf >"$work/out" 2>&1 ||
    fail "the unpacked vendrak-vbf rejects the examples' VBF files: $(cat "$work/out")"
if [ -x "$build/vendrak-lsp" ]; then
    "$root/usr/bin/vendrak-lsp" --version | grep -qxF "vendrak-lsp $version" || fail "vendrak-lsp --version lacks $version"
fi

for page in "$root"/usr/share/man/man*/*; do
    text=$(mandoc -T ascii "$page" 2>&1 | sed -e 's/.\x08//g')
    name=$(basename "$page" .gz)
    grep -q '^NAME' <<<"$text" && grep -q "${name%.*} -" <<<"$text" ||
        fail "$(basename "$page") does not render: $(head -3 <<<"$text")"
done

echo "$(basename "$deb"), $(basename "$tgz") and the DESTDIR install: $failures failing"
[ "$failures" -eq 0 ]
