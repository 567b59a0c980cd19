#!/bin/sh
# Runs the programs on an example disk: format, make directories, report,
# copy a text file in and out again, type it, list the tree, prune a tree,
# report again; then mount the disk, copy a file in with cp and list it
# (where dvmount was built and FUSE lets this user mount).
#   sh tests/demo.sh BUILD_DIR
set -eu

if [ $# -ne 1 ]; then
    echo "usage: sh tests/demo.sh BUILD_DIR" >&2
    exit 2
fi
BIN=$(cd "$1" && pwd)
for prog in dvinit dvnewdir dvspace dvtype dvprune dvls dvcopy; do
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
echo "== done"
