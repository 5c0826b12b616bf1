#!/usr/bin/env bash
# The installed manual page renders without a single groff warning, has the
# NAME line the whatis database is built from, and has an entry for every
# switch the installed executable's usage text offers.
source "$(dirname "$0")/lib.sh"
need man lexgrog

root="$work/root"
install_into "$root"
page="$root/usr/share/man/man1/velmora.1.gz"

MANWIDTH=80 man --warnings -l -P cat "$page" >"$work/page.txt" 2>"$work/warnings" ||
    fail "man could not render the page"
if [ -s "$work/warnings" ]; then cat "$work/warnings" >&2; fail "groff warns about the page"; fi
for heading in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES; do
    grep -qx "$heading" "$work/page.txt" || fail "the rendered page has no $heading section"
done
lexgrog "$page" | grep -q ': "velmora - ' || fail "lexgrog finds no NAME line: $(lexgrog "$page" 2>&1)"

usage=$("$root/usr/bin/velmora" --help 2>&1 </dev/null || true)
switches=$(grep -oE '(^|[[:space:][])--?[a-zA-Z][a-zA-Z-]*' <<<"$usage" | sed 's/^[[:space:][]*//' | sort -u)
[ -n "$switches" ] || fail "the usage text names no switch: $usage"
# Each switch needs an entry of its own: a paragraph tag, which the page
# renders at the first indentation, starting with a switch.
grep -E '^ {7}-' "$work/page.txt" >"$work/tags" || fail "the page has no switch entries"
for switch in $switches; do
    grep -qE -- "(^|[[:space:],])$switch([[:space:],]|$)" "$work/tags" ||
        fail "the manual page has no entry for $switch"
done
echo "manual page ok; documents $(wc -w <<<"$switches") switches of the usage text"
