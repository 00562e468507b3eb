#!/usr/bin/env bash
# Installing and the Debian package, from the native build (build/ or
# KM_BUILD_DIR): `cmake --install` into a scratch prefix; `cpack -G DEB`; the
# package's control data and whether apt would resolve its dependencies; the
# package unpacked into a scratch root, its menu entry validated, km4410r-cmd
# --help, the simulator with km4410r-cmd against it and the window (offscreen)
# run from the unpacked paths. In CI (CI=true, as root on a throwaway machine)
# the package is also installed with apt, run from /usr/bin, removed with
# dpkg -r, and nothing of it may be left.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KM_BUILD_DIR:-$ROOT/build}"
WORK="$BUILD/package-test"
START=$(date +%s)

fail() { echo "package-test: FAIL: $*" >&2; exit 1; }
step() { echo "--- package-test: $* ($(($(date +%s) - START)) s)"; }

source "$ROOT/scripts/packages.sh"
km_install_packages desktop-file-utils

rm -rf "$WORK"
mkdir -p "$WORK"
SIM_PID=""
cleanup() {
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
  rm -rf "$WORK/prefix" "$WORK/root" "$WORK/_CPack_Packages"
}
trap cleanup EXIT

PROGRAMS=(km4410r km4410r-sim km4410r-cmd)
ENTRY=share/applications/km4410r.desktop
ICONS=(share/icons/hicolor/scalable/apps/km4410r.svg share/icons/hicolor/48x48/apps/km4410r.png)

# Runs the installed programs under PREFIX: km4410r-cmd --help, the simulator
# with km4410r-cmd against it, the window offscreen for two seconds; checks
# the menu entry and that its Exec and Icon are there.
check_installed() {  # check_installed PREFIX
  local p="$1"
  for f in "${PROGRAMS[@]/#/bin/}" "$ENTRY" "${ICONS[@]}"; do
    [ -e "$p/$f" ] || fail "$p/$f is missing"
  done
  desktop-file-validate "$p/$ENTRY" || fail "the menu entry $p/$ENTRY is not valid"
  grep -qx 'Name=Тест регистратора расчетных операций KM4410R' "$p/$ENTRY" || fail "the menu entry's name"
  grep -qx 'Exec=km4410r' "$p/$ENTRY" && grep -qx 'Icon=km4410r' "$p/$ENTRY" || fail "the menu entry's Exec or Icon"

  "$p/bin/km4410r-cmd" --help | grep -q '^usage: km4410r-cmd' || fail "$p/bin/km4410r-cmd --help"

  local link="$WORK/com1"
  rm -f "$link"
  "$p/bin/km4410r-sim" --link "$link" --work-ms 5 >"$WORK/sim.log" 2>&1 &
  SIM_PID=$!
  for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.05; done
  [ -e "$link" ] || fail "$p/bin/km4410r-sim did not link its pty: $(cat "$WORK/sim.log")"
  local out
  out=$(timeout 30 "$p/bin/km4410r-cmd" --port "$link" 0x5A 1) || fail "km4410r-cmd against the simulator: $out"
  grep -q '^  \[4\] "00101100"$' <<<"$out" || fail "the simulator's diagnostic answer: $out"
  kill "$SIM_PID"
  wait "$SIM_PID" || true
  SIM_PID=""
  [ ! -e "$link" ] || fail "the simulator left its link behind"

  # The window starts with the libraries the package depends on and stays up.
  local runtime="$WORK/xdg-runtime"
  mkdir -p -m 0700 "$runtime"
  set +e
  QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" timeout 2 "$p/bin/km4410r" >"$WORK/window.log" 2>&1
  local rc=$?
  set -e
  [ "$rc" -eq 124 ] || fail "$p/bin/km4410r ended with status $rc before it was stopped: $(cat "$WORK/window.log")"
}

# ---- cmake --install ------------------------------------------------------------------
step "cmake --install into a scratch prefix"
cmake --build "$BUILD" -j"$(nproc)" --target "${PROGRAMS[@]}"
cmake --install "$BUILD" --prefix "$WORK/prefix" >/dev/null
check_installed "$WORK/prefix"

# ---- the package ------------------------------------------------------------------------
step "cpack -G DEB"
(cd "$BUILD" && cpack -G DEB -B "$WORK" >"$WORK/cpack.log") || { cat "$WORK/cpack.log"; fail "cpack -G DEB"; }
DEBS=("$WORK"/km4410r_*.deb)
[ ${#DEBS[@]} -eq 1 ] && [ -f "${DEBS[0]}" ] || fail "cpack made no single km4410r_*.deb"
DEB="${DEBS[0]}"
echo "package: $(basename "$DEB"), $(stat -c %s "$DEB") bytes"
dpkg-deb -f "$DEB"
[ "$(dpkg-deb -f "$DEB" Package)" = km4410r ] || fail "package name"
depends=$(dpkg-deb -f "$DEB" Depends)
for d in libqt6widgets6 libqt6gui6 qt6-qpa-plugins libc6; do
  grep -q "\b$d\b" <<<"$depends" || fail "Depends lacks $d: $depends"
done
[ -n "$(dpkg-deb -f "$DEB" Maintainer)" ] || fail "no Maintainer"
# Every file under /usr, and nothing of the build (tests, benchmarks, tools for screenshots).
files=$(dpkg-deb -c "$DEB" | awk '{print $6}' | grep -v '/$')
unexpected=$(grep -v -e '^\./usr/bin/km4410r\(-sim\|-cmd\)\?$' -e '^\./usr/share/applications/km4410r\.desktop$' \
  -e '^\./usr/share/icons/hicolor/.*/apps/km4410r\.\(svg\|png\)$' <<<"$files" || true)
[ -z "$unexpected" ] || fail "unexpected files in the package: $unexpected"

# apt would install it with what it depends on (as root: apt-get --simulate
# reads the archive's lists; run apt-get update first on a machine without).
sim_out=$(apt-get install --simulate --no-install-recommends "$DEB" 2>&1) ||
  fail "apt-get install --simulate $DEB: $sim_out"
grep -q '^Inst km4410r ' <<<"$sim_out" || fail "apt would not install km4410r: $sim_out"

step "the package unpacked into a scratch root"
dpkg-deb -x "$DEB" "$WORK/root"
check_installed "$WORK/root/usr"

# ---- installed for real, then removed (CI only: it changes the machine) -----------------------
if [ "${CI:-}" = true ] && [ "$(id -u)" -eq 0 ]; then
  step "apt-get install, run from /usr/bin, dpkg -r"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$DEB" >"$WORK/apt.log" 2>&1 ||
    fail "apt-get install $DEB: $(cat "$WORK/apt.log")"
  [ "$(command -v km4410r-cmd)" = /usr/bin/km4410r-cmd ] || fail "km4410r-cmd is not on the PATH"
  check_installed /usr
  dpkg -r km4410r >/dev/null || fail "dpkg -r km4410r"
  dpkg-query -W -f='${Status}' km4410r 2>/dev/null | grep -q "install ok installed" && fail "still installed"
  left=""
  for f in $files; do [ -e "${f#.}" ] && left+=" ${f#.}"; done
  [ -z "$left" ] || fail "left behind by dpkg -r:$left"
fi

step "passed"
