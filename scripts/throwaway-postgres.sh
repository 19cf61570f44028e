#!/usr/bin/env bash
# A throwaway PostgreSQL server for the tests and benchmarks: a new cluster in a temporary folder,
# listening on a Unix socket in that folder only (no TCP port), trust authentication for the user
# "qbx". As root the server runs as the user postgres (or nobody), since postgres refuses root.
#
#   scripts/throwaway-postgres.sh start STATE [--durable]   prints the connection string
#   scripts/throwaway-postgres.sh stop STATE                 stops it and removes its files
#   scripts/throwaway-postgres.sh halt|resume STATE          stops it, keeping its files; starts it again
#
# STATE is a folder of the caller's: start writes STATE/conninfo (the connection string) and
# STATE/cluster (the server's folder), or STATE/skip (why no server can run here) and exits 0 when
# PostgreSQL's server programs are not installed. Without --durable the server does not sync its
# files to the disk (fast, and nothing of it outlives the run anyway); --durable keeps PostgreSQL's
# defaults, for benchmarks that time commits as a real server makes them.
set -euo pipefail

usage() { echo "usage: $0 start STATE [--durable] | stop STATE | halt STATE | resume STATE" >&2; exit 2; }
[ $# -ge 2 ] || usage
command=$1 state=$2 durable=${3:-}
mkdir -p "$state"

as_server=()
if [ "$(id -u)" -eq 0 ]; then
  if id postgres >/dev/null 2>&1; then server_user=postgres; else server_user=nobody; fi
  as_server=(runuser -u "$server_user" --)
fi

stop() {
  [ -f "$state/cluster" ] || return 0
  local cluster
  cluster=$(cat "$state/cluster")
  if [ -f "$cluster/data/postmaster.pid" ]; then
    # A paused server (SIGSTOP by a test) must run again to stop.
    kill -CONT "$(head -n 1 "$cluster/data/postmaster.pid")" 2>/dev/null || true
    "${as_server[@]}" "$bindir/pg_ctl" -D "$cluster/data" -m immediate -w -t 30 stop >/dev/null || true
  fi
  case "$cluster" in /tmp/qbx-pg.*) rm -rf "$cluster" ;; esac
  rm -f "$state/cluster" "$state/conninfo"
}

bindir=""
for candidate in "$(pg_config --bindir 2>/dev/null || true)" $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
  if [ -n "$candidate" ] && [ -x "$candidate/initdb" ] && [ -x "$candidate/pg_ctl" ]; then
    bindir=$candidate
    break
  fi
done

case "$command" in
  halt|resume)
    [ -n "$bindir" ] && [ -f "$state/cluster" ] || { echo "no server was started in $state" >&2; exit 1; }
    cluster=$(cat "$state/cluster")
    if [ "$command" = halt ]; then
      exec "${as_server[@]}" "$bindir/pg_ctl" -D "$cluster/data" -m fast -w -t 60 stop
    fi
    exec "${as_server[@]}" "$bindir/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" -w -t 60 start
    ;;
  stop)
    [ -n "$bindir" ] || { rm -f "$state/skip"; exit 0; }
    stop
    rm -f "$state/skip"
    exit 0
    ;;
  start) ;;
  *) usage ;;
esac

rm -f "$state/skip"
if [ -z "$bindir" ]; then
  echo "PostgreSQL's server programs (initdb, pg_ctl) are not installed: scripts/deps.sh installs them" | tee "$state/skip"
  exit 0
fi
stop  # a server a run before left behind

cluster=$(mktemp -d /tmp/qbx-pg.XXXXXX)
echo "$cluster" > "$state/cluster"
if [ ${#as_server[@]} -gt 0 ]; then
  chown "$server_user" "$cluster"
fi
chmod 700 "$cluster"
if ! "${as_server[@]}" "$bindir/initdb" -D "$cluster/data" -U qbx --auth=trust -E UTF8 --locale=C --no-sync \
    >"$cluster/initdb.log" 2>&1; then
  cat "$cluster/initdb.log" >&2
  echo "initdb failed" >&2
  exit 1
fi
{
  echo "listen_addresses = ''"
  echo "unix_socket_directories = '$cluster'"
  echo "max_connections = 60"
  if [ "$durable" != "--durable" ]; then
    echo "fsync = off"
    echo "synchronous_commit = off"
    echo "full_page_writes = off"
  fi
} >> "$cluster/data/postgresql.conf"
if ! "${as_server[@]}" "$bindir/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" -w -t 60 start >/dev/null; then
  cat "$cluster/server.log" >&2 || true
  echo "the PostgreSQL server did not start" >&2
  exit 1
fi
# Everyone may reach the socket (the server's folder is private to its user otherwise).
chmod 711 "$cluster"
echo "host=$cluster port=5432 user=qbx dbname=postgres" | tee "$state/conninfo"
