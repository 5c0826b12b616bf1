#!/usr/bin/env bash
# A build without Qt configures, installs and packages the command line
# alone: no desktop entry, file types or icons, and no Qt among the
# dependencies. It builds a tree of its own, so it takes a while.
source "$(dirname "$0")/lib.sh"
need dpkg-deb dpkg-shlibdeps

generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
cli="$work/build-cli"
"$CMAKE" -S "$VELMORA_SOURCE" -B "$cli" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DVELMORA_GUI=OFF -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log" >&2; fail "a build without the window does not configure"; }
grep -q 'VELMORA_GUI:BOOL=OFF' "$cli/CMakeCache.txt" || fail "the tree was not configured without the window"
"$CMAKE" --build "$cli" -j "${VELMORA_PACKAGING_JOBS:-2}" >"$work/build.log" 2>&1 ||
    { tail -40 "$work/build.log" >&2; fail "a build without the window does not build"; }

# The library folder is the one this tree was configured with.
VELMORA_LIBDIR=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$cli/CMakeCache.txt")
[ -n "$VELMORA_LIBDIR" ] || fail "the tree without the window has no CMAKE_INSTALL_LIBDIR"
VELMORA_CONFIG=release  # configured as Release above

root="$work/root"
DESTDIR="$root" "$CMAKE" --install "$cli" --prefix /usr >/dev/null || fail "cmake --install failed"
export LD_LIBRARY_PATH="$root/usr/$VELMORA_LIBDIR${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
diff -u <(VELMORA_GUI=0 expected_files) <(files_under "$root") >"$work/diff" ||
    { cat "$work/diff" >&2; fail "the installed files differ from the expected list (- expected, + installed)"; }

"$CPACK" --config "$cli/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(echo "$work"/pkg/velmora_*.deb)
[ -f "$deb" ] || fail "cpack wrote no package: $(ls "$work/pkg")"
depends=$(dpkg-deb --field "$deb" Depends)
[[ "$depends" == *"libc6 ("* ]] || fail "Depends lacks libc6: $depends"
[[ "$depends" != *qt* ]] || fail "a build without the window depends on Qt: $depends"
diff -u <(VELMORA_GUI=0 package_files velmora) \
        <(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {sub(/^\.\//, "", $6); print $6}' | LC_ALL=C sort) \
    >"$work/diff" || { cat "$work/diff" >&2; fail "the package's files differ from the expected list"; }

make_las "$work/north.las"
mkdir "$work/out"
(cd "$work" && "$root/usr/bin/velmora" -c north.las survey.vmra && cd out &&
    "$root/usr/bin/velmora" -d ../survey.vmra) </dev/null >"$work/run.log" 2>&1 ||
    { cat "$work/run.log" >&2; fail "the command line of the build without the window does not run"; }
cmp -s "$work/north.las" "$work/out/north.las" || fail "the file came back different"
echo "command-line package ok: $(basename "$deb"), Depends: $depends"
