#!/usr/bin/env bash
# The Windows build, tested under Wine: cross-builds the driver, km4410r-cmd.exe
# and the driver's exchange test with mingw-w64 (static, no DLLs beside them),
# maps COM1 of a scratch Wine prefix to a link of ours that points at the
# simulator's pty, and runs them against the simulator:
#   1. km4410r-cmd.exe against km4410r-sim: answers decoded, a second program
#      on the port refused as busy, no simulator behind the port: no device;
#   2. km_win32_exchange_test.exe against km_wine_sim: the frame on the line,
#      the answer decoded, a checksum error, a silent register after the
#      driver's 5 s wait, a busy port.
# Needs the native build (build/ or KM_BUILD_DIR) for the simulators; installs
# its own packages. Every step has a timeout; any failure ends the script with
# a message and a nonzero status.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KM_BUILD_DIR:-$ROOT/build}"
WIN_BUILD="$ROOT/build-win64"
WORK="$BUILD/wine-test"
START=$(date +%s)

fail() { echo "wine-test: FAIL: $*" >&2; exit 1; }
step() { echo "--- wine-test: $* ($(($(date +%s) - START)) s)"; }

# ---- packages ------------------------------------------------------------------
PACKAGES=(wine64 g++-mingw-w64-x86-64-posix)
source "$ROOT/scripts/packages.sh"
km_install_packages "${PACKAGES[@]}"
WINE64="$(command -v wine64 || echo /usr/lib/wine/wine64)"
WINESERVER="$(command -v wineserver || echo /usr/lib/wine/wineserver)"
[ -x "$WINE64" ] && [ -x "$WINESERVER" ] || fail "wine64 or wineserver not found after installing wine64"

# ---- the Windows build -------------------------------------------------------
step "cross-building with mingw-w64"
cmake -S "$ROOT" -B "$WIN_BUILD" -G Ninja -DKM_BUILD_APP=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$WIN_BUILD" -j"$(nproc)" --target km4410r-cmd km_win32_exchange_test
CMD_EXE="$WIN_BUILD/tools/km4410r-cmd.exe"
TEST_EXE="$WIN_BUILD/tests/win32/km_win32_exchange_test.exe"
for exe in "$CMD_EXE" "$TEST_EXE"; do
  # Linked statically: nothing but the system's own DLLs.
  dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
  for dll in $dlls; do
    case "$dll" in kernel32.dll|msvcrt.dll|advapi32.dll|user32.dll) ;; *) fail "$exe needs $dll";; esac
  done
done

# The native side: the simulator and the exchange test's register.
cmake --build "$BUILD" -j"$(nproc)" --target km4410r-sim km_wine_sim
SIM="$BUILD/sim/km4410r-sim"
WINE_SIM="$BUILD/tests/win32/km_wine_sim"

# ---- a scratch Wine prefix with COM1 mapped to our link ---------------------------
rm -rf "$WORK"
mkdir -p "$WORK"
export WINEPREFIX="$WORK/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
PORT_LINK="$WORK/com1"   # what COM1 stands for; each simulator links its pty here

SIM_PID=""
cleanup() {
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
  timeout 20 "$WINESERVER" -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"   # about 700 MB
}
trap cleanup EXIT

wine() {  # wine SECONDS PROGRAM ARGS...: a Windows program, ended after SECONDS;
  # its CR LF line ends become LF
  local seconds="$1"; shift
  timeout -k 5 "$seconds" "$WINE64" "$@" > >(tr -d '\r') 2> >(tr -d '\r' >&2)
}

step "creating the Wine prefix"
wine 180 wineboot --init >"$WORK/wineboot.log" 2>&1 || fail "wineboot --init (see $WORK/wineboot.log)"
wine 60 reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$PORT_LINK" /f >/dev/null ||
  fail "reg add of the COM1 mapping"
# Wine rewrites dosdevices/com1 from the key when it starts: let this server
# end, then keep a new one running for the steps below, a minute past the
# last program at most (what it prints when it is stopped at the end is a
# dump of its objects: not kept).
timeout 60 "$WINESERVER" -w || fail "the wineserver did not end"
timeout 20 "$WINESERVER" -p60 >/dev/null 2>&1 || fail "the wineserver did not start"
wine 60 cmd /c exit 0 >/dev/null 2>&1 || true
[ "$(readlink "$WINEPREFIX/dosdevices/com1")" = "$PORT_LINK" ] ||
  fail "COM1 is $(readlink "$WINEPREFIX/dosdevices/com1"), not $PORT_LINK"

start_sim() {  # start_sim PROGRAM ARGS...: runs it and waits for its link
  "$@" >"$WORK/sim.log" 2>&1 &
  SIM_PID=$!
  for _ in $(seq 100); do
    [ -e "$PORT_LINK" ] && return 0
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.05
  done
  cat "$WORK/sim.log" >&2
  fail "$1 did not link its pty at $PORT_LINK"
}
stop_sim() {
  kill "$SIM_PID" && wait "$SIM_PID" || true
  SIM_PID=""
}

# ---- 1. km4410r-cmd.exe against km4410r-sim ----------------------------------------
step "km4410r-cmd.exe against km4410r-sim on COM1"
start_sim "$SIM" --link "$PORT_LINK" --work-ms 5
out=$(wine 60 "$CMD_EXE" --port COM1 0x5A 1) || fail "km4410r-cmd.exe 0x5A 1: status $?: $out"
grep -q '^  \[4\] "00101100"$' <<<"$out" || fail "the diagnostic answer decoded wrongly: $out"
out=$(wine 60 "$CMD_EXE" --port COM1 0x4A W) || fail "km4410r-cmd.exe 0x4A W: status $?: $out"
grep -q '^command     0x4A ' <<<"$out" && grep -q '^flags       0x' <<<"$out" || fail "0x4A decoded wrongly: $out"
err=$(wine 60 "$CMD_EXE" --port COM1 --trace --hex 0x4A W 2>&1 >/dev/null) ||
  fail "km4410r-cmd.exe --trace --hex 0x4A W: status $?: $err"
grep -q '| →← | .. | 4A .*| ответ ' <<<"$err" && grep -q '^    → 01 25 .. 4A 57 05 ' <<<"$err" ||
  fail "the trace of 0x4A under Wine: $err"

# Another program holds COM1: refused as busy; once it is killed, COM1 works again.
timeout -k 5 60 "$WINE64" "$TEST_EXE" --hold 1 40 >"$WORK/hold.log" 2>&1 &
HOLD_PID=$!
for _ in $(seq 300); do grep -q holding "$WORK/hold.log" && break; sleep 0.1; done
grep -q "holding COM1" "$WORK/hold.log" || { kill "$HOLD_PID"; fail "the holder did not open COM1: $(cat "$WORK/hold.log")"; }
set +e
err=$(wine 60 "$CMD_EXE" --port COM1 0x4A W 2>&1 >/dev/null); rc=$?
set -e
kill "$HOLD_PID" 2>/dev/null; wait "$HOLD_PID" 2>/dev/null || true
[ "$rc" -eq 1 ] && grep -q "the port is in use by another program" <<<"$err" ||
  fail "COM1 held by another program: status $rc, \"$err\""
wine 60 "$CMD_EXE" --port COM1 0x4A W >/dev/null || fail "COM1 not free again after its holder was killed"
stop_sim

# Nothing behind the link any more: COM1 cannot be opened (Wine opens the
# dangling link and then finds no serial port there, Windows finds no device).
set +e
err=$(wine 60 "$CMD_EXE" --port COM1 0x4A W 2>&1 >/dev/null); rc=$?
set -e
[ "$rc" -eq 1 ] && grep -q "cannot open COM1 .*: \(no such device\|not a serial port\)$" <<<"$err" ||
  fail "COM1 without a simulator: status $rc, \"$err\""

# ---- 2. the driver's exchange test against km_wine_sim --------------------------------
step "km_win32_exchange_test.exe against km_wine_sim on COM1"
JOURNAL="$WORK/journal.txt"
start_sim "$WINE_SIM" --link "$PORT_LINK" --journal "$JOURNAL"
wine 120 "$TEST_EXE" 1 "Z:${JOURNAL//\//\\}" || fail "km_win32_exchange_test.exe (status $?)"
stop_sim

step "passed"
