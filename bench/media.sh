#!/usr/bin/env bash
# CPU of one 1080p25 4 Mbit/s H.264 stream received over UDP and TCP: the RTSP/RTP layer
# (media_bench) against `ffmpeg -c copy -f null`. Usage: bench/media.sh <build-dir> [seconds]
set -euo pipefail
BUILD=${1:?build dir}
SECONDS_TO_RUN=${2:-30}
BENCH="$BUILD/bench/media/media_bench"
WORK=$(mktemp -d)
trap 'kill $SERVER 2>/dev/null || true; rm -rf "$WORK"' EXIT
ffmpeg -loglevel error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -t $((SECONDS_TO_RUN + 10)) \
  -c:v libx264 -preset ultrafast -b:v 4M -maxrate 4M -bufsize 8M -g 50 -pix_fmt yuv420p \
  -use_editlist 0 "$WORK/stream.mp4"
PORT=$((20000 + RANDOM % 20000))
"$BENCH" serve "$WORK/stream.mp4" $PORT > "$WORK/url" &
SERVER=$!
sleep 1
URL=$(head -1 "$WORK/url")
cpu_of() {  # command... -> CPU seconds of the command
  /usr/bin/env time -f "%U %S" -o "$WORK/t" "$@" > /dev/null 2>&1 || true
  awk '{ printf "%.3f", $1 + $2 }' "$WORK/t"
}
for transport in udp tcp; do
  flag=""; [ $transport = tcp ] && flag="--tcp"
  layer=$("$BENCH" play $flag "$URL" "$SECONDS_TO_RUN")
  ff=$(cpu_of ffmpeg -loglevel error -rtsp_transport $transport -i "$URL" -t "$SECONDS_TO_RUN" -c copy -f null -)
  echo "$transport: layer $layer | ffmpeg cpu_seconds=$ff"
done
