#!/usr/bin/env bash
# A program of another project, built with CMake against the installed
# library (find_package(Velmora), Velmora::velmora) from a scratch install
# tree, runs and reads an archive the installed program made: once through
# the C++ interface, once through the C interface. The installed CMake
# package must also refuse a request for another major version.
source "$(dirname "$0")/lib.sh"
need cc c++ ldd od

root="$work/root"
install_into "$root"
mkdir "$work/data"
make_archive "$root" "$work/data/survey.vmra"

generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
configure() {
    "$CMAKE" -S "$VELMORA_SOURCE/tests/packaging/consumer" -B "$1" "${generator[@]}" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$root/usr" -DVELMORA_REQUEST="$2"
}

consumer="$work/consumer"
configure "$consumer" "$soversion.0" >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log" >&2; fail "the consumer does not configure against the installed package"; }
# The package found must be the one just installed, whatever the machine has.
found=$(sed -n 's/^Velmora_DIR:PATH=//p' "$consumer/CMakeCache.txt")
[ "$found" = "$root/usr/$VELMORA_LIBDIR/cmake/Velmora" ] || fail "find_package(Velmora) found '$found'"
"$CMAKE" --build "$consumer" >"$work/build.log" 2>&1 ||
    { cat "$work/build.log" >&2; fail "the consumer does not build against the installed package"; }

check_consumer "$consumer/points-cpp" "$work/data/survey.vmra" "$root"
check_consumer "$consumer/points-c" "$work/data/survey.vmra" "$root"

# SameMajorVersion: the next major version is another SONAME, so another
# library, and must not be taken for this one.
if configure "$work/consumer-next" "$((soversion + 1)).0" >"$work/next.log" 2>&1; then
    fail "find_package(Velmora $((soversion + 1)).0) accepted version $VELMORA_VERSION"
fi
grep -qF "$root/usr/$VELMORA_LIBDIR/cmake/Velmora/VelmoraConfig.cmake, version: $VELMORA_VERSION" "$work/next.log" ||
    { cat "$work/next.log" >&2; fail "the refusal of version $((soversion + 1)).0 is not the version file's"; }
echo "CMake consumer ok: C++ and C programs read the archive through the installed library"
