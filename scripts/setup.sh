# Sourced by run.sh and test.sh: installs what the build needs (Debian 12) and
# builds the project into build/.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PACKAGES=(build-essential cmake ninja-build qt6-base-dev libgtest-dev xvfb xauth imagemagick
          fonts-dejavu-core locales libqt6sql6-sqlite libqt6sql6-psql)

source "$ROOT/scripts/packages.sh"
km_install_packages "${PACKAGES[@]}"

km_build() {  # km_build DIR [cmake options...]
  local dir="$1"; shift
  cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "$@" >/dev/null
  cmake --build "$ROOT/$dir" -j"$(nproc)"
}

km_build_target() {  # km_build_target DIR TARGET [cmake options...]
  local dir="$1" target="$2"; shift 2
  cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "$@" >/dev/null
  cmake --build "$ROOT/$dir" -j"$(nproc)" --target "$target"
}
