#!/usr/bin/env bash
# Player benchmark: builds BrelsoPlayer, bench_player and bench_rtsp_server in the given build
# folder and runs them on a virtual display (about 3 minutes; --long makes the player's memory
# run 10 minutes: about 11 minutes). Needs Xvfb, xdotool, ffmpeg (with libx264) and ffplay;
# --perf also needs perf (Debian package linux-perf, not part of scripts/setup).
# Usage: bench/player.sh [--build DIR] [bench_player options: --long --window S --size WxH ...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$here/../build-benchplayer"
if [[ "${1:-}" == "--build" ]]; then
  build="$2"
  shift 2
fi
cmake -S "$here/.." -B "$build" >/dev/null
cmake --build "$build" --target BrelsoPlayer bench_player bench_rtsp_server -j2 >/dev/null
exec "$build/bench/player/bench_player" "$@"
