#!/bin/sh
# Installs the build into a fresh prefix and checks what a desktop needs of it.
#   install_check.sh BUILD_DIR PREFIX
set -eu
build=$1
prefix=$2
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
fail=0
for f in bin/kestrel \
    share/applications/com.orvane.Kestrel.desktop \
    share/metainfo/com.orvane.Kestrel.metainfo.xml \
    share/man/man1/kestrel.1.gz \
    share/doc/kestrel/copyright \
    share/doc/kestrel/README.md \
    share/icons/hicolor/16x16/apps/kestrel.png \
    share/icons/hicolor/48x48/apps/kestrel.png \
    share/icons/hicolor/256x256/apps/kestrel.png; do
    [ -s "$prefix/$f" ] || { echo "missing: $f"; fail=1; }
done
[ -x "$prefix/bin/kestrel" ] || { echo "not executable: bin/kestrel"; fail=1; }
"$prefix/bin/kestrel" --version | grep -q '^Kestrel ' || { echo "installed kestrel --version"; fail=1; }
grep -q '^Icon=kestrel$' "$prefix/share/applications/com.orvane.Kestrel.desktop" || fail=1
grep -q '@KESTREL_VERSION@' "$prefix/share/metainfo/com.orvane.Kestrel.metainfo.xml" && {
    echo "version not filled in"; fail=1; }
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/share/applications/com.orvane.Kestrel.desktop" || fail=1
else
    echo "desktop-file-validate not installed: not validated"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$prefix/share/metainfo/com.orvane.Kestrel.metainfo.xml" || fail=1
else
    echo "appstreamcli not installed: not validated"
fi
if command -v man >/dev/null; then
    MANWIDTH=80 man -l "$prefix/share/man/man1/kestrel.1.gz" >/dev/null 2>&1 || { echo "man page"; fail=1; }
fi
exit $fail
