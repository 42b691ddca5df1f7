#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs every test through CTest.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build="${HALVARIN_BUILD_DIR:-$root/build}"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" "$@"

# The tests that need no window once more, built with AddressSanitizer and
# UndefinedBehaviorSanitizer (HALVARIN_NO_SANITIZE=1 skips this pass).
if [ -z "${HALVARIN_NO_SANITIZE:-}" ]; then
  sanitize="${HALVARIN_SANITIZE_BUILD_DIR:-$build-sanitize}"
  if [ ! -f "$sanitize/build.ninja" ]; then
    cmake -S "$root" -B "$sanitize" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DHALVARIN_SANITIZE=ON -DHALVARIN_ENGINE_ONLY=ON
  fi
  cmake --build "$sanitize" -j "$(nproc)"
  cd "$sanitize"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j "$(nproc)" "$@"
fi
