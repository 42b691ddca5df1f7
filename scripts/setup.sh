#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the run need, when any is missing.
# Runs as root, or through sudo for an ordinary user. Safe to run again: it does nothing
# when everything is present.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev zlib1g-dev libicu-dev
  libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev
  xvfb xauth fonts-dejavu-core
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
elif command -v sudo >/dev/null 2>&1; then
  SUDO=(sudo)
else
  echo "setup: missing packages (${missing[*]}) and neither root nor sudo is available" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# A fresh machine may have no package lists yet; try without an update first.
if ! "${SUDO[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; then
  "${SUDO[@]}" apt-get update
  "${SUDO[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
