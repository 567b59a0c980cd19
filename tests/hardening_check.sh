#!/bin/sh
# The distribution's hardening in built programs: position-independent
# (ELF type DYN), relocations read-only (GNU_RELRO) and bound at start
# (BIND_NOW), the stack protector, and with FORTIFY=ON the checked forms of
# the string and print functions.  Prints a line per program that lacks one.
#   sh tests/hardening_check.sh FORTIFY PROGRAM...
set -eu
fortify=$1
shift
command -v readelf >/dev/null || { echo "readelf is missing (binutils)"; exit 1; }
for exe in "$@"; do
    prog=${exe##*/}
    readelf -hW "$exe" | grep -q 'Type: *DYN' || echo "$prog: not position-independent"
    readelf -lW "$exe" | grep -q GNU_RELRO || echo "$prog: no RELRO"
    readelf -dW "$exe" | grep -q 'BIND_NOW\|FLAGS_1.*NOW' || echo "$prog: not bound at start (-z now)"
    symbols=$(readelf --dyn-syms -W "$exe")
    echo "$symbols" | grep -q '__stack_chk_fail' || echo "$prog: no stack protector"
    if [ "$fortify" = ON ]; then
        echo "$symbols" | grep -q '__[a-z]*_chk@' || echo "$prog: no _FORTIFY_SOURCE functions"
    fi
done
