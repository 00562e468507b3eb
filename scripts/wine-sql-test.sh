#!/usr/bin/env bash
# Qt SQL in the Windows build, under Wine: cross-builds tests/windows/sql
# (km_sql_check.exe, Qt SQL with the static SQLite and PostgreSQL drivers)
# against the Qt for Windows of scripts/qt-windows.sh, starts a throwaway
# PostgreSQL 15 cluster on a loopback port and runs the program: it writes a
# row with a bound Cyrillic text into a new SQLite file and into the cluster
# and reads it back. The rows are then read on the Linux side (sqlite3, psql)
# and must hold the text byte for byte. Installs its own packages; any
# failure ends the script with a message and a nonzero status.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build-win64-sql"
WORK="$(mktemp -d /tmp/km-wine-sql.XXXXXX)"
PG_PORT="${KM_PG_PORT:-47331}"
START=$(date +%s)
fail() { echo "wine-sql-test: FAIL: $*" >&2; exit 1; }
step() { echo "--- wine-sql-test: $* ($(($(date +%s) - START)) s)"; }

source "$ROOT/scripts/packages.sh"
km_install_packages wine64 postgresql-15 sqlite3 g++-mingw-w64-x86-64-posix cmake ninja-build
WINE64="$(command -v wine64 || echo /usr/lib/wine/wine64)"
WINESERVER="$(command -v wineserver || echo /usr/lib/wine/wineserver)"
PG_BIN=/usr/lib/postgresql/15/bin

step "Qt for Windows"
QT_WIN="$(KM_QT_WIN_SQL=1 bash "$ROOT/scripts/qt-windows.sh" | tail -n 1)"
[ -x "$QT_WIN/bin/qt-cmake" ] || fail "no Qt for Windows at $QT_WIN"

step "cross-building km_sql_check.exe"
"$QT_WIN/bin/qt-cmake" -S "$ROOT/tests/windows/sql" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake" \
  -DQT_CHAINLOAD_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >"$WORK/configure.log" 2>&1 ||
  { tail -n 30 "$WORK/configure.log" >&2; fail "configuring tests/windows/sql"; }
cmake --build "$BUILD" >"$WORK/build.log" 2>&1 || { tail -n 30 "$WORK/build.log" >&2; fail "building km_sql_check.exe"; }
EXE="$BUILD/km_sql_check.exe"
dlls="$(x86_64-w64-mingw32-objdump -p "$EXE" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')"
echo "    $(basename "$EXE"): $(du -k "$EXE" | cut -f1) KB, imports $dlls"
# Linked statically: nothing beside it but what every Windows has.
for dll in $dlls; do
  case "$dll" in
    kernel32.dll|msvcrt.dll|advapi32.dll|user32.dll|shell32.dll|ole32.dll|ws2_32.dll|secur32.dll) ;;
    netapi32.dll|userenv.dll|version.dll|winmm.dll|mpr.dll|authz.dll|api-ms-win-core-*.dll) ;;
    *) fail "km_sql_check.exe needs $dll beside it" ;;
  esac
done

PG_PID_DIR=""
cleanup() {
  [ -n "$PG_PID_DIR" ] && su postgres -c "$PG_BIN/pg_ctl -D $PG_PID_DIR -m immediate stop" >/dev/null 2>&1
  timeout 20 "$WINESERVER" -k >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

step "a throwaway PostgreSQL 15 cluster on 127.0.0.1:$PG_PORT"
PG_DIR="$WORK/pg"
mkdir -p "$PG_DIR" && chown postgres "$PG_DIR" && chmod 700 "$PG_DIR" && chmod 755 "$WORK"
su postgres -c "$PG_BIN/initdb -D $PG_DIR -A trust -E UTF8 --locale=C.UTF-8" >"$WORK/initdb.log" 2>&1 ||
  fail "initdb: $(tail -n 5 "$WORK/initdb.log")"
su postgres -c "$PG_BIN/pg_ctl -D $PG_DIR -w -l $PG_DIR/log \
  -o '-p $PG_PORT -k $PG_DIR -c listen_addresses=127.0.0.1 -c fsync=off' start" >/dev/null ||
  fail "pg_ctl start: $(tail -n 5 "$PG_DIR/log")"
PG_PID_DIR="$PG_DIR"

step "km_sql_check.exe under Wine"
export WINEPREFIX="$WORK/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
timeout -k 5 180 "$WINE64" wineboot --init >"$WORK/wineboot.log" 2>&1 || fail "wineboot --init"
set +e
out="$(timeout -k 5 120 "$WINE64" "$EXE" "Z:${WORK//\//\\}\\check.sqlite" 127.0.0.1 "$PG_PORT" postgres postgres 2>&1 | tr -d '\r')"
rc=$?
set -e
echo "$out" | sed 's/^/    /'
[ "$rc" -eq 0 ] || fail "km_sql_check.exe: status $rc"

step "the rows read on the Linux side"
text='Тест связи: «ёмкость» '\''Ж'\'' "Щ"; DROP TABLE km_check; --'
lite="$(sqlite3 "$WORK/check.sqlite" 'SELECT name FROM km_check')"
pg="$(psql -h 127.0.0.1 -p "$PG_PORT" -U postgres -d postgres -Atc 'SELECT name FROM km_check')"
echo "    sqlite3: $lite"
echo "    psql:    $pg"
[ "$lite" = "$text" ] || fail "the SQLite file holds \"$lite\", not \"$text\""
[ "$pg" = "$text" ] || fail "PostgreSQL holds \"$pg\", not \"$text\""
step "passed"
