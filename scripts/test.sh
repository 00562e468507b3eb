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

# ser2net: the network ports are tried through it (Telnet with COM port
# control and raw TCP) besides the simulator's own relay.
km_install_packages ser2net
export KM_REQUIRE_SER2NET=1

# PostgreSQL: the history's shared server is tried on a throwaway cluster of
# postgresql-15 (tests/history/pg_throwaway.sh) that each test binary starts.
km_install_packages postgresql-15 postgresql-client-15
export KM_REQUIRE_POSTGRES=1

km_build build
ctest --test-dir "$ROOT/build" --output-on-failure -j2

km_build build-asan -DKM_BUILD_APP=OFF -DKM_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$ROOT/build-asan" --output-on-failure -j2

# The fuzz targets, each for about a minute on its committed corpus: the
# receive machine's and the network port's Telnet/RFC 2217 receive side's.
# libFuzzer with clang where it is installed, else the standalone driver over
# the corpus and its mutations (g++ with the sanitizers).
FUZZ_SECONDS="${KM_FUZZ_SECONDS:-60}"
FUZZ_TARGETS=(receive telnet)
if command -v clang++ >/dev/null 2>&1 &&
   echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
     clang++ -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
  FUZZ_OPTIONS=(-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang)
  LIBFUZZER=1
else
  FUZZ_OPTIONS=()
  LIBFUZZER=0
fi
for target in "${FUZZ_TARGETS[@]}"; do
  km_build_target build-fuzz "km_${target}_fuzz" "${FUZZ_OPTIONS[@]}" -DKM_FUZZ=ON -DKM_BUILD_APP=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
  if [ "$LIBFUZZER" = 1 ]; then
    NEW_INPUTS="$(mktemp -d)"
    "$ROOT/build-fuzz/fuzz/km_${target}_fuzz" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 \
      "$NEW_INPUTS" "$ROOT/fuzz/corpus/$target" 2>&1 | tail -n 12
    rm -rf "$NEW_INPUTS"
  else
    "$ROOT/build-fuzz/fuzz/km_${target}_fuzz" --mutate "$FUZZ_SECONDS" "$ROOT/fuzz/corpus/$target"
  fi
done

# ---- Windows build and Linux package ---------------------------------------------------
# The driver and km4410r-cmd.exe cross-built with mingw-w64 and run under Wine
# against the simulator; then `cmake --install`, the Debian package, its
# contents and dependencies, the programs run from the installed paths (in CI
# also installed with apt and removed with dpkg -r).
bash "$ROOT/scripts/wine-test.sh"
bash "$ROOT/scripts/package-test.sh"
# ---- end of the Windows build and Linux package block -------------------------------------
