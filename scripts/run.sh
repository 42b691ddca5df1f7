#!/usr/bin/env bash
# The run command: installs what is missing, builds, prepares the program's folder
# and starts what the build has produced so far.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build="${HALVARIN_BUILD_DIR:-$root/build}"
bin="$build/bin"

if [ -x "$bin/halvarin" ]; then
  cd "$bin"
  exec ./halvarin
fi
echo "run: the program is not part of this build yet; built: $(ls "$bin" | tr '\n' ' ')"
