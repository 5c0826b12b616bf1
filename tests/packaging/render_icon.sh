#!/usr/bin/env bash
# The icon renderer the build uses: a picture the window does not have, or a
# senseless size, stops the build instead of installing an empty icon.
source "$(dirname "$0")/lib.sh"
need file

render="$VELMORA_BUILD/packaging/velmora-render-icon"
[ -x "$render" ] || fail "$render was not built"
expect_refusal() {
    local status=0
    "$render" "$@" "$work/out.png" 2>"$work/err" || status=$?
    [ "$status" -ne 0 ] || fail "velmora-render-icon $* succeeded"
    [ ! -e "$work/out.png" ] || fail "velmora-render-icon $* left a file behind"
    [ -s "$work/err" ] || fail "velmora-render-icon $* failed without saying why"
}
expect_refusal no-such-picture 48
expect_refusal logo 0
expect_refusal logo 99999
expect_refusal logo 48x

"$render" archive 37 "$work/archive.png" 2>/dev/null || fail "velmora-render-icon archive 37 failed"
info=$(file -b "$work/archive.png")
[[ "$info" == "PNG image data, 37 x 37, "* ]] || fail "archive 37 gave: $info"
echo "icon renderer ok"
