#!/usr/bin/env bash
# Sets up a fresh Debian machine, then builds and tests mpfix five ways:
#   release  native Release build with -Wall -Wextra -Werror, plus the install check
#   asan     native build with address and undefined-behaviour sanitizers (no recovery)
#   arm      32-bit ARM cross build without NEON (the plain ARM path), tests run under qemu-arm
#   neon     the same with NEON enabled, so the NEON kernel variants are built and checked
#   plain    native build of the plain reference kernels only (MPFIX_PLAIN_KERNELS)
# Usage: scripts/test.sh [release|asan|arm|neon|plain ...]   (default: all of them)
#
# Output stays short: one line per configuration with its counts, the reasons
# for skipped tests, and the full log of whatever failed. Every log is kept in
# build/<config>/test.log. The last line counts all configurations together.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

configs=("$@")
[ ${#configs[@]} -eq 0 ] && configs=(release asan arm neon plain)
for config in "${configs[@]}"; do
  case "$config" in
    release|asan|arm|neon|plain) ;;
    *) echo "unknown configuration: $config (release, asan, arm, neon or plain)" >&2; exit 2 ;;
  esac
done
case " ${configs[*]} " in *" arm "*|*" neon "*) ;; *) export MPFIX_SKIP_ARM=1 ;; esac
"$root/scripts/deps.sh"

jobs=$(nproc 2>/dev/null || echo 2)
total_passed=0 total_failed=0 total_skipped=0 broken=()
# A build, an install check or a test run that failed without failing a test
# counts as one failure, so the closing line never reads "0 failed" then.
step_failed() { broken+=("$1"); total_failed=$((total_failed + 1)); }
skip_reasons=""

# The reason GoogleTest prints under "Skipped" for each skipped test in a
# CTest JUnit report, one per line ("no reason given" when there is none).
skip_reasons_of() {
  awk '
    /<testcase /   { skipped = 0; reason = "" }
    /<skipped/     { skipped = 1 }
    skipped && prev ~ /: Skipped$/ && reason == "" { reason = $0 }
    /<\/testcase>/ { if (skipped) print (reason == "" ? "no reason given" : reason) }
    { prev = $0 }
  ' "$1" | sed 's/&quot;/"/g; s/&apos;/'"'"'/g; s/&lt;/</g; s/&gt;/>/g; s/&amp;/\&/g'
}

attribute() {  # attribute NAME FILE: the value of NAME="..." in the report's <testsuite> element
  sed -n "s/^[[:space:]]*$1=\"\([0-9]*\)\".*/\1/p" "$2" | head -1
}

run_config() {
  local name=$1; shift
  local dir="$root/build/$name"
  local log="$dir/test.log" report="$dir/ctest.xml"
  mkdir -p "$dir"
  : >"$log"
  if ! { cmake -S "$root" -B "$dir" -DMPFIX_WERROR=ON "$@" && cmake --build "$dir" -j "$jobs"; } >>"$log" 2>&1; then
    echo "$name: build FAILED (log: $log)"
    tail -n 60 "$log"
    step_failed "$name"
    return 0
  fi
  rm -f "$report"
  local status=0
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 900 --output-junit "$report" >>"$log" 2>&1 || status=$?
  if [ ! -s "$report" ]; then
    echo "$name: ctest wrote no report (log: $log)"
    tail -n 60 "$log"
    step_failed "$name"
    return 0
  fi
  local tests failed skipped passed
  tests=$(attribute tests "$report")
  failed=$(attribute failures "$report")
  skipped=$(attribute skipped "$report")
  passed=$((tests - failed - skipped))
  echo "$name: $tests tests, $passed passed, $failed failed, $skipped skipped"
  if [ "$skipped" -gt 0 ]; then
    local reasons
    reasons=$(skip_reasons_of "$report")
    printf '%s\n' "$reasons" | sort | uniq -c | sed 's/^ *\([0-9]*\) /  \1 skipped: /'
    skip_reasons+="$reasons"$'\n'
  fi
  if [ "$failed" -gt 0 ] || [ "$status" -ne 0 ] || [ "$tests" -eq 0 ]; then
    # The failing tests' output, as ctest printed it.
    grep -B2 -A40 -E '^\[  FAILED  \]|\*\*\*Failed|\*\*\*Timeout|\*\*\*Exception|Exit code' "$log" | head -n 200 || true
    sed -n '/The following tests FAILED/,$p' "$log"
    if [ "$failed" -gt 0 ]; then
      broken+=("$name")
    else
      if [ "$tests" -eq 0 ]; then echo "$name: no tests ran (log: $log)"; else echo "$name: ctest failed (status $status) though no test failed (log: $log)"; fi
      step_failed "$name"
    fi
  fi
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed))
  total_skipped=$((total_skipped + skipped))
}

for config in "${configs[@]}"; do
  case "$config" in
    release)
      run_config release -DCMAKE_BUILD_TYPE=Release
      if [[ " ${broken[*]} " != *" release "* ]]; then
        if ! "$root/scripts/check_install.sh" "$root/build/release" >>"$root/build/release/test.log" 2>&1; then
          echo "release: install check FAILED (log: $root/build/release/test.log)"
          tail -n 30 "$root/build/release/test.log"
          step_failed install
        else
          echo "release: install check passed (installed tool, find_package, pkg-config)"
        fi
      fi
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
  esac
done

# The closing line: the count across the configurations, and why tests were skipped.
why=""
if [ "$total_skipped" -gt 0 ]; then
  why=$(printf '%s' "$skip_reasons" | sed '/^$/d' | sort | uniq -c | sed 's/^ *\([0-9]*\) \(.*\)/\2 (\1 tests)/' |
        paste -sd ';' | sed 's/;/; /g')
  why=" (skipped in ${configs[*]}: $why)"
fi
if [ ${#broken[@]} -gt 0 ]; then
  echo "FAILED: ${broken[*]}"
fi
echo "total: $total_passed passed, $total_failed failed, $total_skipped skipped$why"
[ ${#broken[@]} -eq 0 ]
