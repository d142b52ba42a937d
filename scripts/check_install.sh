#!/usr/bin/env bash
# Installs a built tree into a scratch prefix and builds a small host against it
# twice: through find_package(mpfix) and through pkg-config.
set -euo pipefail
build=$1
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null

cmake -S "$root/tests/install" -B "$work/host" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/host" >/dev/null
"$work/host/install_host"

pc_dir=$(dirname "$(find "$work/prefix" -name mpfix.pc | head -1)")
export PKG_CONFIG_PATH="$pc_dir"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror "$root/tests/install/install_host.c" -o "$work/pc_host" $(pkg-config --cflags --libs mpfix)
LD_LIBRARY_PATH="$(pkg-config --variable=libdir mpfix)" "$work/pc_host"
echo "install check passed (find_package and pkg-config)"
