#!/usr/bin/env bash
# Speed of the video primitives. Installs what it needs (Debian packages:
# libavcodec-dev, libyuv-dev, libbenchmark-dev, the 32-bit ARM cross tools and
# qemu-user), then prints
#   1. the x86-64 table: mpfix against FFmpeg's AVDCT inverse DCT, libyuv's
#      I420ToRGB565 and memcpy/memset (medians of interleaved rounds, ratios
#      from this one run);
#   2. 32-bit ARM instruction counts per block and per pixel for the plain
#      (arm) and NEON builds, counted under qemu-arm with armcount.c from
#      ../shared/tools (skipped when it is not there).
# Usage: scripts/bench_video.sh [rounds]   (default 7)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
rounds=${1:-7}

# The build, Google Benchmark, the ARM cross tools and qemu-user come with
# deps.sh; the two libraries measured against are added here.
"$root/scripts/deps.sh"
anchors=()
for pkg in libavcodec-dev libyuv-dev; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || anchors+=("$pkg")
done
if [ ${#anchors[@]} -gt 0 ]; then
  echo "installing: ${anchors[*]}"
  [ "$(id -u)" -ne 0 ] && sudo=sudo || sudo=
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${anchors[@]}"
fi

jobs=$(nproc 2>/dev/null || echo 2)

# ---- x86-64 ----
cmake -S "$root" -B "$root/build/bench" -DCMAKE_BUILD_TYPE=Release -DMPFIX_BUILD_TESTS=OFF \
  -DMPFIX_BUILD_TOOLS=OFF >/dev/null
cmake --build "$root/build/bench" -j "$jobs" --target video_bench >/dev/null
echo "== x86-64 ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'))"
"$root/build/bench/bench/video_bench" "$rounds"

# ---- 32-bit ARM instruction counts ----
armcount_src="$root/../shared/tools/armcount.c"
if [ ! -f "$armcount_src" ]; then
  echo; echo "ARM counts skipped: $armcount_src not found"
  exit 0
fi
cc -O2 -o "$root/build/armcount" "$armcount_src"

# Instructions executed by one run of the count program under qemu-arm.
count() {
  qemu-arm -d in_asm,exec,nochain -D /dev/fd/3 "$@" 3>&1 1>/dev/null 2>/dev/null | "$root/build/armcount" 0 |
    awk '/^total/ {print $2}'
}

blocks=2000 width=352 height=288 pictures=2
declare -A result
for config in arm neon; do
  toolchain="$root/cmake/arm-linux-gnueabihf.cmake"
  flags=()
  if [ "$config" = neon ]; then
    toolchain="$root/cmake/arm-linux-gnueabihf-neon.cmake"
    flags=(-mfpu=neon)
  fi
  dir="$root/build/bench-$config"
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DMPFIX_BUILD_TESTS=OFF -DMPFIX_BUILD_BENCH=OFF -DMPFIX_BUILD_TOOLS=OFF >/dev/null
  cmake --build "$dir" -j "$jobs" --target mpfix_core >/dev/null
  arm-linux-gnueabihf-g++ -std=c++20 -O2 "${flags[@]}" -static -DMPFIX_STATIC -I"$root/include" \
    "$root/bench/video_count.cpp" "$dir/libmpfix_core.a" -o "$dir/video_count"
  prog="$dir/video_count"
  none=$(count "$prog" idct-none $blocks)
  for kind in dense sparse; do
    n=$(count "$prog" idct-$kind $blocks)
    result[$config,$kind]=$(awk -v a="$n" -v b="$none" -v k=$blocks 'BEGIN {printf "%.0f", (a - b) / k}')
  done
  none=$(count "$prog" yuv-none $width $height $pictures)
  n=$(count "$prog" yuv $width $height $pictures)
  result[$config,yuv]=$(awk -v a="$n" -v b="$none" -v p=$((width * height * pictures)) 'BEGIN {printf "%.2f", (a - b) / p}')
done

echo
echo "== 32-bit ARM, instructions executed (qemu-arm; plain = arm build, NEON = neon build)"
echo
echo "| primitive | plain | NEON | plain / NEON |"
echo "|---|---|---|---|"
row() {
  awk -v l="$1" -v p="$2" -v n="$3" -v u="$4" 'BEGIN {printf "| %s | %s %s | %s %s | %.1f |\n", l, p, u, n, u, p / n}'
}
row "8x8 inverse DCT, dense blocks in -256..255" "${result[arm,dense]}" "${result[neon,dense]}" "/block"
row "8x8 inverse DCT, sparse blocks (DC + 5 low coefficients)" "${result[arm,sparse]}" "${result[neon,sparse]}" "/block"
row "YUV 4:2:0 -> RGB565, ${width}x${height}" "${result[arm,yuv]}" "${result[neon,yuv]}" "/pixel"
