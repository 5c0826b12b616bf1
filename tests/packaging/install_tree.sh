#!/usr/bin/env bash
# `cmake --install` into a scratch root: exactly the expected files, usable
# permissions, icons of the window's own art at their sizes, and an installed
# executable that works away from its build folder.
source "$(dirname "$0")/lib.sh"
need file cmp

root="$work/root"
install_into "$root"

diff -u <(expected_files) <(files_under "$root") >"$work/diff" ||
    { cat "$work/diff" >&2; fail "the installed files differ from the expected list (- expected, + installed)"; }

[ -x "$root/usr/bin/velmora" ] || fail "usr/bin/velmora is not executable"
while read -r path; do
    [ "$path" = usr/bin/velmora ] && continue
    # A link's own mode means nothing; library_tree.sh checks where the links lead.
    [ -L "$root/$path" ] && continue
    perms=$(stat -c %a "$root/$path")
    [ "$perms" = 644 ] || fail "$path has mode $perms, not 644"
done < <(expected_files)
while read -r dir; do
    perms=$(stat -c %a "$dir")
    [ "$perms" = 755 ] || fail "folder ${dir#"$root"/} has mode $perms, not 755"
done < <(find "$root/usr" -type d)

for gz in usr/share/man/man1/velmora.1.gz usr/share/doc/velmora/changelog.gz; do
    gzip -t "$root/$gz" || fail "$gz is not a valid gzip file"
done
zcat "$root/usr/share/man/man1/velmora.1.gz" | cmp -s - "$VELMORA_SOURCE/doc/velmora.1" ||
    fail "the installed manual page is not doc/velmora.1"
for page in index.html tut.html; do
    cmp -s "$root/usr/share/doc/velmora/$page" "$VELMORA_SOURCE/src/app/resources/help/$page" ||
        fail "the installed $page is not the window's help page"
done

if [ "$VELMORA_GUI" = 1 ]; then
    icons="$root/usr/share/icons/hicolor"
    art="$VELMORA_SOURCE/src/app/resources/icons"
    cmp -s "$icons/scalable/apps/velmora.svg" "$art/logo.svg" ||
        fail "the scalable application icon is not the window's logo"
    cmp -s "$icons/scalable/mimetypes/application-x-velmora-archive.svg" "$art/archive.svg" ||
        fail "the scalable archive icon is not the window's archive picture"
    for size in 48 128 256; do
        for png in "apps/velmora.png" "mimetypes/application-x-velmora-archive.png"; do
            info=$(file -b "$icons/${size}x$size/$png")
            case "$info" in
                "PNG image data, $size x $size, "*) ;;
                *) fail "${size}x$size/$png is not a $size px PNG: $info" ;;
            esac
        done
        cmp -s "$icons/${size}x$size/apps/velmora.png" \
               "$icons/${size}x$size/mimetypes/application-x-velmora-archive.png" &&
            fail "the ${size} px application and archive icons are the same picture"
    done
fi

# The installed copy must not lean on anything left in the build folder.
make_las "$work/north.las"
mkdir "$work/run" "$work/out"
(cd "$work/run" && "$root/usr/bin/velmora" -c "$work/north.las" survey.vmra) </dev/null ||
    fail "the installed velmora could not compress (status $?)"
(cd "$work/out" && "$root/usr/bin/velmora" -d "$work/run/survey.vmra") </dev/null ||
    fail "the installed velmora could not extract (status $?)"
cmp "$work/north.las" "$work/out/north.las" || fail "the installed velmora did not give the file back"
echo "install tree ok: $(expected_files | wc -l) files"
