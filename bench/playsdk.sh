#!/usr/bin/env bash
# Decode library benchmark: builds bench_playsdk in the given build folder and runs it.
# Usage: bench/playsdk.sh [build-dir] [ffmpeg-threads (2)] [seconds (10)] [codec: h264, h265]
# The full measurement: bench/playsdk.sh build 2 60 (about six minutes on two cores).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build-playsdk}"
threads="${2:-2}"
seconds="${3:-10}"
codec="${4:-h264}"
cmake -S "$here/.." -B "$build" >/dev/null
cmake --build "$build" --target bench_playsdk -j2 >/dev/null
export SDL_AUDIODRIVER=dummy
exec "$build/bench/playsdk/bench_playsdk" --threads "$threads" --seconds "$seconds" --codec "$codec"
