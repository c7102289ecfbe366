#!/usr/bin/env bash
# Lints a man page and checks that it names everything it documents.
# Usage: man_page.sh PAGE SOURCE [FILE...]
#   SOURCE is a program, whose options are taken from its usage
#   (`SOURCE --help`), or the language manual (a .md file), whose statement
#   keywords are taken from its entry headings. Every one of them must appear
#   in the rendered PAGE and in each FILE (the shell completions).
set -u
page=$1 source=$2
shift 2
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }

command -v mandoc >/dev/null || { echo "mandoc not found: skipped"; exit 77; }
lint=$(mandoc -T lint -W warning "$page" 2>&1) || fail "mandoc: $lint"
if command -v groff >/dev/null; then
    lint=$(groff -mandoc -ww -z "$page" 2>&1)
    [ -z "$lint" ] || fail "groff: $lint"
fi

if [[ $source == *.md ]]; then
    names=$(grep -E '^### [A-Z][A-Z0-9_]*(, [A-Z][A-Z0-9_]*)*$' "$source" | cut -c5- | tr -d ',' | tr ' ' '\n')
else
    # Option lines of the usage start with blanks and a dash; the options are
    # the dashed words before the description (after a tab or two blanks).
    names=$("$source" --help </dev/null 2>&1 | grep -E '^[[:space:]]+-' | sed -E 's/^[[:space:]]+//; s/(\t|  ).*//' |
            grep -oE -- '--?[A-Za-z][A-Za-z0-9-]*')
fi
[ -n "$names" ] || fail "no names found in $source"

# Bold and underlined text come out of mandoc as overstrikes.
rendered=$(mandoc -T ascii "$page" | sed -e 's/.\x08//g')
has() { grep -qE -- "(^|[^[:alnum:]_-])$1([^[:alnum:]_-]|$)"; }
for name in $names; do
    has "$name" <<<"$rendered" || fail "$(basename "$page") does not mention $name"
    for file in "$@"; do
        has "$name" <"$file" || fail "$(basename "$file") does not offer $name"
    done
done
echo "$(basename "$page"): $(wc -w <<<"$names") names checked, $failures failing"
[ "$failures" -eq 0 ]
