#!/usr/bin/env bash
# Starts the local stand-ins of the plant on 127.0.0.1, each on a free port with a throw-away
# data folder: the blob store (Azurite, blob service only) and the plant's web service with the
# blob front that its SAS URLs name (standins/README.md).
# Waits until both answer, then writes these lines to ENV_FILE and prints them:
#   CORVANE_SERVICE_URL=http://127.0.0.1:PORT/QelService.svc/
#   CORVANE_BLOB_ENDPOINT=http://127.0.0.1:PORT/devstoreaccount1     (the front; SAS URLs name it)
#   CORVANE_AZURITE_ENDPOINT=http://127.0.0.1:PORT/devstoreaccount1  (Azurite itself)
#   CORVANE_BLOB_CONTAINER=corvane-upload
#   CORVANE_STANDINS_CONTROL_URL=http://127.0.0.1:PORT/control/
#   CORVANE_STANDINS_DIR=/tmp/corvane-standins.XXXXXX                (logs, pids, blob data)
# Read them with: set -a; . ENV_FILE; set +a
# Stop with: scripts/standins-stop.sh ENV_FILE
# CORVANE_STANDIN_CONFIG may name another customer file than standins/customers.json.
set -euo pipefail

env_file=${1:?usage: standins-start.sh ENV_FILE}
root=$(cd "$(dirname "$0")/.." && pwd)
standins=$root/standins

# npm ci only when the installed tree (npm's record of it in node_modules) differs from the one
# the lockfile pins; the lock keeps parallel starts from installing over each other.
installed_as_locked() {
  node -e '
    const lock = require(process.argv[1]).packages, have = require(process.argv[2]).packages;
    delete lock[""];
    const same = Object.keys(lock).length === Object.keys(have).length &&
      Object.keys(lock).every((k) => JSON.stringify(lock[k]) === JSON.stringify(have[k]));
    process.exit(same ? 0 : 1);' "$standins/package-lock.json" "$standins/node_modules/.package-lock.json" 2>/dev/null
}
(
  flock 9
  if [ ! -x "$standins/node_modules/.bin/azurite-blob" ] || ! installed_as_locked; then
    echo "standins: installing npm packages (npm ci)" >&2
    (cd "$standins" && npm ci --no-audit --no-fund --loglevel=error >&2)
  fi
) 9>"$standins/.npm-install.lock"

run_dir=$(mktemp -d "${TMPDIR:-/tmp}/corvane-standins.XXXXXX")
case $run_dir in
  *[!A-Za-z0-9._/-]*) echo "standins: temporary folder '$run_dir' has characters the env file cannot carry" >&2
                      rmdir "$run_dir"; exit 1 ;;
esac
mkdir "$run_dir/blob"

started=0
cleanup() {
  if [ "$started" = 0 ]; then
    for f in "$run_dir"/*.log; do
      [ -f "$f" ] && { echo "--- $f" >&2; tail -n 20 "$f" >&2; }
    done
    for f in "$run_dir"/*.pid; do
      [ -f "$f" ] && kill "$(cat "$f")" 2>/dev/null || true
    done
    rm -rf "$run_dir"
  fi
}
trap cleanup EXIT

# Answers with any HTTP status at all.
answers() { [ "$(curl -s -o /dev/null -w '%{http_code}' --max-time 5 "$1" || true)" != 000 ]; }

wait_for() { # description, seconds, test command...
  local what=$1 seconds=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    if [ $SECONDS -ge $deadline ]; then
      echo "standins: $what did not come up within ${seconds}s" >&2
      return 1
    fi
    sleep 0.2
  done
}

alive() { kill -0 "$(cat "$1")" 2>/dev/null; }

setsid "$standins/node_modules/.bin/azurite-blob" --blobHost 127.0.0.1 --blobPort 0 \
  --location "$run_dir/blob" --silent --disableTelemetry --skipApiVersionCheck --loose \
  </dev/null >"$run_dir/azurite.log" 2>&1 &
echo $! >"$run_dir/azurite.pid"

blob_port=
azurite_listens() {
  alive "$run_dir/azurite.pid" || { echo "standins: Azurite exited" >&2; exit 1; }
  blob_port=$(sed -n 's|.*successfully listens on http://127\.0\.0\.1:\([0-9]*\).*|\1|p' "$run_dir/azurite.log")
  [ -n "$blob_port" ]
}
wait_for "Azurite" 60 azurite_listens
azurite_endpoint=http://127.0.0.1:$blob_port/devstoreaccount1
wait_for "Azurite" 30 answers "$azurite_endpoint?comp=list"

setsid node "$standins/service/server.js" --host 127.0.0.1 --port 0 --blob-endpoint "$azurite_endpoint" \
  --ready-file "$run_dir/service.port" </dev/null >"$run_dir/service.log" 2>&1 &
echo $! >"$run_dir/service.pid"

service_ready() {
  alive "$run_dir/service.pid" || { echo "standins: the service stand-in exited" >&2; exit 1; }
  [ -s "$run_dir/service.port" ]
}
wait_for "the service stand-in" 30 service_ready
service_port=$(sed -n 's/^SERVICE_PORT=//p' "$run_dir/service.port")
front_port=$(sed -n 's/^BLOB_FRONT_PORT=//p' "$run_dir/service.port")
wait_for "the service stand-in" 30 answers "http://127.0.0.1:$service_port/control/config"
container=$(curl -s "http://127.0.0.1:$service_port/control/config" | node -e \
  'let s="";process.stdin.on("data",d=>s+=d).on("end",()=>console.log(JSON.parse(s).container))')

lines="CORVANE_SERVICE_URL=http://127.0.0.1:$service_port/QelService.svc/
CORVANE_BLOB_ENDPOINT=http://127.0.0.1:$front_port/devstoreaccount1
CORVANE_AZURITE_ENDPOINT=$azurite_endpoint
CORVANE_BLOB_CONTAINER=$container
CORVANE_STANDINS_CONTROL_URL=http://127.0.0.1:$service_port/control/
CORVANE_STANDINS_DIR=$run_dir"
printf '%s\n' "$lines" >"$env_file.tmp"
mv "$env_file.tmp" "$env_file"
printf '%s\n' "$lines"
started=1
