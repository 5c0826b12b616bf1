#!/usr/bin/env bash
# The library as installed: the two public headers and no other, the SONAME
# and its links, no path back into the build, and an interface of vm_* and
# velmora:: symbols alone, every function the headers declare among them.
source "$(dirname "$0")/lib.sh"
need readelf nm c++filt cmp

root="$work/root"
install_into "$root"
libdir="$root/usr/$VELMORA_LIBDIR"
library="$libdir/libvelmora.so.$VELMORA_VERSION"
[ -f "$library" ] && [ ! -L "$library" ] || fail "usr/$VELMORA_LIBDIR/libvelmora.so.$VELMORA_VERSION is not installed"

# Headers: include/velmora/velmora.h and velmora.hpp, copies of the public
# ones, and not one header anywhere else in the tree.
diff -u <(printf '%s\n' usr/include/velmora/velmora.h usr/include/velmora/velmora.hpp) \
        <(cd "$root" && find . -name '*.h' -o -name '*.hpp' -o -name '*.hh' -o -name '*.hxx' -o -path './usr/include/*' ! -type d |
            sed 's|^\./||' | LC_ALL=C sort -u) >"$work/diff" ||
    { cat "$work/diff" >&2; fail "installed headers differ from the two public ones (- expected, + installed)"; }
for header in velmora.h velmora.hpp; do
    cmp -s "$root/usr/include/velmora/$header" "$VELMORA_SOURCE/include/velmora/$header" ||
        fail "the installed $header is not include/velmora/$header"
done

# The SONAME carries the major version, the SONAME link and the development
# link lead to the library itself, and the library names no folder to look
# for libraries in (that would be the build folder).
readelf -d "$library" >"$work/dynamic" || fail "readelf cannot read the library"
soname=$(sed -n 's/.*(SONAME).*\[\(.*\)\]$/\1/p' "$work/dynamic")
[ "$soname" = "libvelmora.so.$soversion" ] || fail "the library's SONAME is '$soname'"
for link in "libvelmora.so.$soversion" libvelmora.so; do
    [ -L "$libdir/$link" ] || fail "$link is not a symbolic link"
    [ "$(readlink -f "$libdir/$link")" = "$(readlink -f "$library")" ] ||
        fail "$link leads to $(readlink -f "$libdir/$link")"
done
! grep -E '\((RPATH|RUNPATH)\)' "$work/dynamic" || fail "the installed library keeps a library path"
# Nor do the files that tell other builds where it is.
! grep -rlF -e "$VELMORA_BUILD" -e "$VELMORA_SOURCE" "$libdir/cmake" "$libdir/pkgconfig" ||
    fail "the CMake package or pkg-config file names the build or source folder"

# The dynamic interface: defined symbols, demangled. Besides the version
# node of the symbol map, each is vm_* or of namespace velmora (with the
# type information and vtable of velmora::Error).
nm -D --defined-only "$library" | c++filt >"$work/symbols" || fail "nm cannot read the library"
# Each name without the version it is bound to (vm_version@@VELMORA_0).
sed -E 's/^[0-9a-f]+ [A-Za-z] //; s/@.*$//' "$work/symbols" | LC_ALL=C sort -u >"$work/names"
grep -vE '^(vm_[a-z0-9_]+|velmora::.*|(typeinfo|typeinfo name|vtable) for velmora::.*|VELMORA_[0-9]+)$' \
    "$work/names" >"$work/foreign" && { cat "$work/foreign" >&2; fail "the library exports symbols beyond vm_* and velmora::"; }

# Every C function the header declares is exported, and the C++ classes'
# calls are there too.
grep -oE '^VM_API [^(]*\bvm_[a-z0-9_]+\(' "$VELMORA_SOURCE/include/velmora/velmora.h" |
    sed -E 's/.*\b(vm_[a-z0-9_]+)\($/\1/' | LC_ALL=C sort -u >"$work/declared"
declarations=$(grep -c '^VM_API ' "$VELMORA_SOURCE/include/velmora/velmora.h")
[ "$(wc -l <"$work/declared")" -eq "$declarations" ] ||
    fail "read $(wc -l <"$work/declared") function names from velmora.h's $declarations declarations"
missing=$(LC_ALL=C comm -23 "$work/declared" "$work/names")
[ -z "$missing" ] || fail "velmora.h declares functions the library does not export: $missing"
for call in 'velmora::Version' 'velmora::Archive::Open(' 'velmora::Archive::Entries() const' \
            'velmora::Archive::Points(' 'velmora::PointReader::Next(' 'typeinfo for velmora::Error'; do
    grep -qF "$call" "$work/names" || fail "the library does not export $call"
done
echo "library tree ok: $soname, $(grep -c '^vm_' "$work/names") C and $(grep -c 'velmora::' "$work/names") C++ symbols"
