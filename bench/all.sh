#!/usr/bin/env bash
# Every benchmark in one run, in one build folder: the stream library (bench/stream.sh), the
# decode library (bench/playsdk.sh, 60-second clips) and the player (bench/player.sh), each
# printing its ratios against the peers it measures in the same run. About 25 minutes on two
# cores; --long makes the stream library's 64-session run and the player's memory run
# 10 minutes each (about 45 minutes).
# Usage: bench/all.sh [--build DIR] [--long]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$here/../build-bench"
long=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --long) long=(--long); shift ;;
    *) echo "usage: bench/all.sh [--build DIR] [--long]" >&2; exit 2 ;;
  esac
done
start=$(date +%s)
echo "== stream library"
"$here/stream.sh" --build "$build" "${long[@]}"
echo
echo "== decode library"
"$here/playsdk.sh" "$build" 2 60
echo
echo "== player"
"$here/player.sh" --build "$build" "${long[@]}"
echo
echo "all benchmarks: $(( ($(date +%s) - start) / 60 )) min"
