#!/usr/bin/env bash
# A throwaway PostgreSQL server for the tests and benchmarks of the office-server store.
#
#   pgserver.sh start DIR    a new cluster in DIR/data, listening only on a Unix socket in DIR
#                            (no TCP), trust authentication, superuser "postgres"
#   pgserver.sh halt DIR     stops it, keeping its data (a server gone down)
#   pgserver.sh resume DIR   starts it again on the same data
#   pgserver.sh stop DIR     stops it and every server in a subfolder of DIR, and removes DIR
#
# Without fsync, unless PELLOQUIN_PG_DURABLE is set.
#
# Run as root (as CI runs), the server runs as the unprivileged user "postgres" that Debian's
# postgresql package creates, since initdb refuses to run as root.
set -euo pipefail
action=${1:?action} dir=${2:?folder}
bin=${PELLOQUIN_PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
if [ ! -x "$bin/initdb" ]; then
  echo "PostgreSQL is not installed (scripts/setup.sh installs it)" >&2
  exit 1
fi

as_owner() {
  # From /, since the server's user may not be allowed into the folder the tests run in.
  if [ "$(id -u)" -eq 0 ]; then (cd / && runuser -u postgres -- "$@"); else "$@"; fi
}
ctl() {
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 "$@" >/dev/null
}
stop_in() {  # a folder that may hold a running server
  if [ -f "$1/data/postmaster.pid" ]; then
    as_owner "$bin/pg_ctl" -D "$1/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
}

case $action in
  start)
    # A server left behind by a run that was killed goes first.
    for d in "$dir"/*/ "$dir"; do stop_in "$d"; done
    rm -rf "$dir"
    mkdir -p "$dir"
    if [ "$(id -u)" -eq 0 ]; then chown postgres: "$dir"; fi
    if ! as_owner "$bin/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C \
        --no-sync >"$dir/initdb.log" 2>&1; then
      cat "$dir/initdb.log" >&2
      exit 1
    fi
    cat >>"$dir/data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$dir'
max_connections = 300
CONF
    # Durability is not what the tests are about: no fsync, so that they run fast. Benchmarks
    # set PELLOQUIN_PG_DURABLE=1 to measure a server that keeps what it commits.
    if [ -z "${PELLOQUIN_PG_DURABLE:-}" ]; then
      printf 'fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n' \
        >>"$dir/data/postgresql.conf"
    fi
    ctl start || { cat "$dir/server.log" >&2; exit 1; }
    ;;
  halt) ctl -m fast stop ;;
  resume) ctl start || { cat "$dir/server.log" >&2; exit 1; } ;;
  stop)
    for d in "$dir"/*/ "$dir"; do stop_in "$d"; done
    rm -rf "$dir"
    ;;
  *) echo "usage: $0 start|halt|resume|stop DIR" >&2; exit 2 ;;
esac
