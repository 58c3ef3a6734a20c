#!/bin/sh
# The English translation in the tree is complete and current: every text of
# the sources is in it, translated, and it holds none that the sources lost.
#   ts_check.sh LUPDATE SOURCE_DIR WORK_DIR
set -eu
lupdate=$1
src=$2
work=$3
ts=$src/resources/translations/kestrel_en.ts
rm -rf "$work"
mkdir -p "$work"
cp "$ts" "$work/kestrel_en.ts"
# The same command a translator runs (README), on a copy.
(cd "$src" && "$lupdate" -no-obsolete -locations none app -ts "$work/kestrel_en.ts" >/dev/null)
fail=0
if ! cmp -s "$ts" "$work/kestrel_en.ts"; then
    echo "kestrel_en.ts is not current: run lupdate (README) and translate what it adds"
    diff "$ts" "$work/kestrel_en.ts" | head -40
    fail=1
fi
for kind in unfinished obsolete vanished; do
    if grep -q "type=\"$kind\"" "$ts"; then
        echo "kestrel_en.ts has $kind messages:"
        grep -B2 "type=\"$kind\"" "$ts" | grep '<source>' | head -20
        fail=1
    fi
done
grep -q '<translation></translation>' "$ts" && { echo "kestrel_en.ts has empty translations"; fail=1; }
exit $fail
