#!/usr/bin/env bash
# The bash completion: the script parses, and a table of command lines
# against what the completion offers: options per program, attribute words,
# host paths, and names inside an image listed through dvls.
#   bash tests/completion_check.sh SOURCE_DIR BUILD_DIR
set -eu
SRC=$(cd "$1" && pwd)
BIN=$(cd "$2" && pwd)
bash -n "$SRC/completion/dv.bash"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/dvcomp.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM
cd "$WORK"
"$BIN/dvinit" -nComp disk.dsk
"$BIN/dvnewdir" disk.dsk:CMDS disk.dsk:DOCS disk.dsk:DOCS/NOTES
printf 'x\n' > note.txt
"$BIN/dvcopy" note.txt disk.dsk:DOCS/Readme
"$BIN/dvcopy" note.txt disk.dsk:DOCS/report
"$BIN/dvnewdir" 'disk.dsk:DOCS/NOTES/D$'
"$BIN/dvcopy" note.txt 'disk.dsk:DOCS/NOTES/$new-1'
"$BIN/dvcopy" note.txt 'disk.dsk:DOCS/NOTES/D$/x'
mkdir hostdir
touch host.txt

export PATH="$BIN:$PATH"
# shellcheck source=/dev/null
source "$SRC/completion/dv.bash"
COMP_WORDBREAKS=$' \t\n"\'><=;|&(:'

# Completes LINE (the cursor at its end) as bash would: words split at
# blanks and at ':' (a word break of its own).
offered() {
    COMP_LINE=$1
    COMP_POINT=${#1}
    local spaced=${1//:/ : }
    read -ra COMP_WORDS <<<"$spaced"
    [[ $1 == *" " || $1 == *: ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _dv
    local sorted
    sorted=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
    printf '%s' "${sorted% }"
}

failures=0
check() {
    local got
    got=$(offered "$1")
    if [[ $got != "$2" ]]; then
        echo "FAIL: '$1' offers '$got', expected '$2'" >&2
        failures=$((failures + 1))
    fi
}

# Command line                             Expected, sorted
check "dvls -"                             "--help --version -a -d -e -h -j -r"
check "dvcopy -"                           "--help --version -L -a -f -h -o -r -t -u"
check "dvdiff -"                           "--help --version -a -h -t"
check "dvdel -"                            "--help --version -f -h"
check "dvprune -"                          "--help --version -h -q"
check "dvcheck -"                          "--help --version -h -n -r -v"
check "dvinit -"                           "--help --to --version -1 -2 -c -f -h -i -n -s -t"
check "dvconvert -"                        "--help --to --version -f -h"
check "dvconvert --to "                    "dmk jvc raw vdk"
check "dvconvert --to d"                   "dmk"
check "dvident -"                          "--help --version -f -h -j -s"
check "dvboot -"                           "--help --version -F -b -d -e -h -k -x"
check "dvmount -"                          "--help --version -f -h -o -r"
check "dvundel -"                          "--help --version -h"
check "dvundel disk.dsk:D"                  "DOCS/"
check "dvtype --v"                         "--version"
check "dvattr disk.dsk:DOCS/Readme p"      "pe pr pw"
check "dvattr disk.dsk:DOCS/Readme -"      "-e -pe -pr -pw -r -s -w"
check "dvattr disk.dsk:DO"                 "DOCS/"
check "dvls disk.dsk:"                     "CMDS/ DOCS/"
check "dvls disk.dsk:D"                    "DOCS/"
check "dvls disk.dsk:DOCS/"                "DOCS/NOTES/ DOCS/Readme DOCS/report"
check "dvtype disk.dsk:docs/re"            "docs/Readme docs/report"
check "dvtype disk.dsk:DOCS/REA"           "DOCS/Readme"
check "dvcopy note.txt disk.dsk:DOCS/N"    "DOCS/NOTES/"
check "dvdel disk.dsk:NOPE/"               ""
# A '$' is offered as "\$", which the shell keeps, and read so when typed.
check 'dvtype disk.dsk:DOCS/NOTES/'        'DOCS/NOTES/D\$/ DOCS/NOTES/\$new-1'
check 'dvtype disk.dsk:DOCS/NOTES/\$n'     'DOCS/NOTES/\$new-1'
check 'dvtype disk.dsk:DOCS/NOTES/D\$/'    'DOCS/NOTES/D\$/x'
check "dvls nothere.dsk:"                  ""
check "dvcopy host"                        "host.txt hostdir"
check "dvcheck disk.dsk:"                  ""
check "dvcheck -rv disk.dsk:D"             "DOCS/"
check "dvmount -o "                        ""

[[ $failures -eq 0 ]]
