# Sourced by scripts/qt-windows.sh: the sources from Debian and the two
# libraries Qt SQL's drivers link on Windows, built once for x86_64-w64-mingw32
# into a prefix of their own (each with its own stamp):
#   km_win_sqlite DEPS WORK   SQLite from Debian's sqlite3: its amalgamation
#                             made on the host (tclsh), compiled with mingw-w64
#                             into DEPS/lib/libsqlite3.a, headers in DEPS/include;
#   km_win_libpq DEPS WORK    libpq from Debian's postgresql-15, configured
#                             --host=x86_64-w64-mingw32 without OpenSSL, GSSAPI,
#                             LDAP, zlib, readline and ICU: DEPS/lib/libpq.a, one
#                             static archive with the pgcommon and pgport objects
#                             it calls (its pthread functions renamed pq_*:
#                             winpthreads has them too); it needs ws2_32,
#                             secur32, advapi32 and shell32 at link.
# Expects say, fail, SUDO and scripts/packages.sh from the caller.
KM_MINGW_CC=x86_64-w64-mingw32-gcc-posix
KM_MINGW_AR=x86_64-w64-mingw32-ar

# km_deb_source PACKAGE DIR GLOB: prints the unpacked source folder of Debian's
# PACKAGE in DIR (a folder matching GLOB), fetched with apt-get source when
# missing. The deb-src lines come from this machine's own apt sources; when an
# archive lists a source version whose files it does not hold, the older ones
# it lists are taken in turn.
km_deb_source() {
  local package="$1" dir="$2" glob="$3" src version
  src="$(find "$dir" -maxdepth 1 -type d -name "$glob" | sort | tail -n 1)"
  if [ -n "$src" ] && [ -f "$src/debian/changelog" ]; then echo "$src"; return 0; fi
  if [ -z "$(apt-get source --print-uris "$package" 2>/dev/null | grep -m1 "'")" ]; then
    say "adding deb-src lines derived from this machine's apt sources" >&2
    km_deb_src_lines | $SUDO tee /etc/apt/sources.list.d/km4410r-deb-src.sources >/dev/null
    [ -s /etc/apt/sources.list.d/km4410r-deb-src.sources ] ||
      fail "no Debian archive in this machine's apt sources to derive a deb-src line from"
    $SUDO apt-get update -qq
  fi
  say "fetching Debian's $package source" >&2
  for version in "" $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -r -V); do
    find "$dir" -maxdepth 1 -name "$glob" -exec rm -rf {} +
    (cd "$dir" && apt-get source -qq "$package${version:+=$version}" >/dev/null 2>&1) && break
  done
  src="$(find "$dir" -maxdepth 1 -type d -name "$glob" | sort | tail -n 1)"
  [ -n "$src" ] && [ -f "$src/debian/changelog" ] || fail "apt-get source $package"
  echo "$src"
}

km_win_sqlite() {
  local deps="$1" work="$2" stamp="$1/.km4410r-sqlite-complete" src host
  [ -f "$stamp" ] && [ -f "$deps/lib/libsqlite3.a" ] && [ -f "$deps/include/sqlite3.h" ] && return 0
  km_install_packages tcl gcc make
  src="$(km_deb_source sqlite3 "$work" 'sqlite3-3.*')"
  say "making SQLite's amalgamation from $(basename "$src")"
  host="$work/sqlite-host"
  rm -rf "$host" && mkdir -p "$host" "$deps/lib" "$deps/include"
  (cd "$host" && "$src/configure" --disable-tcl && make sqlite3.c) >"$work/sqlite.log" 2>&1 ||
    { tail -n 20 "$work/sqlite.log" >&2; fail "SQLite's amalgamation (see $work/sqlite.log)"; }
  say "compiling SQLite for x86_64-w64-mingw32"
  # The options Qt's own copy is built with; no extensions loaded from files.
  "$KM_MINGW_CC" -O2 -DNDEBUG -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA \
    -DSQLITE_ENABLE_FTS3 -DSQLITE_ENABLE_FTS3_PARENTHESIS -DSQLITE_ENABLE_FTS5 \
    -DSQLITE_ENABLE_RTREE -DSQLITE_OMIT_COMPLETE -DSQLITE_OMIT_LOAD_EXTENSION \
    -c "$host/sqlite3.c" -o "$host/sqlite3.o" >>"$work/sqlite.log" 2>&1 ||
    fail "compiling sqlite3.c (see $work/sqlite.log)"
  rm -f "$deps/lib/libsqlite3.a"
  "$KM_MINGW_AR" rcs "$deps/lib/libsqlite3.a" "$host/sqlite3.o"
  cp "$host/sqlite3.h" "$host/sqlite3ext.h" "$deps/include/"
  rm -rf "$host"
  touch "$stamp"
}

km_win_libpq() {
  local deps="$1" work="$2" stamp="$1/.km4410r-libpq-complete" src build o
  [ -f "$stamp" ] && [ -f "$deps/lib/libpq.a" ] && [ -f "$deps/include/libpq-fe.h" ] && return 0
  km_install_packages gcc make perl
  src="$(km_deb_source postgresql-15 "$work" 'postgresql-15-15.*')"
  say "configuring libpq from $(basename "$src") for x86_64-w64-mingw32"
  build="$work/libpq-build"
  rm -rf "$build" && mkdir -p "$build" "$deps/lib" "$deps/include/libpq"
  (cd "$build" && "$src/configure" --host=x86_64-w64-mingw32 CC="$KM_MINGW_CC" \
    --without-openssl --without-gssapi --without-ldap --without-readline --without-zlib \
    --without-icu --without-lz4 --without-zstd --without-llvm --disable-nls) >"$work/libpq.log" 2>&1 ||
    { tail -n 20 "$work/libpq.log" >&2; fail "configuring libpq (see $work/libpq.log)"; }
  say "building libpq (src/interfaces/libpq with src/common and src/port)"
  make -C "$build/src/interfaces/libpq" -j"$(nproc)" all-static-lib >>"$work/libpq.log" 2>&1 ||
    { tail -n 20 "$work/libpq.log" >&2; fail "building libpq (see $work/libpq.log)"; }
  # On Windows PostgreSQL's libpq.a is the DLL's import library: the static
  # one is made from libpq's objects (not its version resource) and the two
  # helper libraries built for it.
  rm -f "$deps/lib/libpq.a"
  {
    echo "create $deps/lib/libpq.a"
    for o in "$build"/src/interfaces/libpq/*.o; do
      [ "$(basename "$o")" = win32ver.o ] || echo "addmod $o"
    done
    echo "addlib $build/src/common/libpgcommon_shlib.a"
    echo "addlib $build/src/port/libpgport_shlib.a"
    echo "save"
    echo "end"
  } | "$KM_MINGW_AR" -M || fail "making the static libpq.a"
  # libpq brings its own few pthread functions (pthread-win32.c, on its own
  # types); a static program has winpthreads' too: libpq's are renamed.
  x86_64-w64-mingw32-nm "$build/src/interfaces/libpq/pthread-win32.o" |
    awk '$2 == "T" && $3 ~ /^pthread_/ { print $3, "pq_" $3 }' >"$build/pthread.syms"
  [ -s "$build/pthread.syms" ] || fail "no pthread functions found in libpq's pthread-win32.o"
  x86_64-w64-mingw32-objcopy --redefine-syms="$build/pthread.syms" "$deps/lib/libpq.a" ||
    fail "renaming libpq's pthread functions"
  x86_64-w64-mingw32-ranlib "$deps/lib/libpq.a"
  cp "$src/src/interfaces/libpq/libpq-fe.h" "$src/src/interfaces/libpq/libpq-events.h" \
    "$src/src/include/postgres_ext.h" "$src/src/include/pg_config_manual.h" \
    "$build/src/include/pg_config.h" "$build/src/include/pg_config_ext.h" "$deps/include/"
  cp -L "$build/src/include/pg_config_os.h" "$deps/include/"
  cp "$src/src/include/libpq/libpq-fs.h" "$deps/include/libpq/"
  rm -rf "$build"
  touch "$stamp"
}

# km_win_sql_find_module QTSOURCE: Qt's FindPostgreSQL.cmake (in the source, so
# in the installed prefix too) gives PostgreSQL::PostgreSQL the system
# libraries the static libpq calls, so a program linking the static psql
# plugin links without knowing them.
km_win_sql_find_module() {
  local f="$1/cmake/FindPostgreSQL.cmake"
  grep -q "static libpq for Windows" "$f" && return 0
  grep -q '^  include("${CMAKE_ROOT}/Modules/FindPostgreSQL.cmake")$' "$f" ||
    fail "$f: no include of CMake's FindPostgreSQL to extend"
  sed -i '/^  include("${CMAKE_ROOT}\/Modules\/FindPostgreSQL.cmake")$/r /dev/stdin' "$f" <<'EOF'
  # The static libpq for Windows calls Winsock, SSPI, the crypto API and the
  # shell's folders.
  if(WIN32 AND TARGET PostgreSQL::PostgreSQL)
    get_target_property(_km_pq_libs PostgreSQL::PostgreSQL INTERFACE_LINK_LIBRARIES)
    if(NOT "secur32" IN_LIST _km_pq_libs)
      set_property(TARGET PostgreSQL::PostgreSQL APPEND PROPERTY
        INTERFACE_LINK_LIBRARIES ws2_32 secur32 advapi32 shell32)
    endif()
    unset(_km_pq_libs)
  endif()
EOF
}
