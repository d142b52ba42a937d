#!/usr/bin/env bash
# Installs what is missing, builds the mpfix tool, and decodes an MP3 file to WAV.
# Usage: scripts/demo.sh [IN.mp3 [OUT.wav]]   (default: samples/sample.mp3 -> out/sample.wav)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

input=${1:-$root/samples/sample.mp3}
name=$(basename "${input%.*}")
output=${2:-$root/out/$name.wav}

MPFIX_SKIP_ARM=1 "$root/scripts/deps.sh"
build="$root/build/release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target mpfix_cli -j "$(nproc 2>/dev/null || echo 2)" >/dev/null

mkdir -p "$(dirname "$output")"
"$build/tools/mpfix" info "$input"
"$build/tools/mpfix" decode "$input" "$output"
echo "wrote $output"
