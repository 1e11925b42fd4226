#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time each: fuzz/run.sh BUILD_DIR SECONDS
# Prints the runs of each target. Any finding (a crash, a sanitizer report, a hang, memory beyond
# the limit) fails the script; its input is kept under fuzz/regressions/<target>/, where later
# runs start from it, and its path is printed.
set -uo pipefail
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
shopt -s nullglob
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
findings=0
for target in "$build"/fuzz/fuzz_*; do
    [ -f "$target" ] && [ -x "$target" ] || continue  # not the targets' autogen folders
    name=$(basename "$target")
    work=$(mktemp -d)
    mkdir -p "$work/corpus" "$work/artifacts"
    seeds=()
    [ -d "$here/seeds/$name" ] && seeds+=("$here/seeds/$name")
    [ -d "$here/regressions/$name" ] && seeds+=("$here/regressions/$name")
    "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" "$work/corpus" "${seeds[@]}" >"$work/log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
    kept=()
    for artifact in "$work/artifacts"/*; do
        mkdir -p "$here/regressions/$name"
        cp "$artifact" "$here/regressions/$name/"
        kept+=("$here/regressions/$name/$(basename "$artifact")")
    done
    if [ "$status" -ne 0 ] || [ ${#kept[@]} -gt 0 ]; then
        findings=$((findings + 1))
        tail -n 60 "$work/log"
        echo "== $name: FINDING after ${runs:-?} runs (exit $status)"
        for path in "${kept[@]}"; do
            echo "   input kept as $path"
        done
    else
        echo "== $name: ${runs:-?} runs in ${seconds}s, no findings"
    fi
    rm -rf "$work"
done
if [ "$findings" -ne 0 ]; then
    echo "fuzzing: $findings target(s) with findings"
    exit 1
fi
