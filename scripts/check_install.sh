#!/usr/bin/env bash
# Installs a built tree into a scratch prefix, runs the installed tool from
# there (no LD_LIBRARY_PATH: it finds the library through its RUNPATH), and
# builds a small host against the prefix twice: through find_package(mpfix)
# and through pkg-config.
set -euo pipefail
build=$1
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null

tool="$work/prefix/bin/mpfix"
if grep -q "^MPFIX_BUILD_TOOLS:BOOL=ON" "$build/CMakeCache.txt"; then
  version=$(env -u LD_LIBRARY_PATH "$tool" --version | head -1)
  case "$version" in "mpfix "[0-9]*) ;; *) echo "installed mpfix --version printed: $version" >&2; exit 1 ;; esac
  env -u LD_LIBRARY_PATH "$tool" decode -q "$root/tests/data/mpeg1_44k_joint_cbr128.mp3" "$work/installed.wav"
  [ "$(stat -c %s "$work/installed.wav")" -eq $((44 + 78336 * 2)) ] || { echo "installed mpfix wrote a wrong WAV" >&2; exit 1; }
fi

cmake -S "$root/tests/install" -B "$work/host" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/host" >/dev/null
"$work/host/install_host"

pc_dir=$(dirname "$(find "$work/prefix" -name mpfix.pc | head -1)")
export PKG_CONFIG_PATH="$pc_dir"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror "$root/tests/install/install_host.c" -o "$work/pc_host" $(pkg-config --cflags --libs mpfix)
LD_LIBRARY_PATH="$(pkg-config --variable=libdir mpfix)" "$work/pc_host"
echo "install check passed (installed tool, find_package and pkg-config)"
