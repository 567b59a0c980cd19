#!/bin/sh
# The Debian package: its control fields and contents, the programs run from
# a scratch root it was unpacked into (dpkg -x), and an install and a removal
# with dpkg in a scratch root of its own that leave nothing behind.
#   sh tests/deb_check.sh PACKAGE.deb VERSION
set -eu
DEB=$1
VERSION=$2
WORK=$(mktemp -d "${TMPDIR:-/tmp}/dvdeb.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

[ "$(dpkg-deb -f "$DEB" Package)" = dv ] || fail "package name"
[ "$(dpkg-deb -f "$DEB" Version)" = "$VERSION" ] || fail "version $(dpkg-deb -f "$DEB" Version)"
dpkg-deb -f "$DEB" Depends | grep -q 'libc6 (>=' || fail "no libc6 dependency: $(dpkg-deb -f "$DEB" Depends)"
[ -n "$(dpkg-deb -f "$DEB" Maintainer)" ] || fail "no maintainer"

dpkg-deb -c "$DEB" | awk '{ print $6 }' > "$WORK/contents"
has() { grep -qx "$1" "$WORK/contents" || fail "the package lacks $1"; }
# The twelve programs every build makes, and any other (dvmount) it holds.
others=$(sed -n 's|^\./usr/bin/||p' "$WORK/contents")
for prog in $(printf '%s\n' dvinit dvspace dvtype dvnewdir dvprune dvls dvcopy dvdel dvrename dvattr dvcheck dvconvert $others | sort -u); do
    has "./usr/bin/$prog"
    has "./usr/share/man/man1/$prog.1.gz"
    has "./usr/share/bash-completion/completions/$prog"
done
has ./usr/share/man/man5/dv.5.gz
has ./usr/share/doc/dv/copyright
! grep -q dvmkimage "$WORK/contents" || fail "the package holds the test helper dvmkimage"

root=$WORK/x
dpkg-deb -x "$DEB" "$root"
out=$("$root/usr/bin/dvinit" --version)
[ "$out" = "dvinit (dv) $VERSION" ] || fail "dvinit --version says '$out'"
"$root/usr/bin/dvinit" -nPkg "$WORK/p.dsk" >/dev/null
"$root/usr/bin/dvnewdir" "$WORK/p.dsk:CMDS"
[ "$("$root/usr/bin/dvls" "$WORK/p.dsk")" = CMDS ] || fail "the unpacked programs do not work"

admin=$WORK/root/var/lib/dpkg
mkdir -p "$admin/info" "$admin/updates"
: > "$admin/status"
dpkg="dpkg --root=$WORK/root --force-not-root --log=/dev/null"
$dpkg --force-depends -i "$DEB" >/dev/null 2>&1 || fail "dpkg -i failed"
[ -x "$WORK/root/usr/bin/dvcopy" ] || fail "dpkg -i did not install dvcopy"
$dpkg -r dv >/dev/null 2>&1 || fail "dpkg -r failed"
left=$(find "$WORK/root" ! -type d ! -path "$admin/*")
[ -z "$left" ] || fail "dpkg -r left $left"

[ "$failures" -eq 0 ]
