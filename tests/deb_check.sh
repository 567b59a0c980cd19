#!/bin/sh
# The Debian package: its control fields and contents, its changelog, the
# programs run from a scratch root it was unpacked into (dpkg -x) and their
# hardening, an install and a removal with dpkg in a scratch root of its own
# that leave nothing behind, and lintian without an error or a warning.
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
has ./usr/share/doc/dv/changelog.gz
! grep -q dvmkimage "$WORK/contents" || fail "the package holds the test helper dvmkimage"
# The licence is the copyright file's; a second copy is one lintian refuses.
! grep -q '/doc/dv/LICENSE' "$WORK/contents" || fail "the package holds LICENSE beside copyright"
if [ -n "$others" ] && echo "$others" | grep -qx dvmount; then
    [ "$(dpkg-deb -f "$DEB" Recommends)" = fuse3 ] || fail "dvmount without Recommends: fuse3"
fi

root=$WORK/x
dpkg-deb -x "$DEB" "$root"
# Debian's changelog: its first entry is this version; compressed with
# gzip -9n (no name, no time stamp in the header: the same bytes each build).
changelog=$root/usr/share/doc/dv/changelog.gz
first=$(gzip -dc "$changelog" | head -n 1)
[ "$first" = "dv ($VERSION) unstable; urgency=medium" ] || fail "the changelog begins '$first'"
header=$(od -An -tx1 -N10 "$changelog" | tr -d ' \n')
[ "$header" = 1f8b0800000000000203 ] || fail "changelog.gz not made by gzip -9n (header $header)"
weak=$(sh "$(dirname "$0")/hardening_check.sh" ON "$root"/usr/bin/*)
[ -z "$weak" ] || fail "hardening: $weak"
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

if command -v lintian >/dev/null; then
    # Errors and warnings fail the check; information tags are shown.
    lintian --display-info --fail-on error,warning "$DEB" > "$WORK/lintian" 2>&1 || fail "lintian: $(cat "$WORK/lintian")"
    grep -q '^[EW]: ' "$WORK/lintian" && fail "lintian: $(grep '^[EW]: ' "$WORK/lintian")"
    grep '^[IP]: ' "$WORK/lintian" | sed 's/^/lintian: /' || true
else
    fail "lintian is missing (Debian package lintian)"
fi

[ "$failures" -eq 0 ]
