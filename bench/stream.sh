#!/usr/bin/env bash
# Stream library benchmark: builds bench_stream, bench_rtsp_server, bench_rtsp_client and
# kxnetcli in the given build folder and runs them (about 13 minutes; --long makes the memory run
# 10 minutes;
# --cpu-only prints the CPU ratios alone: about 10 minutes, 6 with --window 20 --multi-window 10).
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
cmake --build "$build" --target bench_stream bench_rtsp_server bench_rtsp_client kxnetcli -j2 >/dev/null
exec "$build/bench/rtsp/bench_stream" "$@"
