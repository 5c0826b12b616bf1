# Shared by the packaging checks. CTest passes the build in the environment:
# VELMORA_BUILD, VELMORA_SOURCE, VELMORA_VERSION, VELMORA_GUI (1/0),
# VELMORA_LIBDIR (the library folder below the prefix), VELMORA_CONFIG (the
# build type in lower case), VELMORA_GEN, CMAKE, CPACK.
set -euo pipefail

# The library's SONAME version and the Debian packages of the build.
soversion=${VELMORA_VERSION%%.*}
runtime_package=libvelmora$soversion
packages=(velmora "$runtime_package" libvelmora-dev)

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A missing tool skips the check with a reason; where the tools must be there
# (CI sets VELMORA_REQUIRE_TOOLS=1) it fails instead.
need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 && continue
        if [ "${VELMORA_REQUIRE_TOOLS:-0}" = 1 ]; then
            fail "$tool is not installed (scripts/install-deps.sh installs it)"
        fi
        echo "SKIPPED: $tool is not installed (scripts/install-deps.sh installs it)"
        exit 77
    done
}

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-packaging.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Installs the build under DESTDIR $1 with the prefix a package uses.
install_into() {
    DESTDIR="$1" "$CMAKE" --install "$VELMORA_BUILD" --prefix /usr >"$work/install.log" ||
        { cat "$work/install.log" >&2; fail "cmake --install failed"; }
}

# The files of each Debian package, relative to the root. The program:
program_files() {
    echo usr/bin/velmora
    echo usr/share/man/man1/velmora.1.gz
    echo usr/share/doc-base/velmora
    local doc
    for doc in copyright changelog.gz index.html tut.html; do
        echo "usr/share/doc/velmora/$doc"
    done
    if [ "$VELMORA_GUI" = 1 ]; then
        echo usr/share/applications/velmora.desktop
        echo usr/share/mime/packages/velmora.xml
        local size
        for size in scalable 48x48 128x128 256x256; do
            local ext=png
            [ "$size" = scalable ] && ext=svg
            echo "usr/share/icons/hicolor/$size/apps/velmora.$ext"
            echo "usr/share/icons/hicolor/$size/mimetypes/application-x-velmora-archive.$ext"
        done
    fi
}

# The shared library, with its SONAME link.
runtime_files() {
    echo "usr/$VELMORA_LIBDIR/libvelmora.so.$VELMORA_VERSION"
    echo "usr/$VELMORA_LIBDIR/libvelmora.so.$soversion"
    echo "usr/share/lintian/overrides/$runtime_package"
    echo "usr/share/doc/$runtime_package/copyright"
    echo "usr/share/doc/$runtime_package/changelog.gz"
}

# What building against the library needs: the two public headers alone,
# the link, the CMake package and the pkg-config file.
dev_files() {
    echo usr/include/velmora/velmora.h
    echo usr/include/velmora/velmora.hpp
    echo "usr/$VELMORA_LIBDIR/libvelmora.so"
    local cmake_file
    for cmake_file in VelmoraConfig VelmoraConfigVersion VelmoraTargets "VelmoraTargets-$VELMORA_CONFIG"; do
        echo "usr/$VELMORA_LIBDIR/cmake/Velmora/$cmake_file.cmake"
    done
    echo "usr/$VELMORA_LIBDIR/pkgconfig/velmora.pc"
    echo usr/share/doc/libvelmora-dev/copyright
    echo usr/share/doc/libvelmora-dev/changelog.gz
}

# package_files NAME: the files of Debian package NAME, sorted.
package_files() {
    case "$1" in
        velmora) program_files ;;
        "$runtime_package") runtime_files ;;
        libvelmora-dev) dev_files ;;
        *) fail "no such package: $1" ;;
    esac | LC_ALL=C sort
}

# Every file an installed Velmora consists of, sorted, relative to the root.
expected_files() {
    local package
    for package in "${packages[@]}"; do
        package_files "$package"
    done | LC_ALL=C sort
}

# Files (not directories) under folder $1, sorted, relative to it.
files_under() {
    (cd "$1" && find . -type f -o -type l) | sed 's|^\./||' | LC_ALL=C sort
}

# A small LAS file written by the project's generator.
make_las() {
    "$VELMORA_GEN" --points 2000 --format 1 --seed 7 --out "$1" >/dev/null ||
        fail "velmora-gen could not write $1"
}

