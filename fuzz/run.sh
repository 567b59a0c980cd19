#!/bin/sh
# Builds the fuzz targets with clang and runs each, one after the other, for
# SECONDS seconds on a scratch copy of its seed corpus.  Exits non-zero when
# any target reports a finding (crash, sanitizer report, timeout,
# out-of-memory, failed check); the input that caused it is left in
# fuzz/corpus-run/<target>-findings/ and the log in fuzz/corpus-run/<target>.log.
#
#   sh fuzz/run.sh 60
set -eu
SECONDS_EACH=${1:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="$ROOT/build-fuzz"
RUN="$ROOT/fuzz/corpus-run"

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDV_FUZZ=ON -DDV_TESTS=OFF -DDV_WERROR=ON >/dev/null
cmake --build "$BUILD" -j "${JOBS:-1}"

status=0
for target in read space write pathlist container module; do
    work="$RUN/$target"
    findings="$RUN/$target-findings"
    rm -rf "$work" "$findings"
    mkdir -p "$work" "$findings"
    cp "$ROOT/fuzz/corpus/$target"/* "$work"/
    echo "== fuzz_$target for ${SECONDS_EACH}s"
    # The targets work on images in memory only; the working directory is
    # the scratch area all the same.
    if ! (cd "$findings" && "$BUILD/fuzz/fuzz_$target" -max_total_time="$SECONDS_EACH" -max_len=65536 \
            -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" "$work") \
            >"$RUN/$target.log" 2>&1; then
        echo "fuzz_$target: FINDING (see $RUN/$target.log and $findings/)"
        grep -v '^#' "$RUN/$target.log" | tail -n 40
        status=1
    else
        grep -E '^#[0-9]+[[:space:]]+DONE' "$RUN/$target.log" || true
    fi
done
exit $status
