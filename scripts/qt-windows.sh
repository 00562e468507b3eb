#!/usr/bin/env bash
# Builds a static Qt 6.4.2 (qtbase) for 64-bit Windows with mingw-w64 from
# Debian's own source package, once, into a cache outside the checkout:
#   ${KM_QT_WIN_PREFIX:-~/.cache/km4410r/qt-6.4.2-mingw64}
# Debian's Qt 6.4.2 gives the host tools (moc, uic, rcc: QT_HOST_PATH=/usr,
# their CMake files in Debian's multiarch folder).
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

check_prefix() {
  [ -f "$STAMP" ] &&
  [ -x "$PREFIX/bin/qt-cmake" ] &&
  [ -f "$PREFIX/lib/libQt6Widgets.a" ] &&
  [ -f "$PREFIX/lib/libQt6Gui.a" ] &&
  [ -f "$PREFIX/lib/libQt6Core.a" ] &&
  [ -f "$PREFIX/plugins/platforms/libqwindows.a" ] &&
  [ -f "$PREFIX/lib/cmake/Qt6/Qt6Config.cmake" ]
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

# ---- the source: Debian's qt6-base --------------------------------------------
mkdir -p "$WORK"
SRC="$(find "$WORK" -maxdepth 1 -type d -name 'qt6-base-6.4.2*' | head -n 1)"
if [ -z "$SRC" ] || [ ! -f "$SRC/CMakeLists.txt" ]; then
  if ! apt-get source --print-uris qt6-base >/dev/null 2>&1 ||
     [ -z "$(apt-get source --print-uris qt6-base 2>/dev/null | grep -m1 "'")" ]; then
    say "adding deb-src lines derived from this machine's apt sources"
    km_deb_src_lines | $SUDO tee /etc/apt/sources.list.d/km4410r-deb-src.sources >/dev/null
    [ -s /etc/apt/sources.list.d/km4410r-deb-src.sources ] ||
      fail "no Debian archive in this machine's apt sources to derive a deb-src line from"
    $SUDO apt-get update -qq
  fi
  say "fetching Debian's qt6-base source"
  rm -rf "$WORK"/qt6-base*
  (cd "$WORK" && apt-get source -qq qt6-base >/dev/null) || fail "apt-get source qt6-base"
  SRC="$(find "$WORK" -maxdepth 1 -type d -name 'qt6-base-6.4.2*' | head -n 1)"
  [ -n "$SRC" ] && [ -f "$SRC/CMakeLists.txt" ] || fail "no qt6-base 6.4.2 source in $WORK"
fi

# ---- configure and build ---------------------------------------------------------
TOOLCHAIN="$WORK/mingw-w64-qt.cmake"
# The project's toolchain without its -static link flag (Qt's own configure
# tests link shared); the project links its programs statically.
sed '/CMAKE_EXE_LINKER_FLAGS_INIT/d' "$ROOT/cmake/mingw-w64-x86_64.cmake" >"$TOOLCHAIN"

BUILD="$WORK/build"
if [ ! -f "$BUILD/build.ninja" ]; then
  say "configuring qtbase for x86_64-w64-mingw32"
  rm -rf "$BUILD"
  cmake -S "$SRC" -B "$BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)/cmake" \
    -DBUILD_SHARED_LIBS=OFF \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DINPUT_opengl=desktop \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_icu=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_direct2d=OFF -DFEATURE_directwrite=OFF -DFEATURE_directwrite3=OFF \
    -DFEATURE_tabletevent=OFF \
    >"$WORK/configure.log" 2>&1 || { tail -n 40 "$WORK/configure.log" >&2; fail "configure (see $WORK/configure.log)"; }
fi
say "building qtbase (about 40 minutes the first time)"
nice -n 5 cmake --build "$BUILD" -j"$(nproc)" >"$WORK/build.log" 2>&1 ||
  { tail -n 40 "$WORK/build.log" >&2; fail "build (see $WORK/build.log)"; }
say "installing into $PREFIX"
rm -rf "$PREFIX"
cmake --install "$BUILD" >"$WORK/install.log" 2>&1 || fail "install (see $WORK/install.log)"
touch "$STAMP"
check_prefix || fail "the installed prefix $PREFIX lacks a library or the windows platform plugin"
# The build tree is not needed any more (several GB); the source stays for a rebuild.
rm -rf "$BUILD"
say "Qt for Windows ready"
echo "$PREFIX"
