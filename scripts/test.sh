#!/usr/bin/env bash
# Builds everything and runs every test: the whole suite, then the driver and
# simulator tests again in a build with AddressSanitizer and UBSan.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

# The command functions are tested under comma-decimal locales as well.
for loc in ru_RU uk_UA; do
  locale -a 2>/dev/null | grep -qi "^${loc}.utf-\?8$" || {
    if [ "$(id -u)" -eq 0 ]; then localedef -i "$loc" -f UTF-8 "$loc.UTF-8" || true
    else sudo localedef -i "$loc" -f UTF-8 "$loc.UTF-8" || true; fi
  }
done

km_build build
ctest --test-dir "$ROOT/build" --output-on-failure -j2

km_build build-asan -DKM_BUILD_APP=OFF -DKM_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$ROOT/build-asan" --output-on-failure -j2
