#!/usr/bin/env bash
# Builds everything, starts the register simulator as COM1 and opens the tool.
# When the tool closes, the simulator stops and its COM1 link is removed.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
km_build build

SIM="$ROOT/build/sim/km4410r-sim"
"$SIM" --com 1 &
SIM_PID=$!
trap 'kill $SIM_PID 2>/dev/null; wait $SIM_PID 2>/dev/null' EXIT
sleep 0.5

echo "--- the simulator's diagnostic answer (km4410r-cmd --port COM1 0x5A 1) ---"
"$ROOT/build/tools/km4410r-cmd" --port COM1 0x5A 1 || true

APP="$ROOT/build/app/km4410r"
if [ -x "$APP" ]; then
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    "$APP"
  else
    echo "No display: starting the tool under Xvfb (xvfb-run); set DISPLAY to see the window."
    xvfb-run -a "$APP"
  fi
fi
