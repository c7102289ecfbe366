#!/usr/bin/env bash
# Packages the extension for one VS Code platform with its language server:
# the bundle (npm run bundle), the manifest, grammar and language settings
# and the server, staged in OUT/stage-TARGET, become
# OUT/vendrak-script-<version>-TARGET.vsix.
# Usage: SYNTAXES=DIR [STRIP=strip] package.sh TARGET SERVER OUT     (TARGET: linux-x64 or win32-x64)
set -euo pipefail
target=$1 server=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
case $target in
win32-*) name=vendrak-lsp.exe ;;
*) name=vendrak-lsp ;;
esac
[ -f "$here/dist/extension.js" ] || { echo "package.sh: no dist/extension.js: run npm run bundle first" >&2; exit 1; }
[ -f "$server" ] || { echo "package.sh: no server $server" >&2; exit 1; }
version=$(node -p "require('$here/package.json').version")
mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$out/stage-$target
rm -rf "$stage"
mkdir -p "$stage/dist" "$stage/server" "$stage/syntaxes"
cp "$here/package.json" "$here/README.md" "$here/language-configuration.json" "$here/.vscodeignore" "$stage/"
cp "$here/../../LICENSE" "$stage/"
# SYNTAXES: the grammar the build made from the vocabulary table
# (editors/vscode/syntaxes of the build directory).
cp "${SYNTAXES:?SYNTAXES names the folder of the built grammar}"/*.json "$stage/syntaxes/"
cp "$here/dist/extension.js" "$stage/dist/"
install -m 755 "$server" "$stage/server/$name"
# STRIP: the strip program of the server's platform, to leave out its symbols.
[ -z "${STRIP:-}" ] || "$STRIP" "$stage/server/$name"
vsix=$out/vendrak-script-$version-$target.vsix
(cd "$stage" && "$here/node_modules/.bin/vsce" package --no-dependencies --allow-missing-repository \
    --target "$target" --out "$vsix")
rm -rf "$stage"
