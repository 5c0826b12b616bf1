# Shared by the packaging checks. CTest passes the build in the environment:
# VELMORA_BUILD, VELMORA_SOURCE, VELMORA_VERSION, VELMORA_GUI (1/0),
# VELMORA_LIBDIR (the library folder below the prefix), VELMORA_CONFIG (the
# build type in lower case), VELMORA_GEN, CMAKE, CPACK.
set -euo pipefail

# The library's SONAME version and the Debian packages of the build.
soversion=${VELMORA_VERSION%%.*}
runtime_package=libvelmora$soversion
packages=(velmora "$runtime_package" libvelmora-dev)
# The Python module's package, when the build has the module.
python_module=${VELMORA_PYTHON_MODULE:-}
if [ -n "$python_module" ]; then packages+=(python3-velmora); fi

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

# Installs the build under DESTDIR $1 with the prefix a package uses. The
# installed program links the installed library, which is found there as the
# system would find it under /usr.
install_into() {
    DESTDIR="$1" "$CMAKE" --install "$VELMORA_BUILD" --prefix /usr >"$work/install.log" ||
        { cat "$work/install.log" >&2; fail "cmake --install failed"; }
    export LD_LIBRARY_PATH="$1/usr/$VELMORA_LIBDIR${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
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

# The Python module, in Debian's folder for Python 3 modules.
python_files() {
    echo "usr/lib/python3/dist-packages/$python_module"
    echo usr/share/doc/python3-velmora/copyright
    echo usr/share/doc/python3-velmora/changelog.gz
}

# package_files NAME: the files of Debian package NAME, sorted.
package_files() {
    case "$1" in
        velmora) program_files ;;
        "$runtime_package") runtime_files ;;
        libvelmora-dev) dev_files ;;
        python3-velmora) python_files ;;
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

# An archive made by the installed program under root $1 at $2, holding two
# generated LAS files of different point counts and formats, kept beside it
# as north.las (2000 points, added first) and south.las (1500 points).
make_archive() {
    local root="$1" archive="$2" dir
    dir=$(dirname "$archive")
    "$VELMORA_GEN" --points 2000 --format 1 --seed 7 --out "$dir/north.las" >/dev/null ||
        fail "velmora-gen could not write north.las"
    "$VELMORA_GEN" --points 1500 --format 3 --seed 11 --out "$dir/south.las" >/dev/null ||
        fail "velmora-gen could not write south.las"
    (cd "$dir" && "$root/usr/bin/velmora" -q -c north.las "$archive" &&
        "$root/usr/bin/velmora" -q -c south.las "$archive") </dev/null >"$work/compress.log" 2>&1 ||
        { cat "$work/compress.log" >&2; fail "the installed velmora could not make $archive"; }
}

# What a consumer program (tests/packaging/consumer) must print for the
# archive of make_archive: the library's version, the entries with the point
# counts they were made with (which `velmora -l` must show too), the number of
# points read of the first entry, and its first point and bounds in real
# units, the way the LAS file's own header and first record give them.
expected_consumer_output() {
    local root="$1" archive="$2" dir listing
    dir=$(dirname "$archive")
    listing=$("$root/usr/bin/velmora" -l "$archive") || fail "velmora -l $archive failed"
    echo "version $VELMORA_VERSION"
    echo "entries 2"
    local entry name made listed
    for entry in north.las:2000 south.las:1500; do
        name=${entry%:*} made=${entry#*:}
        listed=$(awk -v name="$name" '$NF == name { gsub(",", "", $6); print $6 }' <<<"$listing")
        [ "$listed" = "$made" ] || fail "velmora -l shows '$listed' points for $name, made with $made: $listing"
        echo "entry $name $made"
    done
    echo "read north.las 2000"
    las_first_and_bounds "$dir/north.las"
}

# The first point of LAS file $1 and the bounds its header records, in real
# units, as "first/min/max X Y Z" lines.
las_first_and_bounds() {
    local las="$1" offset
    offset=$(od -An -t u4 -j 96 -N 4 "$las" | tr -d ' ')
    {
        od -An -v -t f8 -j 131 -N 96 "$las"       # scales, offsets, max/min pairs
        od -An -v -t d4 -j "$offset" -N 12 "$las"  # the first record's X, Y, Z
    } | tr -s ' \n' '\n\n' | grep -v '^$' | awk '
        { v[NR] = $1 }
        END {
            printf "first %.6f %.6f %.6f\n", v[13] * v[1] + v[4], v[14] * v[2] + v[5], v[15] * v[3] + v[6]
            printf "min %.6f %.6f %.6f\n", v[8], v[10], v[12]
            printf "max %.6f %.6f %.6f\n", v[7], v[9], v[11]
        }'
}

# Runs consumer program $1 on archive $2 against the library under root $3
# and holds its output to what it must print.
check_consumer() {
    local program="$1" archive="$2" root="$3" name
    name=$(basename "$program")
    # The library must come from the installed tree, not the build folder.
    LD_LIBRARY_PATH="$root/usr/$VELMORA_LIBDIR" ldd "$program" >"$work/$name.ldd" ||
        fail "ldd cannot read $program"
    grep -q "libvelmora.so.$soversion => $root/usr/$VELMORA_LIBDIR/libvelmora.so.$soversion " "$work/$name.ldd" ||
        { cat "$work/$name.ldd" >&2; fail "$name does not load libvelmora from the installed tree"; }
    local status=0
    LD_LIBRARY_PATH="$root/usr/$VELMORA_LIBDIR" "$program" "$archive" >"$work/$name.out" 2>"$work/$name.err" ||
        status=$?
    [ "$status" -eq 0 ] || { cat "$work/$name.err" >&2; fail "$name failed on the archive (status $status)"; }
    expected_consumer_output "$root" "$archive" >"$work/$name.expected"
    diff -u "$work/$name.expected" "$work/$name.out" >&2 ||
        fail "$name printed other than the archive holds (- expected, + printed)"
    cat "$work/$name.out"
}
