#!/usr/bin/env bash
# Makes Kestrel's Debian package as a new user would and installs it where nothing else is:
#   1. a clean Debian 12 root (debootstrap): `tools/dev package` as a user without sudo (it must
#      say what to do), then as root (it installs what it needs, builds, packages);
#   2. a second clean root: the package installed with apt-get, then `kestrel --version`,
#      `kestrel --list-ports` and `man -w kestrel`.
# Needs root (debootstrap, chroot, mount). The roots go to $KESTREL_CHECK_DIR
# (/var/tmp/kestrel-package-check) and are removed at the start of the next run.
# Not part of CI: it downloads and builds everything from nothing and takes several minutes.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=${KESTREL_CHECK_DIR:-/var/tmp/kestrel-package-check}
suite=bookworm

if [ "$(id -u)" -ne 0 ]; then
    echo "package-check: debootstrap and chroot need root: run it as root." >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
if ! command -v debootstrap >/dev/null; then
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends debootstrap
fi

# The Debian mirror this machine's apt uses (one-line or deb822 sources), not the security one.
mirror_url() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        awk '$1 == "deb" && $0 !~ /security/ {
                 for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk '/^URIs:/ && $2 !~ /security/ { print $2; exit }' "$f"
    done
}
mirror=$(mirror_url | head -n 1)
if [ -z "$mirror" ]; then
    echo "package-check: no Debian mirror found in /etc/apt/sources.list*" >&2
    exit 1
fi

mounted=()
cleanup() {
    local m
    for m in "${mounted[@]}"; do umount "$m" 2>/dev/null || true; done
}
trap cleanup EXIT

# new_root DIR: a clean Debian root with /proc mounted.
new_root() {
    local dir=$1
    rm -rf "$dir"
    echo "== debootstrap $suite into $dir"
    debootstrap "$suite" "$dir" "$mirror" >"$dir.log" 2>&1 || { tail -20 "$dir.log"; exit 1; }
    mount -t proc proc "$dir/proc"
    mounted+=("$dir/proc")
}

# in_root DIR USER COMMAND: runs COMMAND with a clean environment in the root.
in_root() {
    local dir=$1 user=$2
    shift 2
    local home=/root
    [ "$user" = root ] || home=/tmp
    chroot --userspec="$user" "$dir" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        HOME="$home" LANG=C.UTF-8 /bin/bash -c "$*"
}

mkdir -p "$work"
# The sources as they are in this tree now (tracked and new files, no build trees).
git -C "$root" ls-files -z --cached --others --exclude-standard |
    (cd "$root" && tar --null -T - -cf "$work/src.tar")
for m in "$work/build/proc" "$work/install/proc"; do
    mountpoint -q "$m" && umount "$m"
done
build_root=$work/build
install_root=$work/install

# 1. Build root.
new_root "$build_root"
mkdir -p "$build_root/src"
tar -x -C "$build_root/src" -f "$work/src.tar"
chmod -R a+rX "$build_root/src"

echo "== tools/dev package, as a user without sudo"
set +e
in_root "$build_root" 65534:65534 "cd /src && tools/dev package"
rc=$?
set -e
echo "(exit status $rc)"
[ $rc -ne 0 ] || { echo "package-check: expected a refusal without root or sudo" >&2; exit 1; }

echo "== tools/dev package, as root"
start=$(date +%s)
in_root "$build_root" root "cd /src && tools/dev package" 2>&1 | grep -v '^\(Selecting\|Preparing\|Unpacking\|Setting up\|Processing\)' | tail -15
echo "(took $(($(date +%s) - start)) s)"
deb=$(ls "$build_root"/src/build-release/kestrel_*.deb)
echo "== $(basename "$deb"): $(du -k "$deb" | cut -f1) KiB"
dpkg-deb -f "$deb" Package Version Depends
dpkg-deb -c "$deb" | awk '{ print $3, $6 }' | grep -v '/$'

# 2. Install root: the package alone, as a user installs it.
new_root "$install_root"
cp "$deb" "$install_root/tmp/"
echo "== apt-get install ./$(basename "$deb") in a clean root"
in_root "$install_root" root "apt-get update -qq && apt-get install -y -qq --no-install-recommends /tmp/$(basename "$deb") >/tmp/apt.log 2>&1 || { tail -20 /tmp/apt.log; exit 1; }"
in_root "$install_root" root "dpkg -s kestrel | grep -E '^(Status|Installed-Size):'"
echo "== ls -l /usr/bin/kestrel; file"
in_root "$install_root" root "ls -l /usr/bin/kestrel"
file -b "$install_root/usr/bin/kestrel"
echo "== kestrel --version"
in_root "$install_root" 65534:65534 "kestrel --version"
echo "== kestrel --list-ports"
in_root "$install_root" 65534:65534 "XDG_CONFIG_HOME=/tmp/kestrel-config kestrel --list-ports"
# man-db is the reader of manual pages, not something Kestrel needs: a root made by debootstrap
# has none, a desktop has it.
in_root "$install_root" root "apt-get install -y -qq --no-install-recommends man-db >/dev/null 2>&1"
echo "== man -w kestrel"
in_root "$install_root" 65534:65534 "man -w kestrel"
echo "== package-check passed"
