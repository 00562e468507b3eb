#!/usr/bin/env bash
# The Windows build, tested under Wine: cross-builds the driver, km4410r-cmd.exe
# and the driver's exchange test with mingw-w64 (static, no DLLs beside them),
# maps COM1 of a scratch Wine prefix to a link of ours that points at the
# simulator's pty, and runs them against the simulator:
#   1. km4410r-cmd.exe against km4410r-sim: answers decoded, a second program
#      on the port refused as busy, no simulator behind the port: no device;
#      then registers on the network through Winsock: km4410r-sim --tcp (raw
#      TCP), ser2net (Telnet with COM port control, 0xFF in the frame), a
#      refused connection;
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
PACKAGES=(wine64 fonts-wine g++-mingw-w64-x86-64-posix ser2net)
# The history's checks: the SQLite file read back, a throwaway PostgreSQL, the
# report's PDF read.
[ "${KM_QT_WIN_SQL:-1}" = 1 ] && PACKAGES+=(sqlite3 postgresql-15 postgresql-client-15 poppler-utils)
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
# only_system_dlls 'GLOB|GLOB|...' EXE...: linked statically, each program
# imports nothing but the system DLLs that one of the globs names.
only_system_dlls() {
  local allowed exe dll glob ok; IFS='|' read -r -a allowed <<<"$1"; shift
  for exe in "$@"; do
    for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u); do
      ok=0
      for glob in "${allowed[@]}"; do [[ "$dll" == $glob ]] && ok=1; done
      [ "$ok" = 1 ] || fail "$exe needs $dll beside it"
    done
  done
}
only_system_dlls 'kernel32.dll|msvcrt.dll|advapi32.dll|user32.dll|ws2_32.dll|setupapi.dll' "$CMD_EXE" "$TEST_EXE"

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
XVFB_PID=""
SER2NET_PID=""
PG_DIR=""
cleanup() {
  [ -n "$PG_DIR" ] && bash "$ROOT/tests/history/pg_throwaway.sh" kill "$PG_DIR" >/dev/null 2>&1 && rm -rf "$PG_DIR"
  [ -n "$SER2NET_PID" ] && kill "$SER2NET_PID" 2>/dev/null
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
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

# The ports the system has (SERIALCOMM, with the device manager's names).
out=$(wine 60 "$CMD_EXE" --list-ports) || fail "km4410r-cmd.exe --list-ports: status $?: $out"
echo "$out" | sed 's/^/    /'
! grep -qv '^COM[0-9]' <<<"$out" || fail "--list-ports under Wine: a line that is no COM port: $out"

# Registers on the network, through Winsock.
step "km4410r-cmd.exe against km4410r-sim on tcp:// and behind ser2net on rfc2217://"
TCP_PORT=47311
RFC_PORT=47312
listening() {  # listening PORT: something listens on 127.0.0.1:PORT
  grep -qi "^ *[0-9]*: 0100007F:$(printf '%04X' "$1") [0-9A-F:]* 0A " /proc/net/tcp
}
start_sim "$SIM" --link "$PORT_LINK" --tcp "$TCP_PORT"
out=$(wine 60 "$CMD_EXE" --port "tcp://127.0.0.1:$TCP_PORT" 0x5A) || fail "0x5A on tcp://: status $?: $out"
grep -q '^  \[4\] "00101100"$' <<<"$out" || fail "the diagnostic answer on tcp:// decoded wrongly: $out"
stop_sim
set +e
err=$(wine 60 "$CMD_EXE" --port "tcp://127.0.0.1:$TCP_PORT" 0x5A 2>&1 >/dev/null); rc=$?
set -e
[ "$rc" -eq 1 ] && grep -q "cannot open tcp://127.0.0.1:$TCP_PORT: connection refused" <<<"$err" ||
  fail "tcp:// with nothing listening: status $rc, \"$err\""
start_sim "$SIM" --link "$PORT_LINK"
printf 'connection: &register\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
  "$RFC_PORT" "$(readlink -f "$PORT_LINK")" >"$WORK/ser2net.yaml"
ser2net -n -d -c "$WORK/ser2net.yaml" >"$WORK/ser2net.log" 2>&1 &
SER2NET_PID=$!
for _ in $(seq 100); do listening "$RFC_PORT" && break; sleep 0.05; done
# "я" is 0xFF in CP1251: doubled on the way to ser2net, one byte on the line.
out=$(wine 60 "$CMD_EXE" --port "rfc2217://127.0.0.1:$RFC_PORT" --no-translate 0x23 "я" 2>&1) ||
  { kill "$SER2NET_PID"; fail "0x23 я on rfc2217://: status $?: $out"; }
kill "$SER2NET_PID"; wait "$SER2NET_PID" 2>/dev/null || true
SER2NET_PID=""
stop_sim

# ---- 2. the driver's exchange test against km_wine_sim --------------------------------
step "km_win32_exchange_test.exe against km_wine_sim on COM1"
JOURNAL="$WORK/journal.txt"
start_sim "$WINE_SIM" --link "$PORT_LINK" --journal "$JOURNAL"
wine 120 "$TEST_EXE" 1 "Z:${JOURNAL//\//\\}" || fail "km_win32_exchange_test.exe (status $?)"
stop_sim

# ---- 3. the whole tool: km4410r.exe, its installer, the window ---------------------------
# Needs the Qt for Windows of scripts/qt-windows.sh (built once into its
# cache, about 40 minutes the first time). KM_WINE_APP=0 leaves this part out.
if [ "${KM_WINE_APP:-1}" != 0 ]; then
  step "Qt for Windows"
  QT_WIN="$(bash "$ROOT/scripts/qt-windows.sh" | tail -n 1)"
  [ -x "$QT_WIN/bin/qt-cmake" ] || fail "no Qt for Windows at $QT_WIN"
  km_install_packages nsis xvfb xauth imagemagick
  APP_BUILD="$ROOT/build-win64-app"
  step "cross-building km4410r.exe against the static Qt"
  "$QT_WIN/bin/qt-cmake" -S "$ROOT" -B "$APP_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >"$WORK/app-configure.log" 2>&1 ||
    { tail -n 30 "$WORK/app-configure.log" >&2; fail "configuring the Windows window build"; }
  cmake --build "$APP_BUILD" -j"$(nproc)" --target km4410r km4410r-cmd km4410r-windowshot km_win32_logfile_test >"$WORK/app-build.log" 2>&1 ||
    { grep -E "error|Error" "$WORK/app-build.log" | head -n 30 >&2; fail "building km4410r.exe"; }
  APP_EXE="$APP_BUILD/app/km4410r.exe"
  SHOT_EXE="$APP_BUILD/tools/km4410r-windowshot.exe"
  # Nothing beside them but what every Windows 10 has (the API sets included).
  only_system_dlls 'kernel32.dll|msvcrt.dll|advapi32.dll|user32.dll|gdi32.dll|shell32.dll|ole32.dll|oleaut32.dll|comdlg32.dll|imm32.dll|winmm.dll|ws2_32.dll|uxtheme.dll|dwmapi.dll|version.dll|netapi32.dll|userenv.dll|shlwapi.dll|uuid.dll|mpr.dll|setupapi.dll|secur32.dll|wtsapi32.dll|opengl32.dll|d3d9.dll|authz.dll|comctl32.dll|dxgi.dll|d3d11.dll|shcore.dll|api-ms-win-core-*.dll' \
    "$APP_EXE" "$SHOT_EXE"

  step "the log's safe save in its Windows form"
  mkdir -p "$WORK/logtest"
  wine 60 "$APP_BUILD/tests/win32/km_win32_logfile_test.exe" "Z:${WORK//\//\\}\\logtest" ||
    fail "km_win32_logfile_test.exe (status $?)"

  step "the installer and the zip (NSIS)"
  (cd "$APP_BUILD" && cpack -G "NSIS;ZIP" >"$WORK/cpack.log" 2>&1) || { tail -n 30 "$WORK/cpack.log" >&2; fail "cpack"; }
  SETUP="$APP_BUILD/km4410r-1.0.0-win64-setup.exe"
  ZIP="$APP_BUILD/km4410r-1.0.0-win64.zip"
  [ -f "$SETUP" ] && [ -f "$ZIP" ] || fail "no $SETUP or $ZIP"
  listing="$(python3 -m zipfile -l "$ZIP")"
  grep -q "bin/km4410r.exe" <<<"$listing" && grep -q "bin/km4410r-cmd.exe" <<<"$listing" ||
    fail "the zip lacks a program: $listing"

  # From here on a display (Xvfb) for the installer and the window: the
  # wineserver and its desktop start again with it.
  # Xvfb picks a free display and writes its number.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK/xvfb.display" >"$WORK/xvfb.log" 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do [ -s "$WORK/xvfb.display" ] && break; sleep 0.1; done
  [ -s "$WORK/xvfb.display" ] || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
  XVFB_DISPLAY=":$(head -n 1 "$WORK/xvfb.display")"
  timeout 60 "$WINESERVER" -k >/dev/null 2>&1 || true
  timeout 60 "$WINESERVER" -w || true
  export DISPLAY="$XVFB_DISPLAY"
  timeout 20 "$WINESERVER" -p60 >/dev/null 2>&1 || fail "the wineserver did not start again"

  step "silent install into the Wine prefix"
  wine 180 "$SETUP" /S || fail "the installer /S (status $?)"
  DEST="$WINEPREFIX/drive_c/Program Files/KM4410R"
  for f in bin/km4410r.exe bin/km4410r-cmd.exe Uninstall.exe; do
    [ -f "$DEST/$f" ] || fail "not installed: $DEST/$f"
  done
  LNK="$(find "$WINEPREFIX/drive_c" -name 'Тест регистратора расчетных операций KM4410R.lnk' | head -n 1)"
  [ -n "$LNK" ] || fail "no Start menu entry named Тест регистратора расчетных операций KM4410R"
  UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KM4410R'
  wine 60 reg query "$UNINSTALL_KEY" >"$WORK/uninstall-key.txt" 2>&1 ||
    fail "no uninstaller registered: $(cat "$WORK/uninstall-key.txt")"
  grep -q "UninstallString" "$WORK/uninstall-key.txt" || fail "the uninstaller's key has no UninstallString"

  step "the installed km4410r.exe runs the register test without a screen"
  start_sim "$SIM" --link "$PORT_LINK" --work-ms 1
  export KM4410R_TEST_TIMER_MS=300
  set +e
  wine 300 "$DEST/bin/km4410r.exe" --run-test --port COM1 --passes 1 --fiscal --pause-ms 0 \
    --log "Z:${WORK//\//\\}\\win.log" >"$WORK/win-out.txt" 2>"$WORK/win-err.txt"; rc=$?
  set -e
  stop_sim
  [ "$rc" -eq 0 ] || fail "km4410r.exe --run-test: status $rc: $(cat "$WORK/win-err.txt")"
  if [ "${KM_QT_WIN_SQL:-1}" = 1 ]; then
    # A Qt for Windows with Qt SQL: the run is in the history at %LOCALAPPDATA%\KM4410R,
    # and the program reads it back.
    HIST="$(find "$WINEPREFIX/drive_c/users" -path '*/KM4410R/history.sqlite' | head -n 1)"
    [ -n "$HIST" ] || fail "km4410r.exe --run-test kept no history under %LOCALAPPDATA%\\KM4410R"
    SERIAL="$(sqlite3 "$HIST" "select serial from runs where kind = 'run-test' and verdict = 'passed'")"
    [ -n "$SERIAL" ] || fail "the history of km4410r.exe has no passed run: $(sqlite3 "$HIST" 'select * from runs')"
    wine 60 "$DEST/bin/km4410r.exe" --history-show "$SERIAL" >"$WORK/win-show.txt" 2>&1 ||
      fail "km4410r.exe --history-show: $(cat "$WORK/win-show.txt")"
    grep -q "register $SERIAL" "$WORK/win-show.txt" || fail "km4410r.exe --history-show: $(cat "$WORK/win-show.txt")"
    step "the run kept in $(basename "$HIST") and shown again by km4410r.exe --history-show"

    # A line's shared server: a throwaway PostgreSQL 15 on loopback. The program
    # creates its schema, keeps a run there (through this PC's file first), reads
    # it back from the server and makes the register's report as a PDF.
    PG_DIR="$(mktemp -d /tmp/km-wine-pg.XXXXXX)"
    PG_PORT="$(bash "$ROOT/tests/history/pg_throwaway.sh" start "$PG_DIR")" ||
      fail "no throwaway PostgreSQL 15 cluster started"
    PG_URL="postgresql://postgres@127.0.0.1:$PG_PORT/postgres"
    wine 60 "$DEST/bin/km4410r.exe" --history-init "$PG_URL" >"$WORK/win-init.txt" 2>&1 ||
      fail "km4410r.exe --history-init $PG_URL: $(cat "$WORK/win-init.txt")"
    start_sim "$SIM" --link "$PORT_LINK" --work-ms 1
    set +e
    wine 300 "$DEST/bin/km4410r.exe" --run-test --port COM1 --passes 1 --pause-ms 0 --history "$PG_URL" \
      --log "Z:${WORK//\//\\}\\win-pg.log" >"$WORK/win-pg-out.txt" 2>"$WORK/win-pg-err.txt"; rc=$?
    set -e
    stop_sim
    [ "$rc" -eq 0 ] || fail "km4410r.exe --run-test --history $PG_URL: status $rc: $(cat "$WORK/win-pg-err.txt")"
    runs="$(psql -h 127.0.0.1 -p "$PG_PORT" -U postgres -At -c \
      "select count(*) from runs where serial = '$SERIAL' and verdict = 'passed'" postgres)"
    # This run and the one kept on this PC before it, sent with it.
    [ "$runs" = 2 ] || fail "the shared server holds $runs passed runs of $SERIAL, not 2: $(cat "$WORK/win-pg-err.txt")"
    wine 60 "$DEST/bin/km4410r.exe" --history-show "$SERIAL" --history "$PG_URL" >"$WORK/win-pg-show.txt" 2>&1 ||
      fail "km4410r.exe --history-show --history $PG_URL: $(cat "$WORK/win-pg-show.txt")"
    grep -q "register $SERIAL" "$WORK/win-pg-show.txt" ||
      fail "km4410r.exe --history-show --history $PG_URL: $(cat "$WORK/win-pg-show.txt")"
    wine 120 "$DEST/bin/km4410r.exe" --history-report "$SERIAL" "Z:${WORK//\//\\}\\report.pdf" \
      --history "$PG_URL" >"$WORK/win-report.txt" 2>&1 ||
      fail "km4410r.exe --history-report: $(cat "$WORK/win-report.txt")"
    bash "$ROOT/tests/history/pg_throwaway.sh" stop "$PG_DIR" && rm -rf "$PG_DIR" && PG_DIR=""
    pdffonts "$WORK/report.pdf" >"$WORK/report-fonts.txt" 2>&1 || fail "the report is no PDF: $(cat "$WORK/report-fonts.txt")"
    pdftotext -enc UTF-8 "$WORK/report.pdf" "$WORK/report.txt" || fail "pdftotext of the report"
    grep -q "История регистратора $SERIAL" "$WORK/report.txt" && grep -q "Ход часов" "$WORK/report.txt" ||
      fail "the report's text is not there: $(head -c 400 "$WORK/report.txt")"
    awk 'NR > 2 && $(NF - 4) != "yes" { bad = 1 } END { exit bad }' "$WORK/report-fonts.txt" ||
      fail "the report's fonts are not all embedded: $(cat "$WORK/report-fonts.txt")"
    step "the run on the shared server $PG_URL, shown by km4410r.exe and reported as a PDF"
  fi
  # The same run of the Linux program (its run kept in no history of the user's).
  PORT_LINUX="$WORK/com-linux"
  "$SIM" --link "$PORT_LINUX" --work-ms 1 >"$WORK/sim-linux.log" 2>&1 &
  LSIM=$!
  for _ in $(seq 100); do [ -e "$PORT_LINUX" ] && break; sleep 0.05; done
  set +e
  KM4410R_HISTORY=none timeout 300 "$BUILD/app/km4410r" --run-test --port "$PORT_LINUX" --passes 1 --fiscal --pause-ms 0 \
    --log "$WORK/linux.log" >/dev/null 2>"$WORK/linux-err.txt"; rc=$?
  set -e
  kill "$LSIM"; wait "$LSIM" 2>/dev/null || true
  unset KM4410R_TEST_TIMER_MS
  [ "$rc" -eq 0 ] || fail "the Linux km4410r --run-test: status $rc: $(cat "$WORK/linux-err.txt")"
  # Byte for byte but the dates: the PC's under "Дата тестирования:" (CP1251)
  # and the register's clock answers.
  undated() {
    awk 'BEGIN { RS = "\r\n"; ORS = "\r\n" } skip { skip = 0; next } /^\xc4\xe0\xf2\xe0 \xf2\xe5\xf1\xf2\xe8\xf0\xee\xe2\xe0\xed\xe8\xff:$/ { skip = 1 } /^[0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]$/ { print "<clock>"; next } { print }' "$1"
  }
  cmp <(LC_ALL=C undated "$WORK/win.log") <(LC_ALL=C undated "$WORK/linux.log") ||
    fail "the Windows log differs from the Linux log: $(LC_ALL=C diff <(undated "$WORK/win.log") <(undated "$WORK/linux.log") | head -n 10)"
  iconv -f CP1251 -t UTF-8 "$WORK/win.log" | grep -q "^Общее количество ошибок: 0"$'\r'"$" ||
    fail "the Windows log has no summary without errors"
  grep -c "" "$WORK/win.log" | { read -r n; [ "$n" -ge 80 ] || fail "the Windows log is short: $n lines"; }
  # And a register on the network (the simulator's raw TCP relay).
  start_sim "$SIM" --link "$PORT_LINK" --work-ms 1 --tcp "$TCP_PORT"
  export KM4410R_TEST_TIMER_MS=300
  set +e
  wine 300 "$DEST/bin/km4410r.exe" --run-test --port "tcp://127.0.0.1:$TCP_PORT" --passes 1 --pause-ms 0 \
    --log "Z:${WORK//\//\\}\\win-tcp.log" >/dev/null 2>"$WORK/win-tcp-err.txt"; rc=$?
  set -e
  unset KM4410R_TEST_TIMER_MS
  stop_sim
  [ "$rc" -eq 0 ] && iconv -f CP1251 -t UTF-8 "$WORK/win-tcp.log" | grep -q "^Общее количество ошибок: 0"$'\r'"$" ||
    fail "km4410r.exe --run-test on tcp://: status $rc: $(cat "$WORK/win-tcp-err.txt")"

  step "the window under Xvfb, connected to the simulator"
  start_sim "$SIM" --link "$PORT_LINK" --work-ms 1
  shoot() {  # shoot NAME: every page, connected to the simulator on COM1
    set +e
    wine 180 "$SHOT_EXE" COM1 "Z:${WORK//\//\\}\\shots-$1" >"$WORK/shot-$1.txt" 2>&1; rc=$?
    set -e
    [ "$rc" -eq 0 ] && [ -f "$WORK/shots-$1/main-window.png" ] ||
      fail "km4410r-windowshot.exe ($1): status $rc: $(cat "$WORK/shot-$1.txt")"
  }
  shoot 96dpi
  # 120 DPI as Windows sets it (125 %): the screen's LogPixels, with a new server.
  wine 60 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 120 /f >/dev/null
  wine 60 reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d 120 /f >/dev/null
  timeout 60 "$WINESERVER" -k >/dev/null 2>&1 || true
  timeout 60 "$WINESERVER" -w || true
  timeout 20 "$WINESERVER" -p60 >/dev/null 2>&1 || fail "the wineserver did not start again"
  shoot 120dpi
  [ "$(file -b "$WORK/shots-120dpi/main-window.png" | grep -o '[0-9]* x [0-9]*')" != \
    "$(file -b "$WORK/shots-96dpi/main-window.png" | grep -o '[0-9]* x [0-9]*')" ] ||
    fail "the window at 120 DPI is no larger than at 96 DPI"
  stop_sim
  mkdir -p "$BUILD/windows-screenshots"
  rm -rf "$BUILD/windows-screenshots"/*
  cp -r "$WORK/shots-96dpi" "$WORK/shots-120dpi" "$BUILD/windows-screenshots/"
  echo "wine-test: the window's screenshots are in $BUILD/windows-screenshots"

  step "silent uninstall"
  wine 120 "$DEST/Uninstall.exe" /S || fail "the uninstaller /S (status $?)"
  # The uninstaller runs again from a temporary copy: wait for it to finish.
  for _ in $(seq 300); do [ ! -e "$DEST" ] && break; sleep 0.2; done
  [ ! -e "$DEST" ] || fail "left behind: $(find "$DEST" | head -n 5)"
  [ -z "$(find "$WINEPREFIX/drive_c" -name 'Тест регистратора расчетных операций KM4410R.lnk')" ] ||
    fail "the Start menu entry is left behind"
  ! wine 60 reg query "$UNINSTALL_KEY" >/dev/null 2>&1 || fail "the uninstaller's registry key is left behind"
  timeout 60 "$WINESERVER" -k >/dev/null 2>&1 || true
  kill "$XVFB_PID" 2>/dev/null || true
  unset DISPLAY
fi

step "passed"
