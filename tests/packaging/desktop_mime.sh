#!/usr/bin/env bash
# The desktop entry and the file types, loaded the way a desktop loads them
# but into a scratch data folder: archives and LAS files are recognised by
# name and by content, and archives open with Velmora.
source "$(dirname "$0")/lib.sh"
need desktop-file-validate update-desktop-database update-mime-database xmllint xdg-mime mimetype

root="$work/root"
install_into "$root"
share="$root/usr/share"
desktop="$share/applications/velmora.desktop"
mimexml="$share/mime/packages/velmora.xml"
archiveType=application/x-velmora-archive
lasType=application/vnd.las

# Errors and warnings fail; hints (for instance on the choice of categories) do not.
status=0
report=$(desktop-file-validate "$desktop" 2>&1) || status=$?
if [ "$status" -ne 0 ] || grep -qE ': (error|warning): ' <<<"$report"; then
    echo "$report" >&2
    fail "desktop-file-validate rejects velmora.desktop"
fi
key() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(key Exec)" = "velmora %f" ] || fail "Exec is '$(key Exec)', not 'velmora %f'"
[ "$(key MimeType)" = "$archiveType;" ] || fail "MimeType is '$(key MimeType)'"
icon=$(key Icon)
[ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "Icon=$icon names no installed icon"
for category in Science Geography Archiving; do
    [[ ";$(key Categories)" == *";$category;"* ]] || fail "Categories lacks $category"
done

xmllint --noout "$mimexml" || fail "velmora.xml is not well-formed XML"

# Only the scratch folders, so neither this machine's nor the user's files
# and settings take part.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_CONFIG_DIRS="$work/home/.config"
export XDG_DATA_HOME="$work/home/.local/share" XDG_DATA_DIRS="$share"
export XDG_CURRENT_DESKTOP=X-Generic
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
update-mime-database "$share/mime" >"$work/mime.log" 2>&1 || { cat "$work/mime.log" >&2; fail "update-mime-database failed"; }
if [ -s "$work/mime.log" ]; then cat "$work/mime.log" >&2; fail "update-mime-database complained about velmora.xml"; fi
update-desktop-database "$share/applications" || fail "update-desktop-database failed"

make_las "$work/north.las"
(cd "$work" && "$root/usr/bin/velmora" -c north.las survey.vmra) </dev/null || fail "could not make an archive"
cp "$work/survey.vmra" "$work/SURVEY.VMRA"
cp "$work/survey.vmra" "$work/survey-without-extension"
cp "$work/north.las" "$work/north-without-extension"
expect_type() {
    local got
    got=$(xdg-mime query filetype "$work/$1") || fail "xdg-mime query filetype $1 failed"
    [ "$got" = "$2" ] || fail "xdg-mime takes $1 for '$got', not $2"
}
expect_type survey.vmra "$archiveType"
expect_type SURVEY.VMRA "$archiveType"
expect_type survey-without-extension "$archiveType"
expect_type north.las "$lasType"
expect_type north-without-extension "$lasType"

default=$(xdg-mime query default "$archiveType")
[ "$default" = velmora.desktop ] || fail "the default application for archives is '$default', not velmora.desktop"
echo "desktop entry and file types ok"
