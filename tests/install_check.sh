#!/bin/sh
# `cmake --install` into a scratch prefix: every program the build made is
# in bin with its manual page and its completion, nothing else is in bin,
# dv(5) and the documents are in place, and an installed program runs.
# The programs carry the distribution's hardening (tests/hardening_check.sh;
# FORTIFY is ON where the build used _FORTIFY_SOURCE).
#   sh tests/install_check.sh BUILD_DIR VERSION [FORTIFY]
set -eu
BUILD=$1
VERSION=$2
FORTIFY=${3:-ON}
P=$(mktemp -d "${TMPDIR:-/tmp}/dvinstall.XXXXXX")
trap 'rm -rf "$P"' EXIT INT TERM

cmake --install "$BUILD" --prefix "$P" >/dev/null

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
page() { [ -f "$1" ] || [ -f "$1.gz" ] || fail "no page $1"; }

completions=$P/share/bash-completion/completions
built=0
for exe in "$BUILD"/dv*; do
    prog=${exe##*/}
    [ -f "$exe" ] && [ -x "$exe" ] && [ "$prog" != dvmkimage ] || continue
    built=$((built + 1))
    [ -x "$P/bin/$prog" ] || fail "$prog is not in bin"
    page "$P/share/man/man1/$prog.1"
    if [ -r "$completions/$prog" ]; then
        grep -q "^complete -F .* $prog\( \|$\)" "$completions/$prog" || fail "the completion does not name $prog"
    else
        fail "no completion for $prog"
    fi
done
[ "$built" -ge 12 ] || fail "only $built programs in $BUILD"

installed=$(ls "$P/bin" | wc -l)
[ "$installed" -eq "$built" ] || fail "bin holds $installed files for $built programs: $(ls "$P/bin" | tr '\n' ' ')"
page "$P/share/man/man5/dv.5"
for doc in README.md LICENSE copyright; do
    [ -f "$P/share/doc/dv/$doc" ] || fail "no $doc in share/doc/dv"
done

weak=$(sh "$(dirname "$0")/hardening_check.sh" "$FORTIFY" "$P"/bin/*)
[ -z "$weak" ] || fail "hardening: $weak"

out=$("$P/bin/dvinit" --version)
[ "$out" = "dvinit (dv) $VERSION" ] || fail "installed dvinit --version says '$out'"

[ "$failures" -eq 0 ]
