#!/usr/bin/env bash
# The C consumer built with nothing but the flags `pkg-config velmora` gives
# for a scratch install tree (read as a sysroot), then run on an archive the
# installed program made.
source "$(dirname "$0")/lib.sh"
need cc ldd od pkg-config

root="$work/root"
install_into "$root"
mkdir "$work/data"
make_archive "$root" "$work/data/survey.vmra"

# Only the installed tree's pkg-config folder is searched, so a velmora.pc
# elsewhere on the machine cannot stand in for it.
pc() {
    PKG_CONFIG_LIBDIR="$root/usr/$VELMORA_LIBDIR/pkgconfig" PKG_CONFIG_PATH= \
        PKG_CONFIG_SYSROOT_DIR="$root" pkg-config "$@"
}
pc --exists --print-errors velmora 2>"$work/pc.err" ||
    { cat "$work/pc.err" >&2; fail "pkg-config does not find velmora.pc in the installed tree"; }
[ "$(pc --modversion velmora)" = "$VELMORA_VERSION" ] ||
    fail "velmora.pc says version $(pc --modversion velmora)"
# pkg-config ends its flags with a space.
cflags=$(pc --cflags velmora | sed 's/ *$//')
libs=$(pc --libs velmora | sed 's/ *$//')
echo "cflags: $cflags"
echo "libs: $libs"
[ "$cflags" = "-I$root/usr/include" ] || fail "the compiler flags do not point at the installed headers"
[ "$libs" = "-L$root/usr/$VELMORA_LIBDIR -lvelmora" ] || fail "the link flags do not point at the installed library"

# shellcheck disable=SC2086 # the flags are words
cc -std=c99 -Wall -Wextra -Wpedantic -Werror -o "$work/points-c" \
    "$VELMORA_SOURCE/tests/packaging/consumer/main.c" $cflags $libs 2>"$work/cc.log" ||
    { cat "$work/cc.log" >&2; fail "the C consumer does not build with the flags of velmora.pc"; }
check_consumer "$work/points-c" "$work/data/survey.vmra" "$root"
echo "pkg-config consumer ok"
