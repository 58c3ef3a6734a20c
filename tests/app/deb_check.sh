#!/bin/sh
# Makes the Debian package of the build and checks what it declares and holds:
#   deb_check.sh BUILD_DIR OUT_DIR
# Its Depends names the package of every Qt library the binary links (found with dpkg -S, not
# from a list), Qt's display plug-ins and translations; the binary is stripped; the copyright
# file and the compressed manual page are there.
set -eu
build=$1
out=$2
rm -rf "$out"
mkdir -p "$out"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 || {
    cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/kestrel_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
fail=0
has() { printf ', %s,' "$depends" | grep -q ", $1[ ,]"; }
linked=$(objdump -p "$build/app/kestrel" | awk '$1 == "NEEDED" && $2 ~ /^libQt6/ { print $2 }')
[ -n "$linked" ] || { echo "the binary links no Qt library?"; fail=1; }
for lib in $linked; do
    pkg=$(dpkg -S "*/$lib" 2>/dev/null | head -n 1 | cut -d: -f1)
    [ -n "$pkg" ] || { echo "no package holds $lib"; fail=1; continue; }
    has "$pkg" || { echo "Depends lacks $pkg (for $lib)"; fail=1; }
done
for pkg in qt6-qpa-plugins qt6-translations-l10n fonts-noto-cjk; do
    has "$pkg" || { echo "Depends lacks $pkg"; fail=1; }
done
mkdir "$out/root"
dpkg-deb -x "$deb" "$out/root"
file -b "$out/root/usr/bin/kestrel" | grep -q ', stripped' || {
    echo "not stripped: $(file -b "$out/root/usr/bin/kestrel")"; fail=1; }
[ -s "$out/root/usr/share/doc/kestrel/copyright" ] || { echo "no copyright file"; fail=1; }
gzip -t "$out/root/usr/share/man/man1/kestrel.1.gz" || { echo "no compressed manual page"; fail=1; }
rm -rf "$out/root"
exit $fail
