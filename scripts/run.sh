#!/usr/bin/env bash
# The run command: installs what is missing, builds, prepares the program's folder
# and starts what the build has produced so far.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build="${HALVARIN_BUILD_DIR:-$root/build}"
bin="$build/bin"

# One length-prefixed text field of App.cfg: a length byte, the text, zeros up to the
# field's capacity (ASCII texts only).
settings_text() {
  local text="$1" capacity="$2"
  printf "\\$(printf '%03o' "${#text}")"
  printf '%s' "$text"
  head -c $((capacity - ${#text})) /dev/zero
}

# Settings of a sample workshop, 274 bytes.
write_sample_settings() {
  {
    settings_text "Auto Service" 30
    settings_text "030123" 12
    settings_text "Germany" 20
    settings_text "Berlin" 20
    settings_text "Main Street 1" 30
    settings_text "4711001" 10
    settings_text "service@example.com" 40
    settings_text "www.example.com" 100
    # VerifyPartnerData, RebootAfterClean, RebootAfterEach, RebootAfterLast
    printf '\000\001\000\001'
  } >"$1"
}

if [ -x "$bin/halvarin" ]; then
  # The program's folder: without a database, a demo store with its settings and a
  # simulated car that is one of its vehicles; otherwise a simulated car for libapi32.so
  # and the settings, each only when absent.
  [ -f "$bin/Data.hdb" ] || "$bin/hdbtool" demo "$bin" --force
  [ -f "$bin/ediabas-sim.ini" ] || cp "$root/ediabas-sim/sample-car.ini" "$bin/ediabas-sim.ini"
  [ -f "$bin/App.cfg" ] || write_sample_settings "$bin/App.cfg"
  cd "$bin"
  if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec ./halvarin
  fi
  picture="$build/halvarin-window.png"
  echo "run: no display (DISPLAY and WAYLAND_DISPLAY are not set); starting halvarin under Xvfb to take a screenshot"
  env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1024x768x24" ./halvarin-screenshot "$picture" ./halvarin
  echo "run: screenshot of the window saved as $picture"
  exit 0
fi
echo "run: the program is not part of this build yet; built: $(ls "$bin" | tr '\n' ' ')"
