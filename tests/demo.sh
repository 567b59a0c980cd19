#!/bin/sh
# Runs the programs on an example disk: format, make directories, report,
# copy a text file in and out again, type it, list the tree, prune a tree,
# report again; then mount the disk, copy a file in with cp and list it
# (where dvmount was built and FUSE lets this user mount).
# Last, a bootable disk: modules made here byte by byte (dvident -f sets
# their parity and CRC), copied in, given their attributes in one run, a
# boot file and a kernel track installed and the disk reported bootable.
#   sh tests/demo.sh BUILD_DIR
set -eu

if [ $# -ne 1 ]; then
    echo "usage: sh tests/demo.sh BUILD_DIR" >&2
    exit 2
fi
BIN=$(cd "$1" && pwd)
for prog in dvinit dvnewdir dvspace dvtype dvprune dvls dvcopy dvattr dvident dvboot dvcheck; do
    if [ ! -x "$BIN/$prog" ]; then
        echo "demo: $BIN/$prog is missing; build first" >&2
        exit 1
    fi
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/dvdemo.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM
cd "$WORK"

echo "== dvinit -t40 -s18 -2 -nDemo demo.dsk"
"$BIN/dvinit" -t40 -s18 -2 -nDemo demo.dsk
ls -l demo.dsk | awk '{ print "   " $5 " bytes in demo.dsk" }'

echo
echo "== dvnewdir demo.dsk:CMDS demo.dsk:DOCS demo.dsk:DOCS/NOTES"
"$BIN/dvnewdir" demo.dsk:CMDS demo.dsk:DOCS demo.dsk:DOCS/NOTES

echo
echo "== dvspace demo.dsk"
"$BIN/dvspace" demo.dsk

echo "== dvtype demo.dsk:DOCS/notes/TODO (text stored with carriage returns)"
printf 'Read the manual.\nBack up the disks.\nType this file with dvtype.\n' > todo.txt
"$BIN/dvcopy" -t todo.txt demo.dsk:DOCS/NOTES/TODO
"$BIN/dvtype" demo.dsk:DOCS/notes/TODO

echo
echo "== dvcopy -t demo.dsk:DOCS/NOTES/TODO todo.back (out again, line feeds back)"
"$BIN/dvcopy" -t demo.dsk:DOCS/NOTES/TODO todo.back
if cmp -s todo.txt todo.back; then echo "   todo.back is the same as todo.txt"; else echo "   todo.back differs" >&2; exit 1; fi

echo
echo "== dvls -r -e demo.dsk (the whole tree, long form)"
"$BIN/dvls" -r -e demo.dsk

echo
echo "== dvls -j demo.dsk:DOCS/NOTES (JSON Lines)"
"$BIN/dvls" -j demo.dsk:DOCS/NOTES

echo
echo "== dvtype hello.txt (a host text file)"
printf 'Hello from the demo.\nA second line.\n' > hello.txt
"$BIN/dvtype" hello.txt

echo
echo "== dvtype demo.dsk:DOCS/readme (not there)"
status=0
"$BIN/dvtype" demo.dsk:DOCS/readme || status=$?
echo "   exit status $status"

echo
echo "== dvspace demo.dsk"
"$BIN/dvspace" demo.dsk

echo
echo "== dvprune -q demo.dsk:DOCS"
"$BIN/dvprune" -q demo.dsk:DOCS

echo
echo "== dvspace demo.dsk"
"$BIN/dvspace" demo.dsk

echo "== dvls demo.dsk"
"$BIN/dvls" demo.dsk

echo
echo "== dvmount demo.dsk mnt; cp hello.txt mnt/CMDS; fusermount3 -u mnt"
mkdir mnt
if [ ! -x "$BIN/dvmount" ]; then
    echo "   skipped: dvmount is not built: cmake found no libfuse3 (pkg-config fuse3; Debian package libfuse3-dev)"
elif ! command -v fusermount3 >/dev/null 2>&1; then
    echo "   skipped: no fusermount3 to unmount with (Debian package fuse3)"
elif ! "$BIN/dvmount" demo.dsk mnt 2>mount.err; then
    # dvmount says why (no permission to use FUSE, say); the demo goes on.
    sed 's/^/   skipped: /' mount.err
else
    trap 'fusermount3 -u -z "$WORK/mnt" 2>/dev/null || true; rm -rf "$WORK"' EXIT INT TERM
    cp hello.txt mnt/CMDS/hello.txt
    ls -l mnt/CMDS | sed 's/^/   /'
    fusermount3 -u mnt
    # dvls waits for dvmount, which may still be ending, to let go of the image.
    echo "== dvls -e demo.dsk:CMDS (after the unmount)"
    "$BIN/dvls" -e demo.dsk:CMDS
fi

echo
echo "== a bootable disk: modules built here, byte by byte"
# bytes N...: the bytes of these decimal numbers.
bytes() { for b in "$@"; do printf "\\$(printf %03o "$b")"; done; }
# module NAME TYPE_AND_LANGUAGE BODY_BYTES...: the header, the body, the
# name (bit 7 on its last character) and a CRC of zeros; parity 0 too.
module() {
    name=$1 tl=$2
    shift 2
    size=$((9 + $# + ${#name} + 3))
    bytes 135 205 $((size / 256)) $((size % 256)) 0 $((9 + $#)) "$tl" 129 0 "$@"
    rest=$name
    while [ ${#rest} -gt 1 ]; do
        bytes "$(printf %d "'$rest")"
        rest=${rest#?}
    done
    bytes $(($(printf %d "'$rest") + 128)) 0 0 0
}
# Programs (type 1, 6809 code): execution offset, data size, then RTS.
module Hello 17 0 13 0 64 57 > Hello
module Shell 17 0 13 0 128 57 > Shell
module Init 192 1 2 3 4 > Init              # system, data
module Term 241 0 0 1 8 > Term             # a device descriptor
cat Init Hello Shell Term > OS9Boot
status=0
"$BIN/dvident" -s OS9Boot || status=$?
echo "   exit status $status (parity and CRC not yet set)"
echo "== dvident -f Hello Shell Init Term OS9Boot"
"$BIN/dvident" -f Hello Shell Init Term OS9Boot >/dev/null
"$BIN/dvident" OS9Boot
{ printf 'OS'; bytes 18 52 86 120; } > kernel.bin
printf 'Start the shell.\n' > startup

echo
echo "== dvinit -t40 -s18 -2 -nBootDisk boot.dsk; dvnewdir boot.dsk:CMDS boot.dsk:SYS"
"$BIN/dvinit" -t40 -s18 -2 -nBootDisk boot.dsk >/dev/null
"$BIN/dvnewdir" boot.dsk:CMDS boot.dsk:SYS
"$BIN/dvcopy" Hello Shell boot.dsk:CMDS
"$BIN/dvcopy" -t startup boot.dsk:SYS/startup
echo "== dvattr boot.dsk:CMDS/Hello boot.dsk:CMDS/Shell boot.dsk:SYS/startup e pe pr (one run)"
"$BIN/dvattr" boot.dsk:CMDS/Hello boot.dsk:CMDS/Shell boot.dsk:SYS/startup e pe pr
echo "== dvboot -k kernel.bin -b OS9Boot boot.dsk"
"$BIN/dvboot" -k kernel.bin -b OS9Boot boot.dsk
echo "== dvboot boot.dsk"
"$BIN/dvboot" boot.dsk
echo "   exit status 0: bootable"
echo "== dvcheck boot.dsk"
"$BIN/dvcheck" boot.dsk

echo
echo "== done"
