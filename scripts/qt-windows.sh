#!/usr/bin/env bash
# Builds a static Qt 6.4.2 (qtbase) for 64-bit Windows with mingw-w64 from
# Debian's own source package, once, into a cache outside the checkout:
#   ${KM_QT_WIN_PREFIX:-~/.cache/km4410r/qt-6.4.2-mingw64}
# Debian's Qt 6.4.2 gives the host tools (moc, uic, rcc: QT_HOST_PATH=/usr,
# their CMake files in Debian's multiarch folder).
# Qt SQL comes too, with two drivers, both static plugins: SQLite (Debian's
# sqlite3, built here: Debian's qtbase source has no copy of it) and
# PostgreSQL (a static libpq from Debian's postgresql-15, without OpenSSL).
# They are built once into the work folder (scripts/qt-windows-sql.sh) and
# copied into the prefix, where a program's find_package(Qt6) finds them. A
# cached Qt without them is built afresh. KM_QT_WIN_SQL=0 leaves Qt SQL out
# (a Windows build that keeps no history).
# A later run finds the finished prefix, checks it and returns in seconds.
# The first build takes about 40 minutes of both cores of a 2-core machine.
# Prints the prefix as its last line.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PREFIX="${KM_QT_WIN_PREFIX:-$HOME/.cache/km4410r/qt-6.4.2-mingw64}"
WORK="${KM_QT_WIN_WORK:-$(dirname "$PREFIX")/qt-6.4.2-mingw64-work}"
STAMP="$PREFIX/.km4410r-complete"
START=$(date +%s)
say() { echo "--- qt-windows: $* ($(($(date +%s) - START)) s)"; }
fail() { echo "qt-windows: FAIL: $*" >&2; exit 1; }

SQL="${KM_QT_WIN_SQL:-1}"
check_sql() {
  [ "$SQL" != 1 ] || {
    [ -f "$PREFIX/lib/libQt6Sql.a" ] &&
    [ -f "$PREFIX/plugins/sqldrivers/libqsqlite.a" ] &&
    [ -f "$PREFIX/plugins/sqldrivers/libqsqlpsql.a" ] &&
    [ -f "$PREFIX/lib/libsqlite3.a" ] &&
    [ -f "$PREFIX/lib/libpq.a" ]
  }
}

check_prefix() {
  [ -f "$STAMP" ] &&
  [ -x "$PREFIX/bin/qt-cmake" ] &&
  [ -f "$PREFIX/lib/libQt6Widgets.a" ] &&
  [ -f "$PREFIX/lib/libQt6Gui.a" ] &&
  [ -f "$PREFIX/lib/libQt6Core.a" ] &&
  [ -f "$PREFIX/plugins/platforms/libqwindows.a" ] &&
  [ -f "$PREFIX/lib/cmake/Qt6/Qt6Config.cmake" ] &&
  check_sql
}

if check_prefix; then
  say "cached Qt for Windows found"
  echo "$PREFIX"
  exit 0
fi

source "$ROOT/scripts/packages.sh"
km_install_packages g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools \
  ninja-build cmake dpkg-dev xz-utils

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# ---- the sources: Debian's qt6-base, sqlite3 and postgresql-15 ------------------
source "$ROOT/scripts/qt-windows-sql.sh"
mkdir -p "$WORK"
SRC="$(km_deb_source qt6-base "$WORK" 'qt6-base-6.4.2*')"
[ -f "$SRC/CMakeLists.txt" ] || fail "no qt6-base 6.4.2 source in $WORK"
DEPS="$WORK/sql-deps"
if [ "$SQL" = 1 ]; then
  km_win_sql_find_module "$SRC"
  km_win_sqlite "$DEPS" "$WORK"
  km_win_libpq "$DEPS" "$WORK"
  SQL_OPTIONS=(
    -DFEATURE_sql=ON -DFEATURE_sql_sqlite=ON -DFEATURE_system_sqlite=ON -DFEATURE_sql_psql=ON
    -DFEATURE_sql_odbc=OFF -DFEATURE_sql_mysql=OFF -DFEATURE_sql_db2=OFF -DFEATURE_sql_oci=OFF
    -DFEATURE_sql_ibase=OFF
    -DSQLite3_INCLUDE_DIR="$DEPS/include" -DSQLite3_LIBRARY="$DEPS/lib/libsqlite3.a"
    -DPostgreSQL_INCLUDE_DIR="$DEPS/include" -DPostgreSQL_LIBRARY="$DEPS/lib/libpq.a"
  )
else
  SQL_OPTIONS=(-DFEATURE_sql=OFF)
fi

# ---- configure and build ---------------------------------------------------------
TOOLCHAIN="$WORK/mingw-w64-qt.cmake"
# The project's toolchain without its -static link flag (Qt's own configure
# tests link shared); the project links its programs statically.
sed '/CMAKE_EXE_LINKER_FLAGS_INIT/d' "$ROOT/cmake/mingw-w64-x86_64.cmake" >"$TOOLCHAIN"

BUILD="$WORK/build"
CONFIGURE=(
  -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN"
  -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX="$PREFIX"
  -DQT_HOST_PATH=/usr
  -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)/cmake"
  -DBUILD_SHARED_LIBS=OFF
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
  -DINPUT_opengl=desktop
  "${SQL_OPTIONS[@]}"
  -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_vulkan=OFF
  -DFEATURE_icu=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
  -DFEATURE_direct2d=OFF -DFEATURE_directwrite=OFF -DFEATURE_directwrite3=OFF
  -DFEATURE_tabletevent=OFF
)
# A build tree left by a run with other options (one without SQL) is
# configured afresh.
if [ ! -f "$BUILD/build.ninja" ] ||
   [ "$(cat "$BUILD/.km4410r-configure" 2>/dev/null)" != "${CONFIGURE[*]}" ]; then
  say "configuring qtbase for x86_64-w64-mingw32"
  rm -rf "$BUILD"
  cmake -S "$SRC" -B "$BUILD" -G Ninja "${CONFIGURE[@]}" >"$WORK/configure.log" 2>&1 ||
    { tail -n 40 "$WORK/configure.log" >&2; fail "configure (see $WORK/configure.log)"; }
  echo "${CONFIGURE[*]}" >"$BUILD/.km4410r-configure"
fi
say "building qtbase (about 40 minutes the first time)"
nice -n 5 cmake --build "$BUILD" -j"$(nproc)" >"$WORK/build.log" 2>&1 ||
  { tail -n 40 "$WORK/build.log" >&2; fail "build (see $WORK/build.log)"; }
say "installing into $PREFIX"
rm -rf "$PREFIX"
cmake --install "$BUILD" >"$WORK/install.log" 2>&1 || fail "install (see $WORK/install.log)"
# The drivers' libraries beside Qt's: a program's find_package(Qt6) looks
# for SQLite3 and PostgreSQL again, in the prefix.
if [ "$SQL" = 1 ]; then
  cp -r "$DEPS/include/." "$PREFIX/include/"
  cp "$DEPS/lib/libsqlite3.a" "$DEPS/lib/libpq.a" "$PREFIX/lib/"
fi
touch "$STAMP"
check_prefix || fail "the installed prefix $PREFIX lacks a library or a plugin (windows, sqlite, psql)"
# The build tree is not needed any more (several GB); the source stays for a rebuild.
rm -rf "$BUILD"
say "Qt for Windows ready"
echo "$PREFIX"
