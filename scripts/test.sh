#!/usr/bin/env bash
# Sets up a fresh Debian machine, then builds and tests mpfix three ways:
#   release  native Release build with -Wall -Wextra -Werror, plus the install check
#   asan     native build with address and undefined-behaviour sanitizers (no recovery)
#   arm      32-bit ARM cross build without NEON (the plain ARM path), tests run under qemu-arm
#   neon     the same with NEON enabled, so the NEON kernel variants are built and checked
#   plain    native build of the plain reference kernels only (MPFIX_PLAIN_KERNELS)
# Usage: scripts/test.sh [release|asan|arm|neon|plain ...]   (default: all of them)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

configs=("$@")
[ ${#configs[@]} -eq 0 ] && configs=(release asan arm neon plain)
case " ${configs[*]} " in *" arm "*|*" neon "*) ;; *) export MPFIX_SKIP_ARM=1 ;; esac
"$root/scripts/deps.sh"

jobs=$(nproc 2>/dev/null || echo 2)

run_config() {
  local name=$1; shift
  local dir="$root/build/$name"
  echo "=== $name ==="
  cmake -S "$root" -B "$dir" -DMPFIX_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 900
}

for config in "${configs[@]}"; do
  case "$config" in
    release)
      run_config release -DCMAKE_BUILD_TYPE=Release
      "$root/scripts/check_install.sh" "$root/build/release"
      ;;
    asan)
      run_config asan -DCMAKE_BUILD_TYPE=Debug -DMPFIX_SANITIZE=ON -DMPFIX_BUILD_BENCH=OFF
      ;;
    arm)
      run_config arm -DCMAKE_BUILD_TYPE=Release -DMPFIX_BUILD_BENCH=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/arm-linux-gnueabihf.cmake"
      ;;
    neon)
      run_config neon -DCMAKE_BUILD_TYPE=Release -DMPFIX_BUILD_BENCH=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/arm-linux-gnueabihf-neon.cmake"
      ;;
    plain)
      run_config plain -DCMAKE_BUILD_TYPE=Release -DMPFIX_BUILD_BENCH=OFF -DMPFIX_PLAIN_KERNELS=ON
      ;;
    *) echo "unknown configuration: $config" >&2; exit 2 ;;
  esac
done
echo "all tests passed: ${configs[*]}"
