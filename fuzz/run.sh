#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time each: fuzz/run.sh BUILD_DIR SECONDS
set -euo pipefail
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
shopt -s nullglob
for target in "$build"/fuzz/fuzz_*; do
    [ -f "$target" ] && [ -x "$target" ] || continue  # not the targets' autogen folders
    name=$(basename "$target")
    work=$(mktemp -d)
    seeds=()
    [ -d "$here/seeds/$name" ] && seeds+=("$here/seeds/$name")
    [ -d "$here/regressions/$name" ] && seeds+=("$here/regressions/$name")
    echo "== $name for ${seconds}s"
    "$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/" "$work" "${seeds[@]}" 2>&1 | tail -n 20
    rm -rf "$work"
done
