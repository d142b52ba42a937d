#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine, when missing.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

have_cmd cmake || need+=(cmake)
have_cmd g++ || need+=(g++)
have_cmd make || need+=(make)
have_cmd pkg-config || need+=(pkg-config)
have_pkg libgtest-dev || need+=(libgtest-dev)
have_pkg googletest || need+=(googletest)
have_pkg libbenchmark-dev || need+=(libbenchmark-dev)
if [ "${MPFIX_SKIP_ARM:-0}" != 1 ]; then
  have_cmd arm-linux-gnueabihf-g++ || need+=(g++-arm-linux-gnueabihf)
  have_cmd qemu-arm || need+=(qemu-user)
fi

if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
