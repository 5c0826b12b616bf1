#!/usr/bin/env bash
# The Debian packages CPack makes of the build: velmora (the program),
# libvelmoraN (the shared library) and libvelmora-dev. Each with its control
# fields, exactly its files, owned by root with Debian's modes, matching
# md5sums, and no lintian error. The program with the dependencies
# dpkg-shlibdeps found and stripped; the library with its shlibs file, its
# ldconfig trigger and its own dependencies; the development package tied to
# the library's exact version.
# VELMORA_VERSION comes from CTest as well.
source "$(dirname "$0")/lib.sh"
need dpkg-deb dpkg-shlibdeps lintian file md5sum

"$CPACK" --config "$VELMORA_BUILD/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
diff -u <(for package in "${packages[@]}"; do echo "${package}_${VELMORA_VERSION}_$arch.deb"; done | LC_ALL=C sort) \
        <(cd "$work/pkg" && ls -- *.deb | LC_ALL=C sort) >"$work/diff" ||
    { cat "$work/diff" >&2; fail "cpack made other packages than expected (- expected, + made)"; }

# deb_of NAME: the package file of Debian package NAME.
deb_of() { echo "$work/pkg/${1}_${VELMORA_VERSION}_$arch.deb"; }

# check_package NAME SECTION [LINK TARGET]...: what every package must be.
# Each LINK (a path in the package) must be a symbolic link to TARGET; no
# other member may be a link.
check_package() {
    local package="$1" section="$2" deb
    shift 2
    deb=$(deb_of "$package")
    echo "== $package"
    dpkg-deb --info "$deb" >"$work/info" || fail "dpkg-deb --info cannot read $package"
    cat "$work/info"
    field() { dpkg-deb --field "$deb" "$1"; }
    [ "$(field Package)" = "$package" ] || fail "$package: Package is '$(field Package)'"
    [ "$(field Version)" = "$VELMORA_VERSION" ] || fail "$package: Version is '$(field Version)'"
    [ "$(field Source)" = velmora ] || fail "$package: Source is '$(field Source)'"
    [ "$(field Section)" = "$section" ] || fail "$package: Section is '$(field Section)', not $section"
    [ "$(field Priority)" = optional ] || fail "$package: Priority is '$(field Priority)'"
    [[ "$(field Maintainer)" == *" <"*@*">" ]] || fail "$package: Maintainer '$(field Maintainer)' is no name and address"
    [ "$(field Description | wc -l)" -ge 3 ] || fail "$package: the description has no long text"

    # Every member owned by root, folders 0755, files 0644, the program 0755,
    # the links named and leading where they should.
    declare -A links=()
    while [ $# -gt 0 ]; do
        links["./$1"]=$2
        shift 2
    done
    dpkg-deb --contents "$deb" >"$work/contents" || fail "dpkg-deb --contents cannot read $package"
    local mode owner path arrow target
    while read -r mode owner _size _date _time path arrow target; do
        [ "$owner" = root/root ] || fail "$package: $path is owned by $owner"
        case "$mode:$path" in
            drwxr-xr-x:*/ | -rwxr-xr-x:./usr/bin/velmora) ;;
            -rw-r--r--:*) [ "$path" != ./usr/bin/velmora ] || fail "the program is not executable" ;;
            lrwxrwxrwx:*)
                [ -n "${links[$path]:-}" ] || fail "$package: $path is a link"
                [ "$arrow $target" = "-> ${links[$path]}" ] || fail "$package: $path leads to '$target'"
                unset "links[$path]" ;;
            *) fail "$package: $path has mode $mode" ;;
        esac
    done <"$work/contents"
    [ ${#links[@]} -eq 0 ] || fail "$package: no link ${!links[*]}"
    diff -u <(package_files "$package") \
            <(awk '$1 !~ /^d/ {sub(/^\.\//, "", $6); print $6}' "$work/contents" | LC_ALL=C sort) \
        >"$work/diff" || { cat "$work/diff" >&2; fail "$package: its files differ from the expected list (- expected, + packaged)"; }

    rm -rf "$work/x"
    dpkg-deb -x "$deb" "$work/x"
    dpkg-deb -e "$deb" "$work/x/DEBIAN"
    (cd "$work/x" && md5sum --quiet -c DEBIAN/md5sums) || fail "$package: md5sums does not match the packaged files"

    local status=0
    # Lintian leaves scratch files in TMPDIR; they go with this check's folder.
    TMPDIR="$work" lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 || status=$?
    cat "$work/lintian"
    [ "$status" -eq 0 ] || fail "lintian reports errors in $package or could not check it (status $status)"
    echo "package ok: $(basename "$deb"), lintian: $(grep -c '^W: ' "$work/lintian" || true) warnings, no errors"
}

# The program.
check_package velmora science
depends=$(dpkg-deb --field "$(deb_of velmora)" Depends)
for lib in libc6 libstdc++6; do
    [[ "$depends" == *"$lib ("* ]] || fail "velmora: Depends lacks $lib: $depends"
done
# The program is a user of the library, of exactly the build it came with.
[[ "$depends" == *"$runtime_package (= $VELMORA_VERSION)"* ]] ||
    fail "velmora does not depend on $runtime_package (= $VELMORA_VERSION): $depends"
if [ "$VELMORA_GUI" = 1 ]; then
    for lib in libqt6widgets6 libqt6svg6; do
        [[ "$depends" == *"$lib"* ]] || fail "velmora: Depends lacks $lib: $depends"
    done
elif [[ "$depends" == *qt* ]]; then
    fail "a build without the window depends on Qt: $depends"
fi
info=$(file -b "$work/x/usr/bin/velmora")
[[ "$info" == *", stripped"* ]] || fail "the packaged program is not stripped: $info"

# The shared library: programs built against this version depend on this
# version or a later one of the same SONAME, and dpkg runs ldconfig for it.
library="usr/$VELMORA_LIBDIR/libvelmora.so.$VELMORA_VERSION"
check_package "$runtime_package" libs "usr/$VELMORA_LIBDIR/libvelmora.so.$soversion" "libvelmora.so.$VELMORA_VERSION"
shlibs=$(cat "$work/x/DEBIAN/shlibs" 2>/dev/null) || fail "$runtime_package has no shlibs file"
[ "$shlibs" = "libvelmora $soversion $runtime_package (>= $VELMORA_VERSION)" ] ||
    fail "$runtime_package: the shlibs file says '$shlibs'"
grep -qx 'activate-noawait ldconfig' "$work/x/DEBIAN/triggers" 2>/dev/null ||
    fail "$runtime_package does not activate the ldconfig trigger"
depends=$(dpkg-deb --field "$(deb_of "$runtime_package")" Depends)
for lib in libc6 libstdc++6 libzstd1 libxxhash0; do
    [[ "$depends" == *"$lib ("* ]] || fail "$runtime_package: Depends lacks $lib: $depends"
done
[[ "$depends" != *qt* ]] || fail "the library depends on Qt: $depends"
info=$(file -b "$work/x/$library")
[[ "$info" == *"shared object"*", stripped"* ]] || fail "the packaged library is not a stripped shared object: $info"

# What building against the library needs, for exactly this library.
check_package libvelmora-dev libdevel "usr/$VELMORA_LIBDIR/libvelmora.so" "libvelmora.so.$soversion"
depends=$(dpkg-deb --field "$(deb_of libvelmora-dev)" Depends)
[[ "$depends" == *"$runtime_package (= $VELMORA_VERSION)"* ]] ||
    fail "libvelmora-dev does not depend on $runtime_package (= $VELMORA_VERSION): $depends"

# The Python module: for the Python it was built for, over this library,
# and importable from the unpacked package beside the unpacked library.
if [ -n "$python_module" ]; then
    check_package python3-velmora python
    depends=$(dpkg-deb --field "$(deb_of python3-velmora)" Depends)
    for dep in "$runtime_package (>= $VELMORA_VERSION)" "python3 (>= " "python3 (<< " python3-numpy; do
        [[ "$depends" == *"$dep"* ]] || fail "python3-velmora: Depends lacks '$dep': $depends"
    done
    info=$(file -b "$work/x/usr/lib/python3/dist-packages/$python_module")
    [[ "$info" == *"shared object"*", stripped"* ]] || fail "the packaged module is not a stripped shared object: $info"
    dpkg-deb -x "$(deb_of "$runtime_package")" "$work/x"
    version=$(cd / && LD_LIBRARY_PATH="$work/x/usr/$VELMORA_LIBDIR" PYTHONPATH="$work/x/usr/lib/python3/dist-packages" \
        /usr/bin/python3 -c 'import velmora; print(velmora.__version__)') || fail "the packaged module does not import"
    [ "$version" = "$VELMORA_VERSION" ] || fail "the packaged module says it is version '$version'"
fi
echo "all packages ok: ${packages[*]}"
