#!/bin/sh
# The manual pages: each renders without a warning, each program built has
# its page with the usual sections and every option its help lists, and
# dv(5) has every error number the programs can name.
#   sh tests/man_check.sh SOURCE_DIR BUILD_DIR
set -eu
SRC=$1
BIN=$2
command -v groff >/dev/null || { echo "groff is missing" >&2; exit 77; }

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for page in "$SRC"/man/*.[15]; do
    warnings=$(groff -man -ww -z "$page" 2>&1) || fail "$page: groff failed"
    [ -z "$warnings" ] || fail "$page: $warnings"
done

for exe in "$BIN"/dv*; do
    prog=${exe##*/}
    [ -f "$exe" ] && [ -x "$exe" ] && [ "$prog" != dvmkimage ] || continue
    page=$SRC/man/$prog.1
    [ -f "$page" ] || { fail "$prog has no page"; continue; }
    grep -q "^$prog \\\\- " "$page" || fail "$page: NAME does not start with '$prog \\-'"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS' EXAMPLES 'SEE ALSO'; do
        grep -qx ".SH $section" "$page" || fail "$page: no section $section"
    done
    # Option lines of the help: "     -t<tracks>", "     -q    ...".
    for letter in $("$exe" -h 2>&1 | sed -n 's/^ \{2,\}-\([A-Za-z0-9]\).*/\1/p'); do
        grep -q "^\.[BIR]*  *\\\\-$letter" "$page" || fail "$page: option -$letter of the help is not described"
    done
done

for n in $(sed -n 's/^ *{\([0-9]*\), ".*/\1/p' "$SRC/misc/errors.cpp"); do
    grep -qx "\.B $n" "$SRC/man/dv.5" || fail "dv.5: error $n is not listed"
done

[ "$failures" -eq 0 ]
