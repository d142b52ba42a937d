#!/usr/bin/env bash
# Fuzzes the decoder with libFuzzer (clang, address and undefined-behaviour
# sanitizers), starting from the test streams. Usage: scripts/fuzz.sh [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
command -v clang++ >/dev/null || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang; }
out="$root/build/fuzz"
mkdir -p "$out/corpus"
cp "$root"/tests/data/*.mp3 "$root"/samples/*.mp3 "$out/corpus/"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -DMPFIX_STATIC \
  -I"$root/include" -I"$root" "$root/tests/fuzz/decode_fuzzer.cpp" \
  $(find "$root/audio" "$root/video" -name '*.cpp') -o "$out/decode_fuzzer"
"$out/decode_fuzzer" -max_total_time="$seconds" -max_len=20000 -rss_limit_mb=4096 "$out/corpus"
