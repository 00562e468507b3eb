#!/usr/bin/env bash
# A throwaway PostgreSQL 15 cluster on loopback for the tests and the
# benchmarks: Debian's postgresql-15, initdb as the postgres user when run as
# root (CI runs as root), fsync off, trust on loopback only.
#
#   pg_throwaway.sh start DIR   starts (initdb first when DIR has none); prints the port
#   pg_throwaway.sh stop DIR    stops it (fast)
#   pg_throwaway.sh kill DIR    stops it at once, as a pulled plug (immediate)
set -euo pipefail
BIN="${KM_PG_BIN:-/usr/lib/postgresql/15/bin}"
cmd="${1:?start, stop or kill}"
dir="${2:?a folder}"

as_pg() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

case "$cmd" in
  start)
    [ -x "$BIN/initdb" ] || { echo "no PostgreSQL 15 in $BIN (apt-get install postgresql-15)" >&2; exit 1; }
    mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
    if [ ! -f "$dir/data/PG_VERSION" ]; then
      as_pg "$BIN/initdb" -D "$dir/data" -A trust -U postgres -E UTF8 --no-sync >"$dir/initdb.log" 2>&1 ||
        { cat "$dir/initdb.log" >&2; exit 1; }
    fi
    # The same port when it starts again (a server that comes back).
    for try in 1 2 3 4 5; do
      if [ -f "$dir/port" ]; then port="$(cat "$dir/port")"
      else
        port=$((20000 + (RANDOM * 7 + $$) % 40000))
        (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
      fi
      if as_pg "$BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
           -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off -c full_page_writes=off" \
           start >/dev/null; then
        echo "$port" >"$dir/port"
        echo "$port"
        exit 0
      fi
      [ -f "$dir/port" ] && break
    done
    tail -n 20 "$dir/server.log" >&2 || true
    exit 1
    ;;
  stop) as_pg "$BIN/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null ;;
  kill) as_pg "$BIN/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null ;;
  *) echo "start, stop or kill" >&2; exit 2 ;;
esac
