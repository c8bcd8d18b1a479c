#!/usr/bin/env bash
# A private Firebird server for tests, without systemd.
#
#   firebird_server.sh start <state-dir>   start on a free loopback port, print its environment
#   firebird_server.sh env   <state-dir>   print the environment of a started server
#   firebird_server.sh stop  <state-dir>   stop it by pid and remove the state folder
#
# The server gets its own configuration root, lock folder and a copy of the
# installed security database, so several instances (and an installed
# server) never share lock tables or files. Printed environment:
#   FIREBIRD_TEST_HOST, FIREBIRD_TEST_PORT, FIREBIRD_TEST_USER,
#   FIREBIRD_TEST_PASSWORD, FIREBIRD_TEST_DATA_DIR (the server may create
#   databases there).
# Exit code 77: the server cannot run on this machine (reason on stderr).
set -euo pipefail

cmd=${1:-}
state=${2:-}
if [ -z "$cmd" ] || [ -z "$state" ]; then
  echo "usage: $0 start|env|stop <state-dir>" >&2
  exit 2
fi
state=$(realpath -m "$state")

fb_root=/usr/lib/x86_64-linux-gnu/firebird/3.0
server_bin=/usr/sbin/firebird
security_db=/var/lib/firebird/3.0/system/security3.fdb
sysdba_file=/etc/firebird/3.0/SYSDBA.password

cant_run() {
  echo "firebird_server: $*" >&2
  exit 77
}

free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

sysdba_password() {
  local pw=""
  if [ -r "$sysdba_file" ]; then
    pw=$(sed -n 's/^ISC_PASSWORD="\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' "$sysdba_file" | head -n1)
  fi
  echo "${pw:-masterkey}"
}

wait_for_port() {
  local port=$1 pid=$2
  for _ in $(seq 1 100); do
    if ! alive "$pid"; then return 1; fi
    if /usr/bin/python3 -c "import socket,sys; socket.create_connection(('127.0.0.1',$port),0.2)" 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

start() {
  [ -x "$server_bin" ] || cant_run "$server_bin is not installed (package firebird3.0-server)"
  [ -d "$fb_root/plugins" ] || cant_run "$fb_root/plugins is missing"
  [ -r "$security_db" ] || cant_run "cannot read $security_db (run as root or as the firebird user)"
  if [ -e "$state/pid" ] && alive "$(cat "$state/pid")"; then
    echo "firebird_server: already running in $state" >&2
    exit 1
  fi

  mkdir -p "$state/root" "$state/lock" "$state/data" "$state/tmp"
  local f
  for f in UDF intl lib plugins firebird.msg fbtrace.conf plugins.conf; do
    ln -sfn "$fb_root/$f" "$state/root/$f"
  done
  cp "$security_db" "$state/security3.fdb"
  local port
  port=$(free_port)
  cat > "$state/root/firebird.conf" <<EOF
RemoteServicePort = $port
RemoteBindAddress = 127.0.0.1
SecurityDatabase = $state/security3.fdb
ServerMode = Super
EOF
  cat > "$state/root/databases.conf" <<EOF
security.db = $state/security3.fdb
{
	RemoteAccess = false
}
EOF

  # As root the server runs as the firebird user, which must own everything
  # it opens; otherwise it runs as the caller.
  local -a as_user=()
  if [ "$(id -u)" -eq 0 ]; then
    id firebird >/dev/null 2>&1 || cant_run "user 'firebird' does not exist"
    chown -R firebird:firebird "$state"
    as_user=(setpriv --reuid=firebird --regid=firebird --init-groups)
  fi
  chmod 0770 "$state" "$state/data"

  (
    cd "$state"
    export FIREBIRD="$state/root" FIREBIRD_LOCK="$state/lock" FIREBIRD_TMP="$state/tmp"
    setsid sh -c 'echo $$ > "$0/pid"; exec "$@"' "$state" "${as_user[@]}" "$server_bin" \
      > "$state/server.log" 2>&1 < /dev/null &
  )
  local pid=""
  for _ in $(seq 1 50); do
    [ -s "$state/pid" ] && pid=$(cat "$state/pid") && break
    sleep 0.1
  done
  if [ -z "$pid" ] || ! wait_for_port "$port" "$pid"; then
    echo "firebird_server: server did not start; log:" >&2
    cat "$state/server.log" >&2 || true
    stop_server
    exit 1
  fi

  cat > "$state/env" <<EOF
FIREBIRD_TEST_HOST=127.0.0.1
FIREBIRD_TEST_PORT=$port
FIREBIRD_TEST_USER=SYSDBA
FIREBIRD_TEST_PASSWORD=$(sysdba_password)
FIREBIRD_TEST_DATA_DIR=$state/data
EOF
  cat "$state/env"
}

# Running, and not a zombie waiting to be reaped by init.
alive() {
  local st
  st=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$st" ] && [ "$st" != Z ]
}

stop_server() {
  [ -s "$state/pid" ] || return 0
  local pid
  pid=$(cat "$state/pid")
  if alive "$pid"; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do
      alive "$pid" || break
      sleep 0.1
    done
    alive "$pid" && kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$state/pid"
}

case "$cmd" in
  start) start ;;
  env)
    [ -s "$state/env" ] || { echo "firebird_server: not started in $state" >&2; exit 1; }
    cat "$state/env"
    ;;
  stop)
    stop_server
    rm -rf "$state"
    ;;
  *)
    echo "usage: $0 start|env|stop <state-dir>" >&2
    exit 2
    ;;
esac
