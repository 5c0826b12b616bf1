#!/usr/bin/env bash
# The Debian package CPack makes of the build: its control fields, the
# dependencies dpkg-shlibdeps found, the files with root ownership and
# Debian's modes, a stripped executable, and no lintian error.
# VELMORA_VERSION comes from CTest as well.
source "$(dirname "$0")/lib.sh"
need dpkg-deb dpkg-shlibdeps lintian file md5sum

"$CPACK" --config "$VELMORA_BUILD/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb="$work/pkg/velmora_${VELMORA_VERSION}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack wrote: $(ls "$work/pkg")"

dpkg-deb --info "$deb" >"$work/info" || fail "dpkg-deb --info cannot read the package"
cat "$work/info"
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = velmora ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$VELMORA_VERSION" ] || fail "Version is '$(field Version)'"
[ "$(field Section)" = science ] || fail "Section is '$(field Section)'"
[ "$(field Priority)" = optional ] || fail "Priority is '$(field Priority)'"
[[ "$(field Maintainer)" == *" <"*@*">" ]] || fail "Maintainer '$(field Maintainer)' is no name and address"
[ "$(field Description | wc -l)" -ge 3 ] || fail "the description has no long text"

depends=$(field Depends)
for lib in libc6 libstdc++6; do
    [[ "$depends" == *"$lib ("* ]] || fail "Depends lacks $lib: $depends"
done
if [ "$VELMORA_GUI" = 1 ]; then
    for lib in libqt6widgets6 libqt6svg6; do
        [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
    done
elif [[ "$depends" == *qt* ]]; then
    fail "a build without the window depends on Qt: $depends"
fi

# Every member owned by root, folders 0755, files 0644, the program 0755.
dpkg-deb --contents "$deb" >"$work/contents" || fail "dpkg-deb --contents cannot read the package"
while read -r mode owner _size _date _time path _rest; do
    [ "$owner" = root/root ] || fail "$path is owned by $owner"
    case "$mode:$path" in
        drwxr-xr-x:*/ | -rwxr-xr-x:./usr/bin/velmora) ;;
        -rw-r--r--:*) [ "$path" != ./usr/bin/velmora ] || fail "the program is not executable" ;;
        *) fail "$path has mode $mode" ;;
    esac
done <"$work/contents"
diff -u <(expected_files) <(awk '$1 !~ /^d/ {sub(/^\.\//, "", $6); print $6}' "$work/contents" | LC_ALL=C sort) \
    >"$work/diff" || { cat "$work/diff" >&2; fail "the package's files differ from the expected list (- expected, + packaged)"; }

dpkg-deb -x "$deb" "$work/x"
dpkg-deb -e "$deb" "$work/x/DEBIAN"
(cd "$work/x" && md5sum --quiet -c DEBIAN/md5sums) || fail "md5sums does not match the packaged files"
info=$(file -b "$work/x/usr/bin/velmora")
[[ "$info" == *", stripped"* ]] || fail "the packaged program is not stripped: $info"

status=0
# Lintian leaves scratch files in TMPDIR; they go with this check's folder.
TMPDIR="$work" lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 || status=$?
cat "$work/lintian"
[ "$status" -eq 0 ] || fail "lintian reports errors or could not check the package (status $status)"
echo "package ok: $(basename "$deb"), lintian: $(grep -c '^W: ' "$work/lintian" || true) warnings, no errors"
