#!/usr/bin/env bash
# Audio decoding speed of mpfix against libmpg123 and libmad (Debian packages, used as black boxes), on
# the same 44.1 kHz stereo VBR stream (lame -V2 of a synthetic music-like signal made here), decoded from
# memory to 16-bit PCM. Prints three tables:
#   1. x86-64 wall time: interleaved rounds, medians, ratios to mpfix (noisy on a shared machine:
#      compare the ratios of one run only);
#   2. x86-64 instructions of the decoding call (valgrind --tool=callgrind, exact);
#   3. 32-bit ARM instructions under qemu-arm on a 2 s excerpt (../shared/tools/armcount.c, or
#      tools/armcount.c when present), for mpfix plain and NEON builds and Debian's armhf libmad and
#      libmpg123; the cost of loading the file is measured apart and subtracted.
# Then the split of mpfix's x86 instructions by function.
# Usage: scripts/bench_audio.sh [SECONDS [ROUNDS]]   (defaults 30 and 11)
# Installs what it needs (apt-get, armhf multiarch). Work files go to build/bench/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
rounds=${2:-11}
work="$root/build/bench"
mkdir -p "$work"

# ---- Dependencies ----------------------------------------------------------------------------------
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
need=()
for p in cmake g++ gcc python3 lame valgrind libmpg123-dev libmad0-dev g++-arm-linux-gnueabihf qemu-user \
         libmad0:armhf libmpg123-dev:armhf; do
  have_pkg "$p" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  dpkg --print-foreign-architectures | grep -qx armhf || "${sudo_cmd[@]}" dpkg --add-architecture armhf
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# ---- Builds: the library three ways, the comparison program against each ----------------------------
build_core() {  # name, cmake arguments...
  local name=$1; shift
  cmake -S "$root" -B "$work/$name" -DCMAKE_BUILD_TYPE=Release -DMPFIX_BUILD_TESTS=OFF \
    -DMPFIX_BUILD_BENCH=OFF -DMPFIX_BUILD_TOOLS=OFF "$@" >/dev/null
  cmake --build "$work/$name" -j 2 --target mpfix_core >/dev/null
}
build_core x86
build_core arm -DCMAKE_TOOLCHAIN_FILE="$root/cmake/arm-linux-gnueabihf.cmake"
build_core neon -DCMAKE_TOOLCHAIN_FILE="$root/cmake/arm-linux-gnueabihf-neon.cmake"

flags=(-std=c++20 -O2 -I"$root/include" -DMPFIX_STATIC -DMPFIX_WITH_MPG123=1 -DMPFIX_WITH_MAD=1)
g++ "${flags[@]}" "$root/bench/compare_decoders.cpp" "$work/x86/libmpfix_core.a" -lmpg123 -lmad \
  -o "$work/compare_x86"
# libmad0-dev is installed for the host only: its header serves both (the program uses none of its
# arithmetic macros), and the armhf runtime libraries are linked by their paths.
armlib=/usr/lib/arm-linux-gnueabihf
mkdir -p "$work/arm-include"
ln -sf /usr/include/arm-linux-gnueabihf/mpg123.h /usr/include/arm-linux-gnueabihf/fmt123.h /usr/include/mad.h \
  "$work/arm-include/"
for name in arm neon; do
  extra=()
  [ "$name" = neon ] && extra=(-mfpu=neon)
  arm-linux-gnueabihf-g++ "${flags[@]}" "${extra[@]}" -Wno-psabi -I"$work/arm-include" \
    "$root/bench/compare_decoders.cpp" "$work/$name/libmpfix_core.a" "$armlib/libmpg123.so.0" \
    "$armlib/libmad.so.0" -Wl,-rpath,"$armlib" -o "$work/compare_$name"
done
armcount_src="$root/tools/armcount.c"
[ -f "$armcount_src" ] || armcount_src="$root/../shared/tools/armcount.c"
gcc -O2 -o "$work/armcount" "$armcount_src"

# ---- Streams -------------------------------------------------------------------------------------------
stream="$work/signal_${seconds}s.mp3"
excerpt="$work/signal_2s.mp3"
if [ ! -s "$stream" ]; then
  python3 "$root/bench/make_test_signal.py" "$work/signal.wav" "$seconds"
  lame --quiet -V2 "$work/signal.wav" "$stream"
  python3 "$root/bench/make_test_signal.py" "$work/signal_2s.wav" 2
  lame --quiet -V2 "$work/signal_2s.wav" "$excerpt"
  rm -f "$work/signal.wav" "$work/signal_2s.wav"
fi

# ---- 1. Wall time ----------------------------------------------------------------------------------------
echo
echo "## x86-64 wall time, $(basename "$stream")"
"$work/compare_x86" "$stream" "$rounds"

# ---- 2. x86 instructions -----------------------------------------------------------------------------
callgrind() {  # decoder -> instructions of its decoding call
  local out="$work/callgrind.$1"
  valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect="decode_$1" \
    "$work/compare_x86" "$stream" --only "$1" >/dev/null 2>&1
  awk '/^(summary|totals):/ {print $2; exit}' "$out"
}
declare -A x86
for d in mpfix mpg123 mad; do x86[$d]=$(callgrind "$d"); done

# ---- 3. ARM instructions -----------------------------------------------------------------------------
armcount() {  # binary decoder -> instructions
  qemu-arm -L /usr/arm-linux-gnueabihf -d in_asm,exec,nochain -D /dev/fd/3 "$work/compare_$1" "$excerpt" \
    --only "$2" 3>&1 1>/dev/null 2>/dev/null | "$work/armcount" 0 | awk '/^total/ {print $2}'
}
declare -A arm
for build in arm neon; do arm[$build.none]=$(armcount "$build" none); done
arm[mpfix_plain]=$(( $(armcount arm mpfix) - ${arm[arm.none]} ))
arm[mpfix_neon]=$(( $(armcount neon mpfix) - ${arm[neon.none]} ))
arm[mpg123]=$(( $(armcount arm mpg123) - ${arm[arm.none]} ))
arm[mad]=$(( $(armcount arm mad) - ${arm[arm.none]} ))

audio=$(python3 -c "print($seconds)")
m() { awk -v n="$1" 'BEGIN {printf "%.1f M", n / 1e6}'; }
per() { awk -v n="$1" -v s="$2" 'BEGIN {printf "%.2f M", n / 1e6 / s}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
echo
echo "## Instructions"
echo
echo "| decoder | x86-64 (callgrind, ${audio} s) | per audio second | / mpfix |"
echo "|---|---|---|---|"
for d in mpfix mpg123 mad; do
  echo "| $d | $(m "${x86[$d]}") | $(per "${x86[$d]}" "$audio") | $(ratio "${x86[$d]}" "${x86[mpfix]}") |"
done
echo
echo "| decoder | 32-bit ARM (qemu-arm, 2 s excerpt) | per audio second | / libmad |"
echo "|---|---|---|---|"
for d in mpfix_plain mpfix_neon mpg123 mad; do
  echo "| $d | $(m "${arm[$d]}") | $(per "${arm[$d]}" 2) | $(ratio "${arm[$d]}" "${arm[mad]}") |"
done

# ---- Profile split of mpfix (x86) -----------------------------------------------------------------------
echo
echo "## mpfix x86-64 instructions by function (inclusive of nothing: self cost)"
callgrind_annotate "$work/callgrind.mpfix" 2>/dev/null | awk '/^-+$/ {n++} n >= 2 && NF >= 2 && $1 ~ /^[0-9,]+$/' \
  | head -16
