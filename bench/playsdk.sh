#!/usr/bin/env bash
# Decode library benchmark: builds bench_playsdk in the given build folder and runs it.
# Usage: bench/playsdk.sh [build-dir] [decoder-threads] [seconds] [codec: h264 (default), h265]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build-playsdk}"
threads="${2:-$(nproc)}"
seconds="${3:-10}"
codec="${4:-h264}"
cmake -S "$here/.." -B "$build" >/dev/null
cmake --build "$build" --target bench_playsdk -j2 >/dev/null
export SDL_AUDIODRIVER=dummy
exec "$build/bench/playsdk/bench_playsdk" --threads "$threads" --seconds "$seconds" --codec "$codec"
