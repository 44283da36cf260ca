#!/usr/bin/env bash
# Stream library benchmark: builds bench_stream, bench_rtsp_server and bench_rtsp_client in the
# given build folder and runs them (about 10 minutes; --long makes the memory run 10 minutes;
# --cpu-only prints the CPU ratios alone: about 8 minutes, 5 with --window 20 --multi-window 10).
# Needs ffmpeg (with libx264) and gst-launch-1.0 in PATH.
# Usage: bench/stream.sh [--build DIR] [bench_stream options: --long --window S ...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$here/../build-benchrtsp"
if [[ "${1:-}" == "--build" ]]; then
  build="$2"
  shift 2
fi
cmake -S "$here/.." -B "$build" >/dev/null
cmake --build "$build" --target bench_stream bench_rtsp_server bench_rtsp_client -j2 >/dev/null
exec "$build/bench/rtsp/bench_stream" "$@"
