#!/usr/bin/env bash
# The .deb under lintian --pedantic: no error and no warning, and none of the
# hardening tags (every installed binary is built with _FORTIFY_SOURCE, the
# stack protector, PIE and full RELRO with immediate binding). The info and
# pedantic tags that remain are printed; each is explained in the README.
# Usage: lintian.sh PACKAGE.deb
set -u
deb=$1
command -v lintian >/dev/null || { echo "lintian not found: skipped"; exit 77; }
[ -f "$deb" ] || { echo "no package $deb"; exit 1; }
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }

# Lintian refuses to run as root unless told to.
tags=$(lintian --allow-root --pedantic --display-info --no-tag-display-limit "$deb" 2>&1)
status=$?
[ $status -le 2 ] || fail "lintian failed ($status): $tags"
grep -E '^(E|W): ' <<<"$tags" && fail "lintian reports errors or warnings"
grep -E '^[IP]: .* hardening-' <<<"$tags" && fail "a binary lacks hardening"
echo "$tags" | grep -E '^[IP]: ' | sed 's/^/remaining: /'
echo "lintian --pedantic on $(basename "$deb"): $failures failing"
[ $failures = 0 ]
