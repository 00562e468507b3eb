#!/usr/bin/env bash
# Builds everything, starts the register simulator as COM1 with its window
# (paper tape, customer display, fault buttons) and opens the tool beside it.
# What the register prints is also appended to build/sim-paper.txt.
# When the tool closes, the simulator stops and its COM1 link is removed.
# Without a display, the simulator's window and the tool share one Xvfb.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
if [ "${KM_RUN_UNDER_XVFB:-}" != 1 ]; then
  km_build build
  if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$ROOT/build/app/km4410r" ]; then
    echo "No display: starting the simulator's window and the tool under Xvfb (xvfb-run); set DISPLAY to see them."
    KM_RUN_UNDER_XVFB=1 exec xvfb-run -a bash "${BASH_SOURCE[0]}"
  fi
fi

SIM="$ROOT/build/sim/km4410r-sim"
APP="$ROOT/build/app/km4410r"
PAPER="$ROOT/build/sim-paper.txt"
SIM_ARGS=(--com 1 --paper "$PAPER")
[ -x "$APP" ] && SIM_ARGS+=(--window)  # the window comes with the Qt build
"$SIM" "${SIM_ARGS[@]}" &
SIM_PID=$!
trap 'kill $SIM_PID 2>/dev/null; wait $SIM_PID 2>/dev/null' EXIT
sleep 0.5
echo "--- the simulator's paper tape is appended to $PAPER ---"

echo "--- the simulator's diagnostic answer (km4410r-cmd --port COM1 0x5A 1) ---"
"$ROOT/build/tools/km4410r-cmd" --port COM1 0x5A 1 || true

if [ -x "$APP" ]; then "$APP"; fi
