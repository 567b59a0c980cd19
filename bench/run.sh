#!/bin/sh
# Benchmarks of the programs against a peer toolkit for FAT images (mtools),
# both measured in the same run on inputs of the same size; cp through a
# mounted image (dvmount) against dvcopy.
#
#   sh bench/run.sh            (what `make bench` runs)
#
# Environment: BENCH_RUNS (runs per figure, default 7), BENCH_JOBS (build
# jobs, default 1), CXX (compiler of the helper tools, default g++),
# BENCH_STRICT=1 (exit 1 when a target is missed; by default the run only
# reports).
#
# Every figure is the median wall-clock time of BENCH_RUNS runs, in
# milliseconds; inputs that a program consumes are rebuilt before each run,
# outside the timed part.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build-release
TOOLS=$BUILD/bench-tools
RUNS=${BENCH_RUNS:-7}
JOBS=${BENCH_JOBS:-1}
CXX=${CXX:-g++}

# Disk geometry of every image: 2000 tracks of 250 sectors = 500,000 sectors
# of 256 bytes; the FAT peer gets the same 128,000,000 bytes as 250,000
# sectors of 512 bytes.
OS9_GEOMETRY="-t2000 -s250"
TEXT_LINES=1310720         # 80-byte lines: 100 MiB
COPY_BYTES=10485760        # 10 MiB copied in and out
PRUNE_FILES=3000           # one directory of them: pruned, listed
MANY_FILES=30000           # ten times as many: the work must stay linear
HUGE_DIR=50000             # one directory made, listed, checked and pruned
PRUNE_FILE_BYTES=100

echo "== building the programs (Release) in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DDV_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j "$JOBS" >/dev/null
mkdir -p "$TOOLS"
for tool in mkimage timeit; do
    src=$ROOT/bench/$tool.cpp
    if [ ! -x "$TOOLS/$tool" ] || [ "$src" -nt "$TOOLS/$tool" ] || [ "$BUILD/librbf.a" -nt "$TOOLS/$tool" ]; then
        "$CXX" -O2 -std=c++20 -Wall -Wextra -Werror -I"$ROOT" "$src" "$BUILD/librbf.a" -o "$TOOLS/$tool"
    fi
done
# The containers of section l are built with the tests' own builders.
if [ ! -x "$TOOLS/wrap" ] || [ "$ROOT/bench/wrap.cpp" -nt "$TOOLS/wrap" ] ||
    [ "$ROOT/tests/container_builders.cpp" -nt "$TOOLS/wrap" ]; then
    "$CXX" -O2 -std=c++20 -Wall -Wextra -Werror -I"$ROOT" -I"$ROOT/tests" "$ROOT/bench/wrap.cpp" \
        "$ROOT/tests/container_builders.cpp" -o "$TOOLS/wrap"
fi
DVTYPE=$BUILD/dvtype
DVSPACE=$BUILD/dvspace
DVINIT=$BUILD/dvinit
DVPRUNE=$BUILD/dvprune
DVLS=$BUILD/dvls
DVCOPY=$BUILD/dvcopy
DVCHECK=$BUILD/dvcheck
DVNEWDIR=$BUILD/dvnewdir
DVMOUNT=$BUILD/dvmount
DVBOOT=$BUILD/dvboot
DVIDENT=$BUILD/dvident
DVDIFF=$BUILD/dvdiff
DVDEL=$BUILD/dvdel
DVUNDEL=$BUILD/dvundel
DVRENAME=$BUILD/dvrename
MKIMAGE=$TOOLS/mkimage
WRAP=$TOOLS/wrap
TIMEIT=$TOOLS/timeit

# The peer is needed only here: install it when it is missing.
if ! command -v mtype >/dev/null 2>&1; then
    echo "== installing mtools (benchmark peer)"
    if command -v apt-get >/dev/null 2>&1 && [ "$(id -u)" = 0 ]; then
        { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq mtools; } >/dev/null 2>&1 ||
            echo "   could not install mtools; peer figures are left out"
    else
        echo "   apt-get (as root) not available; peer figures are left out"
    fi
fi
PEER=no
command -v mtype >/dev/null 2>&1 && PEER=yes
# Image files carry no partition table or drive configuration.
MTOOLS_SKIP_CHECK=1
export MTOOLS_SKIP_CHECK

WORK=$(mktemp -d "${TMPDIR:-/tmp}/dvbench.XXXXXX")
trap 'cd /; rm -rf "$WORK"' EXIT
trap 'exit 130' INT TERM
cd "$WORK"
SUMMARY=$WORK/summary

# time_cmd PREPARE PROGRAM ARGS... : prints "median min max" in ms.
time_cmd() {
    prep=$1
    shift
    if [ -n "$prep" ]; then
        "$TIMEIT" -n "$RUNS" -p "$prep" -- "$@"
    else
        "$TIMEIT" -n "$RUNS" -- "$@"
    fi
}

# show LABEL "median min max"
show() {
    set -- "$1" $2
    printf '   %-34s %9s ms   (min %s, max %s)\n' "$1" "$2" "$3" "$4"
}

# verdict NAME OURS PEER KIND LIMIT : one summary row.  KIND "ratio": ours
# must be at most LIMIT times the peer; KIND "ms": ours under LIMIT ms.
verdict() {
    awk -v name="$1" -v ours="$2" -v peer="$3" -v kind="$4" -v limit="$5" 'BEGIN {
        ratio = (peer != "" && peer + 0 > 0) ? sprintf("%.2f", ours / peer) : "-"
        if (kind == "ratio") {
            target = "<= " limit "x peer"
            if (ratio == "-") result = "n/a"
            else result = (ours <= limit * peer) ? "PASS" : "MISS"
        } else {
            target = "< " limit " ms"
            result = (ours < limit) ? "PASS" : "MISS"
        }
        printf "%-22s %10s %10s %8s  %-14s %s\n", name, ours, (peer == "" ? "-" : peer), ratio, target, result
    }' >>"$SUMMARY"
}

median() { echo "$1" | cut -d' ' -f1; }

echo "== preparing inputs in $WORK"
# 100 MiB of text: 79 characters and a line end per line.
awk -v n="$TEXT_LINES" 'BEGIN {
    base = ""
    for (i = 0; i < 160; i++) base = base sprintf("%c", 33 + (i * 7) % 94)
    for (i = 0; i < n; i++) printf "%07d %s\n", i, substr(base, i % 80 + 1, 71)
}' >text.txt
head -c "$COPY_BYTES" text.txt >copy.txt
"$DVINIT" $OS9_GEOMETRY text.dsk >/dev/null
"$MKIMAGE" put text.dsk:TEXT.TXT text.txt
"$MKIMAGE" put text.dsk:COPY.TXT copy.txt
"$DVINIT" $OS9_GEOMETRY empty.dsk >/dev/null
cp --sparse=always empty.dsk prune.dsk
"$MKIMAGE" files prune.dsk:DIR "$PRUNE_FILES" "$PRUNE_FILE_BYTES"
cp --sparse=always empty.dsk many.dsk
"$MKIMAGE" files many.dsk:DIR "$MANY_FILES" "$PRUNE_FILE_BYTES"
if [ "$PEER" = yes ]; then
    mformat -C -i fat.img -T 250000 -h 16 -s 32 :: >/dev/null
    cp --sparse=always fat.img fatdir.img
    cp --sparse=always fat.img fatempty.img
    mcopy -i fat.img text.txt ::TEXT.TXT
    mcopy -i fat.img copy.txt ::COPY.TXT
    mkdir files
    head -c "$PRUNE_FILE_BYTES" text.txt >one.txt
    i=0
    while [ "$i" -lt "$PRUNE_FILES" ]; do
        cp one.txt "files/$(printf 'F%04d' "$i")"
        i=$((i + 1))
    done
    mmd -i fatdir.img ::DIR
    mcopy -i fatdir.img files/* ::DIR/
    rm -rf files one.txt
fi
echo "   text: $(wc -c <text.txt) bytes in $TEXT_LINES lines; $PRUNE_FILES and $MANY_FILES files of $PRUNE_FILE_BYTES bytes to prune"
echo "   $RUNS runs per figure; times are medians"

# ---- a. dvtype ----------------------------------------------------------
echo
echo "== a. type a 100 MiB text file"
"$DVTYPE" text.dsk:TEXT.TXT >typed.txt
if cmp -s typed.txt text.txt; then
    echo "   check: dvtype output equals the host text"
else
    echo "   check: dvtype output DIFFERS from the host text"
    cmp typed.txt text.txt || true
fi
rm -f typed.txt
a_ours=$(time_cmd "" "$DVTYPE" text.dsk:TEXT.TXT)
show "dvtype text.dsk:TEXT.TXT" "$a_ours"
a_peer=""
if [ "$PEER" = yes ]; then
    mtype -i fat.img ::TEXT.TXT | cmp -s - text.txt || echo "   note: mtype output differs from the host text"
    a_peer=$(time_cmd "" mtype -i fat.img ::TEXT.TXT)
    show "mtype -i fat.img ::TEXT.TXT" "$a_peer"
    a_peer=$(median "$a_peer")
fi
verdict "dvtype 100 MiB" "$(median "$a_ours")" "$a_peer" ratio 1.5

# ---- b. dvspace ---------------------------------------------------------
echo
echo "== b. free space of a 500,000-sector image"
"$DVSPACE" empty.dsk | sed '/^$/d; s/^/   | /'
b_ours=$(time_cmd "" "$DVSPACE" empty.dsk)
show "dvspace empty.dsk" "$b_ours"
b_peer=""
if [ "$PEER" = yes ]; then
    b_peer=$(time_cmd "" minfo -i fat.img ::)
    show "minfo -i fat.img :: (reference)" "$b_peer"
    b_peer=$(median "$b_peer")
fi
verdict "dvspace 500k sectors" "$(median "$b_ours")" "$b_peer" ratio 1.3

# ---- c. dvinit ----------------------------------------------------------
echo
echo "== c. format a new 500,000-sector image"
c_ours=$(time_cmd "rm -f new.dsk" "$DVINIT" $OS9_GEOMETRY new.dsk)
show "dvinit $OS9_GEOMETRY new.dsk" "$c_ours"
echo "   new.dsk: $(stat -c %s new.dsk) bytes apparent, $(du -k new.dsk | cut -f1) KiB allocated"
if [ -x /usr/bin/time ]; then
    rm -f new.dsk
    mem=$(/usr/bin/time -f %M "$DVINIT" $OS9_GEOMETRY new.dsk 2>&1 >/dev/null | tail -n 1)
    echo "   dvinit peak memory: $mem KiB"
fi
c_peer=""
if [ "$PEER" = yes ]; then
    c_peer=$(time_cmd "rm -f new.img" mformat -C -i new.img -T 250000 -h 16 -s 32 ::)
    show "mformat -C -i new.img ..." "$c_peer"
    echo "   new.img: $(stat -c %s new.img) bytes apparent, $(du -k new.img | cut -f1) KiB allocated"
    if [ -x /usr/bin/time ]; then
        rm -f new.img
        mem=$(/usr/bin/time -f %M mformat -C -i new.img -T 250000 -h 16 -s 32 :: 2>&1 >/dev/null | tail -n 1)
        echo "   mformat peak memory: $mem KiB"
    fi
    c_peer=$(median "$c_peer")
fi
rm -f new.dsk new.img
verdict "dvinit 500k sectors" "$(median "$c_ours")" "$c_peer" ratio 2

# ---- d. dvprune ---------------------------------------------------------
echo
echo "== d. prune a directory of $PRUNE_FILES files, and one of $MANY_FILES"
cp --sparse=always prune.dsk work.dsk
"$DVPRUNE" -q work.dsk:DIR
free_after=$("$DVSPACE" work.dsk | grep 'Free sectors')
free_empty=$("$DVSPACE" empty.dsk | grep 'Free sectors')
if [ "$free_after" = "$free_empty" ] && ! "$DVTYPE" work.dsk:DIR/F0000 >/dev/null 2>&1; then
    echo "   check: after the prune the image is as free as a new one ($free_empty)"
else
    echo "   check: after the prune: '$free_after', new image: '$free_empty'"
fi
d_ours=$(time_cmd "cp --sparse=always prune.dsk work.dsk" "$DVPRUNE" -q work.dsk:DIR)
show "dvprune -q work.dsk:DIR ($PRUNE_FILES)" "$d_ours"
d_many=$(time_cmd "cp --sparse=always many.dsk work.dsk" "$DVPRUNE" -q work.dsk:DIR)
show "dvprune -q work.dsk:DIR ($MANY_FILES)" "$d_many"
"$DVCHECK" work.dsk | sed 's/^/   | /'
d_peer=""
if [ "$PEER" = yes ]; then
    d_peer=$(time_cmd "cp --sparse=always fatdir.img fwork.img" mdeltree -i fwork.img ::DIR)
    show "mdeltree -i fwork.img ::DIR" "$d_peer"
    d_peer=$(median "$d_peer")
fi
rm -f work.dsk fwork.img
verdict "dvprune $PRUNE_FILES files" "$(median "$d_ours")" "$d_peer" ratio 3
verdict "dvprune ${MANY_FILES}/${PRUNE_FILES}" "$(median "$d_many")" "$(median "$d_ours")" ratio 12

# ---- e. dvls -----------------------------------------------------------
echo
echo "== e. long listing of a directory of $PRUNE_FILES files"
listed=$("$DVLS" -e prune.dsk:DIR | wc -l)
echo "   check: dvls -e lists $listed entries"
e_ours=$(time_cmd "" "$DVLS" -e prune.dsk:DIR)
show "dvls -e prune.dsk:DIR" "$e_ours"
e_peer=""
if [ "$PEER" = yes ]; then
    e_peer=$(time_cmd "" mdir -i fatdir.img ::DIR)
    show "mdir -i fatdir.img ::DIR" "$e_peer"
    e_peer=$(median "$e_peer")
fi
verdict "dvls -e $PRUNE_FILES entries" "$(median "$e_ours")" "$e_peer" ratio 2

# ---- f. dvcopy in and out ---------------------------------------------------
echo
echo "== f. copy a 10 MiB file into an image and out of one"
cp --sparse=always empty.dsk in.dsk
"$DVCOPY" copy.txt in.dsk:IN.TXT
"$DVCOPY" in.dsk:IN.TXT back.txt
if cmp -s back.txt copy.txt; then
    echo "   check: copied in and out again, the file is the same"
else
    echo "   check: the file copied in and out DIFFERS"
fi
rm -f back.txt
f_in=$(time_cmd "cp --sparse=always empty.dsk in.dsk" "$DVCOPY" copy.txt in.dsk:IN.TXT)
show "dvcopy copy.txt in.dsk:IN.TXT" "$f_in"
f_out=$(time_cmd "rm -f out.txt" "$DVCOPY" text.dsk:COPY.TXT out.txt)
show "dvcopy text.dsk:COPY.TXT out.txt" "$f_out"
f_in_peer=""
f_out_peer=""
if [ "$PEER" = yes ]; then
    f_in_peer=$(time_cmd "cp --sparse=always fatempty.img fin.img" mcopy -i fin.img copy.txt ::IN.TXT)
    show "mcopy -i fin.img copy.txt ::IN.TXT" "$f_in_peer"
    f_out_peer=$(time_cmd "rm -f fout.txt" mcopy -i fat.img ::COPY.TXT fout.txt)
    show "mcopy -i fat.img ::COPY.TXT fout.txt" "$f_out_peer"
    f_in_peer=$(median "$f_in_peer")
    f_out_peer=$(median "$f_out_peer")
fi
rm -f in.dsk fin.img out.txt fout.txt
verdict "dvcopy in 10 MiB" "$(median "$f_in")" "$f_in_peer" ratio 1.5
verdict "dvcopy out 10 MiB" "$(median "$f_out")" "$f_out_peer" ratio 1.5

# ---- g. dvcheck -----------------------------------------------------------
echo
echo "== g. check a 500,000-sector image holding 10,000 files"
cp --sparse=always empty.dsk check.dsk
for d in 0 1 2 3 4 5 6 7 8 9; do "$MKIMAGE" files "check.dsk:D$d" 1000 "$PRUNE_FILE_BYTES"; done
"$DVCHECK" check.dsk | sed 's/^/   | /'
g_ours=$(time_cmd "" "$DVCHECK" check.dsk)
show "dvcheck check.dsk" "$g_ours"
rm -f check.dsk
verdict "dvcheck 10,000 files" "$(median "$g_ours")" "" ms 1000

# ---- h. dvnewdir ----------------------------------------------------------
echo
echo "== h. make $PRUNE_FILES directories in one call, and $MANY_FILES"
seq -f 'work.dsk:D%05g' 0 $((PRUNE_FILES - 1)) >names.few
seq -f 'work.dsk:D%05g' 0 $((MANY_FILES - 1)) >names.many
# Every name an operand of one run of the program.
h_few=$(time_cmd "cp --sparse=always empty.dsk work.dsk" sh -c "exec '$DVNEWDIR' \$(cat names.few)")
show "dvnewdir $PRUNE_FILES names" "$h_few"
h_many=$(time_cmd "cp --sparse=always empty.dsk work.dsk" sh -c "exec '$DVNEWDIR' \$(cat names.many)")
show "dvnewdir $MANY_FILES names" "$h_many"
"$DVCHECK" work.dsk | sed 's/^/   | /'
rm -f work.dsk names.few names.many
verdict "dvnewdir ${MANY_FILES}/${PRUNE_FILES}" "$(median "$h_many")" "$(median "$h_few")" ratio 12

# ---- i. one directory of 50,000 entries -------------------------------------
echo
echo "== i. one directory of $HUGE_DIR files: made, listed, checked, pruned"
cp --sparse=always empty.dsk huge.dsk
i_make=$("$TIMEIT" -n 1 -- "$MKIMAGE" files huge.dsk:BIG "$HUGE_DIR" 0)
show "make $HUGE_DIR files (library)" "$i_make"
listed=$("$DVLS" huge.dsk:BIG | wc -w)
i_list=$(time_cmd "" "$DVLS" -e huge.dsk:BIG)
show "dvls -e huge.dsk:BIG" "$i_list"
i_check=$(time_cmd "" "$DVCHECK" huge.dsk)
show "dvcheck huge.dsk" "$i_check"
made=$("$DVCHECK" huge.dsk | tail -n 1)
i_prune=$("$TIMEIT" -n 1 -- "$DVPRUNE" -q huge.dsk:BIG)
show "dvprune -q huge.dsk:BIG" "$i_prune"
pruned=$("$DVCHECK" huge.dsk | tail -n 1)
echo "   check: dvls lists $listed names"
echo "   check: $made"
echo "   check: $pruned"
huge_ok=MISS
if [ "$listed" = "$HUGE_DIR" ] && echo "$made" | grep -q "$HUGE_DIR files.* 0 problems found" &&
    echo "$pruned" | grep -q " 0 files, 1 directories.* 0 leaked; 0 problems found"; then
    huge_ok=PASS
fi
rm -f huge.dsk
printf '%-22s %10s %10s %8s  %-14s %s\n' "$HUGE_DIR-entry directory" "$(median "$i_list")" - - "made/listed/pruned" "$huge_ok" >>"$SUMMARY"

# ---- j. cp through a mounted image -------------------------------------------
echo
echo "== j. cp of a 10 MiB file into and out of a mounted image, against dvcopy (f.)"
if [ ! -x "$DVMOUNT" ]; then
    echo "   skipped: dvmount is not built (libfuse3-dev missing)"
elif [ "$(id -u)" != 0 ] || [ ! -w /dev/fuse ] || ! command -v fusermount3 >/dev/null 2>&1; then
    echo "   skipped: mounting needs root, /dev/fuse and fusermount3"
else
    mkdir -p min mout
    cp --sparse=always empty.dsk min.dsk
    cp --sparse=always text.dsk mout.dsk
    "$DVMOUNT" min.dsk min
    "$DVMOUNT" -r mout.dsk mout
    trap 'cd /; fusermount3 -u -z "$WORK/min" 2>/dev/null || true; fusermount3 -u -z "$WORK/mout" 2>/dev/null || true; rm -rf "$WORK"' EXIT
    cp copy.txt min/IN.TXT
    cp mout/COPY.TXT back.txt
    # Bytes are exact through a mount: COPY.TXT holds what dvcopy gives.
    "$DVCOPY" text.dsk:COPY.TXT exact.txt
    if cmp -s min/IN.TXT copy.txt && cmp -s back.txt exact.txt; then
        echo "   check: copied in and out through the mounts, the file is the same"
    else
        echo "   check: a file copied through the mounts DIFFERS"
    fi
    rm -f back.txt exact.txt
    j_in=$(time_cmd "rm -f min/IN.TXT" cp copy.txt min/IN.TXT)
    show "cp copy.txt min/IN.TXT" "$j_in"
    # Out: each run on a fresh mount, so nothing of the file is in the
    # kernel's cache (the image file itself is, as it is for dvcopy).
    j_out=$(time_cmd "rm -f out.txt; fusermount3 -u mout && $DVMOUNT -r mout.dsk mout" cp mout/COPY.TXT out.txt)
    show "cp mout/COPY.TXT out.txt (fresh)" "$j_out"
    j_warm=$(time_cmd "rm -f out.txt" cp mout/COPY.TXT out.txt)
    show "cp mout/COPY.TXT out.txt (cached)" "$j_warm"
    fusermount3 -u min
    fusermount3 -u mout
    # dvmount lets go of the image a moment after the unmount: dvcheck waits for it.
    "$DVCHECK" min.dsk | sed 's/^/   | /'
    rm -f min.dsk mout.dsk out.txt
    verdict "cp into mount 10 MiB" "$(median "$j_in")" "$(median "$f_in")" ratio 3
    verdict "cp out of mount 10 MiB" "$(median "$j_out")" "$(median "$f_out")" ratio 3
    echo "   (the peer of these two rows is dvcopy, section f.)"
fi

# ---- k. one-file operations on a full disk -------------------------------------
echo
echo "== k. one small file copied in or replaced: on a disk of $MANY_FILES files and on an empty one"
head -c "$PRUNE_FILE_BYTES" text.txt >one.txt
cp --sparse=always empty.dsk few.dsk
"$MKIMAGE" files few.dsk:DIR 2000 "$PRUNE_FILE_BYTES"
"$DVCOPY" one.txt many.dsk:ONE
"$DVCOPY" one.txt empty.dsk:ONE
# Host reads and writes of one operation, as the host counts them.
if command -v strace >/dev/null 2>&1; then
    for op in "few.dsk:DIR/NEW" "many.dsk:ONE" "empty.dsk:ONE"; do
        cp --sparse=always "${op%%:*}" probe.dsk
        strace -c -e trace=pread64,pwrite64 -o calls.txt "$DVCOPY" -o one.txt "probe.dsk:${op#*:}"
        reads=$(awk '$NF == "pread64" {print $4}' calls.txt)
        writes=$(awk '$NF == "pwrite64" {print $4}' calls.txt)
        echo "   dvcopy -o one.txt ${op}: ${reads:-0} host reads, ${writes:-0} host writes"
    done
    rm -f probe.dsk calls.txt
else
    echo "   (strace not found: host reads and writes not counted)"
fi
k_many=$(time_cmd "" "$DVCOPY" -o one.txt many.dsk:ONE)
show "dvcopy -o one.txt many.dsk:ONE" "$k_many"
k_empty=$(time_cmd "" "$DVCOPY" -o one.txt empty.dsk:ONE)
show "dvcopy -o one.txt empty.dsk:ONE" "$k_empty"
verdict "replace on $MANY_FILES files" "$(median "$k_many")" "$(median "$k_empty")" ratio 2
echo "   (the peer of this row is the same replace on an empty disk)"
rm -f one.txt few.dsk

# ---- l. containers ------------------------------------------------------
echo
echo "== l. a 720 KB disk's whole tree copied out of each container, and opening one"
"$DVINIT" -t80 -s18 -2 c.raw >/dev/null
head -c 4000 text.txt >one.txt
"$MKIMAGE" files c.raw:DIR 150 4000
"$DVCOPY" one.txt c.raw:ONE
for kind in jvc vdk dmk imd; do "$WRAP" "$kind" c.raw 80 "c.$kind"; done
l_raw=$(time_cmd "rm -rf out" "$DVCOPY" -r c.raw: out)
show "dvcopy -r c.raw: out" "$l_raw"
for kind in jvc vdk dmk imd; do
    rm -rf out
    "$DVCOPY" -r "c.$kind:" out
    l_it=$(time_cmd "rm -rf out" "$DVCOPY" -r "c.$kind:" out)
    show "dvcopy -r c.$kind: out" "$l_it"
    verdict "720K tree out of $kind" "$(median "$l_it")" "$(median "$l_raw")" ratio 1.5
done
l_open_raw=$(time_cmd "" "$DVSPACE" c.raw)
show "dvspace c.raw (open)" "$l_open_raw"
for kind in dmk imd; do
    l_open=$(time_cmd "" "$DVSPACE" "c.$kind")
    show "dvspace c.$kind (open)" "$l_open"
    verdict "open a $kind image" "$(median "$l_open")" "" ms 10
done
echo "   (the peer of the tree rows is the same copy out of the raw image)"
rm -rf out one.txt c.raw c.jvc c.vdk c.dmk c.imd

# ---- m. a bootable floppy -------------------------------------------------
echo
echo "== m. a 30 KB boot file and a kernel track installed on a 40-track two-sided disk, the disk reported"
"$MKIMAGE" modules boot30k 30 1024
{ printf 'OS'; head -c 4000 text.txt; } >kernel.bin
"$DVINIT" -t40 -s18 -2 -nBoot floppy.dsk >/dev/null
l_boot=$(time_cmd "cp floppy.dsk b.dsk" "$DVBOOT" -b boot30k b.dsk)
show "dvboot -b boot30k (30 KB)" "$l_boot"
l_kernel=$(time_cmd "cp floppy.dsk k.dsk" "$DVBOOT" -k kernel.bin k.dsk)
show "dvboot -k kernel.bin" "$l_kernel"
"$DVBOOT" -k kernel.bin -b boot30k floppy.dsk
l_report=$(time_cmd "" "$DVBOOT" floppy.dsk)
show "dvboot floppy.dsk (report)" "$l_report"
"$DVBOOT" floppy.dsk | sed -n '1,3p' | sed 's/^/   | /'
"$DVCHECK" floppy.dsk | sed 's/^/   | /'
l_ident=$(time_cmd "" "$DVIDENT" boot30k)
show "dvident boot30k (30 modules)" "$l_ident"
verdict "dvboot -b 30 KB" "$(median "$l_boot")" "" ms 20
verdict "dvboot -k kernel" "$(median "$l_kernel")" "" ms 20
verdict "dvboot report" "$(median "$l_report")" "" ms 20
verdict "dvident 30 KB" "$(median "$l_ident")" "" ms 5
rm -f boot30k kernel.bin floppy.dsk b.dsk k.dsk

# ---- n. patterns, updates, compares, deleted entries, moves -----------------
echo
echo "== n. on the directory of $PRUNE_FILES files: a pattern copied out, an update with nothing to do, a compare, deleted entries, a move"
matched=$("$DVLS" 'prune.dsk:DIR/F1*' | wc -l)
echo "   check: 'DIR/F1*' matches $matched files"
n_pat=$(time_cmd "rm -rf pat; mkdir pat" "$DVCOPY" 'prune.dsk:DIR/F1*' pat/)
show "dvcopy 'prune.dsk:DIR/F1*' pat/" "$n_pat"
n_pat_peer=""
if [ "$PEER" = yes ]; then
    n_pat_peer=$(time_cmd "rm -rf fpat; mkdir fpat" mcopy -n -i fatdir.img '::DIR/F1*' fpat/)
    show "mcopy -i fatdir.img '::DIR/F1*' fpat/" "$n_pat_peer"
    n_pat_peer=$(median "$n_pat_peer")
fi
rm -rf pat fpat DIR
"$DVCOPY" -r prune.dsk:DIR .
n_full=$(time_cmd "rm -rf full" "$DVCOPY" -r prune.dsk:DIR full)
show "dvcopy -r prune.dsk:DIR full" "$n_full"
n_upd=$(time_cmd "" "$DVCOPY" -u -r prune.dsk:DIR .)
show "dvcopy -u -r (nothing newer)" "$n_upd"
"$DVDIFF" prune.dsk:DIR DIR && echo "   check: dvdiff finds the tree copied out the same"
n_diff=$(time_cmd "" "$DVDIFF" prune.dsk:DIR DIR)
show "dvdiff prune.dsk:DIR DIR" "$n_diff"
rm -rf full DIR
cp --sparse=always prune.dsk del.dsk
"$DVDEL" 'del.dsk:DIR/F1*'
echo "   check: dvls -d shows $("$DVLS" -d del.dsk:DIR | grep -c recoverable) recoverable entries"
n_deleted=$(time_cmd "" "$DVLS" -d del.dsk:DIR)
show "dvls -d del.dsk:DIR" "$n_deleted"
fd=$("$DVLS" -d del.dsk:DIR | awk 'NR == 1 {print $1}')
n_undel=$(time_cmd "cp --sparse=always del.dsk u.dsk" "$DVUNDEL" u.dsk:DIR "$fd" BACK)
show "dvundel u.dsk:DIR $fd BACK" "$n_undel"
"$DVNEWDIR" many.dsk:OTHER 2>/dev/null || true
n_move=$(time_cmd "" sh -c "'$DVRENAME' many.dsk:DIR/F0001 many.dsk:OTHER/ && '$DVRENAME' many.dsk:OTHER/F0001 many.dsk:DIR/")
show "dvrename there and back ($MANY_FILES)" "$n_move"
verdict "pattern copy out" "$(median "$n_pat")" "$n_pat_peer" ratio 1.5
verdict "dvcopy -u, none newer" "$(median "$n_upd")" "$(median "$n_full")" ratio 1
echo "   (the peer of the -u row is the whole copy it spares)"
verdict "dvdiff $PRUNE_FILES files" "$(median "$n_diff")" "" ms 200
verdict "dvls -d $PRUNE_FILES" "$(median "$n_deleted")" "" ms 50
verdict "dvundel one file" "$(median "$n_undel")" "" ms 50
rm -f del.dsk u.dsk

# ---- summary ------------------------------------------------------------
echo
echo "== summary (milliseconds, median of $RUNS runs; ratio = ours / peer)"
printf '%-22s %10s %10s %8s  %-14s %s\n' name ours peer ratio target result
cat "$SUMMARY"
if grep -q ' MISS$' "$SUMMARY"; then
    echo "some targets missed"
    if [ "${BENCH_STRICT:-0}" = 1 ]; then exit 1; fi
else
    echo "all targets met"
fi
