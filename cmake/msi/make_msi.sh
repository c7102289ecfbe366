#!/usr/bin/env bash
# Builds the Windows installer from an install tree of the Windows build:
# wixl-heat lists its files as components, wixl builds the MSI from
# vendrak.wxs and that list, and msibuild adds what Debian's wixl cannot
# write: the Environment table with the installation folder's entry in the
# system PATH, and the standard actions that write it on install and remove
# it on uninstall.
# Usage: make_msi.sh INSTALL_TREE VERSION OUTPUT.msi
set -euo pipefail
tree=$(cd "$1" && pwd) version=$2 msi=$3
here=$(cd "$(dirname "$0")" && pwd)
for tool in wixl wixl-heat msibuild; do
    command -v $tool >/dev/null || { echo "make_msi.sh: $tool not found (Debian packages wixl and msitools)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

find "$tree" -type f | LC_ALL=C sort |
    wixl-heat --prefix "$tree/" --directory-ref VendrakFolder --component-group VendrakFiles --var var.SourceDir --win64 \
    >"$work/files.wxs"
# wixl takes the files' sources relative to the directory it runs in.
(cd "$tree" && wixl --arch x64 -D SourceDir=. -D Version="$version" -D Win64=yes -o "$work/vendrak.msi" \
    "$here/vendrak.wxs" "$work/files.wxs")
msibuild "$work/vendrak.msi" -i "$here/environment.idt"
msibuild "$work/vendrak.msi" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveEnvironmentStrings', 3300)"
msibuild "$work/vendrak.msi" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteEnvironmentStrings', 5200)"
mv "$work/vendrak.msi" "$msi"
