#!/usr/bin/env bash
# Fuzzes with libFuzzer (clang, address and undefined-behaviour sanitizers):
#   decode  any byte string through MP3_InitDecoder and MP3_DecodeFrame, seeded
#           with the first few frames of every test stream (and of the
#           conformance vectors in ../shared/vectors when they are there)
#   kernel  the five exported kernels with fuzzed arguments, checking that
#           nothing outside the allowed range is written
# Usage: scripts/fuzz.sh [seconds per target] [decode|kernel ...]   (default 60, both)
# Findings land in build/fuzz/; new coverage in build/fuzz/corpus-TARGET. With
# MERGE=1 the inputs that add coverage are merged into tests/corpus/TARGET,
# the small corpus that CTest replays.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(decode kernel)
if ! command -v clang++ >/dev/null; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends clang
fi
out="$root/build/fuzz"
mkdir -p "$out"

# A few frames of each stream, behind a control byte (0: whole reads; 7: pieces of 7 bytes).
make_decode_seeds() {
  local seeds="$out/seeds-decode"
  rm -rf "$seeds"
  mkdir -p "$seeds"
  local streams=("$root"/tests/data/*.mp3 "$root"/samples/*.mp3)
  [ -d "$root/../shared/vectors" ] && streams+=("$root"/../shared/vectors/*.bit)
  for stream in "${streams[@]}"; do
    local name
    name=$(basename "$stream")
    { printf '\000'; head -c 1300 "$stream"; } >"$seeds/$name.head"
    { printf '\007'; head -c 700 "$stream"; } >"$seeds/$name.pieces"
  done
  echo "$seeds"
}

for target in "${targets[@]}"; do
  case "$target" in decode|kernel) ;; *) echo "unknown target: $target" >&2; exit 2 ;; esac
  binary="$out/${target}_fuzzer"
  # Coverage and comparison tracing where the input steers the branches (the
  # frame driver and the main-data parsers for the decoder, everything for the
  # kernels); the arithmetic stages are sanitized but not traced, so that an
  # input costs a fraction of a millisecond.
  traced=$(find "$root/audio/frame" "$root/audio/parse" "$root/video" -name '*.cpp')
  plain=$(find "$root/audio" -name '*.cpp' -not -path '*/frame/*' -not -path '*/parse/*')
  [ "$target" = kernel ] && { traced=$(find "$root/audio" "$root/video" -name '*.cpp'); plain=""; }
  objects="$out/objects-$target"
  rm -rf "$objects"
  mkdir -p "$objects"
  flags=(-std=c++20 -O2 -g -fsanitize=address,undefined -fno-sanitize-recover=all -DMPFIX_STATIC
         -I"$root/include" -I"$root")
  for source in $traced; do
    clang++ "${flags[@]}" -fsanitize=fuzzer-no-link -c "$source" -o "$objects/$(echo "${source#"$root"/}" | tr / _).o"
  done
  for source in $plain; do
    clang++ "${flags[@]}" -c "$source" -o "$objects/$(echo "${source#"$root"/}" | tr / _).o"
  done
  clang++ "${flags[@]}" -fsanitize=fuzzer "$root/tests/fuzz/${target}_fuzzer.cpp" "$objects"/*.o -o "$binary"
  corpus="$out/corpus-$target"
  mkdir -p "$corpus"
  seeds=("$root/tests/corpus/$target")
  [ "$target" = decode ] && seeds+=("$(make_decode_seeds)")
  max_len=$([ "$target" = decode ] && echo 4097 || echo 20000)
  (cd "$out" && "$binary" -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=4096 \
    "$corpus" "${seeds[@]}")
  if [ "${MERGE:-0}" = 1 ]; then
    (cd "$out" && "$binary" -merge=1 -use_counters=0 -max_len="$max_len" "$root/tests/corpus/$target" "$corpus")
  fi
done
