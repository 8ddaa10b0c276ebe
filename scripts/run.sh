#!/usr/bin/env bash
# The run command: installs what the project needs, builds it, creates a private appliance root
# under the checkout with a demo account, starts the web-API host with the modules on 127.0.0.1
# and prints how to log in and call it. Stop it with Ctrl-C.
#
#   scripts/run.sh                 port 5080, root run/root
#   PORT=0 ROOT_DIR=/tmp/r scripts/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."
CHECKOUT=$PWD
PORT=${PORT:-5080}
ROOT_DIR=${ROOT_DIR:-$CHECKOUT/run/root}
WORKERS=${WORKERS:-4}
DEMO_USER=${DEMO_USER:-demo}
DEMO_PASSWORD=${DEMO_PASSWORD:-demo-password}
DEMO_UID=${DEMO_UID:-1026}

bash scripts/setup.sh
mkdir -p build
if [ ! -f build/plain/build.ninja ]; then
  cmake -G Ninja -S . -B build/plain -DCMAKE_BUILD_TYPE=RelWithDebInfo >build/plain.configure.log
fi
ninja -C build/plain zolt-webapi-host zoltuser zoltdrive_cli snapshot_module sheet_module >/dev/null

BIN=build/plain
mkdir -p "$ROOT_DIR/tmp"
chmod 1777 "$ROOT_DIR/tmp"  # the appliance's /tmp: lock and temporary files
export ZOLT_ROOT=$ROOT_DIR
if ! "$BIN/platform/account/zoltuser" --root "$ROOT_DIR" list | grep -q "\"$DEMO_USER\""; then
  "$BIN/platform/account/zoltuser" --root "$ROOT_DIR" add "$DEMO_USER" --uid "$DEMO_UID" \
    --password "$DEMO_PASSWORD"
fi

# A demo spreadsheet owned by the demo user: one sheet "Sheet1" (sh_1).
DRIVE="$BIN/platform/drive/zoltdrive --root $ROOT_DIR"
DEMO_DOC=${DEMO_DOC:-demo-budget}
if ! $DRIVE show --ns Tabvale --id "$DEMO_DOC" --no-text >/dev/null 2>&1; then
  DOC_TEXT=$(mktemp)
  cat >"$DOC_TEXT" <<'JSON'
{"index": {"maxIndex": 1, "order": ["sh_1"], "editors": [], "schemaVersion": 1,
           "sheets": {"sh_1": {"deleted": false, "title": "Sheet1"}}},
 "sh_1": {"rowCount": 100, "colCount": 30, "cells": {}},
 "title": "Demo budget"}
JSON
  $DRIVE create --ns Tabvale --id "$DEMO_DOC" --owner "$DEMO_UID" --text "$DOC_TEXT" >/dev/null
  rm -f "$DOC_TEXT"
fi

LOG=$ROOT_DIR/host.log
"$BIN/platform/host/zolt-webapi-host" --root "$ROOT_DIR" --port "$PORT" --workers "$WORKERS" \
  --module "$BIN/modules/ZOLT.Tabvale.Snapshot.so" --module "$BIN/modules/ZOLT.Tabvale.Sheet.so" \
  >"$LOG" 2>&1 &
HOST=$!
trap 'kill "$HOST" 2>/dev/null; wait "$HOST" 2>/dev/null' EXIT INT TERM

for _ in $(seq 1 100); do
  grep -q '^listening ' "$LOG" 2>/dev/null && break
  kill -0 "$HOST" 2>/dev/null || { cat "$LOG"; exit 1; }
  sleep 0.1
done
PORT=$(sed -n 's/^listening \([0-9]*\).*/\1/p' "$LOG" | head -n 1)
[ -n "$PORT" ] || { cat "$LOG"; exit 1; }
URL=http://127.0.0.1:$PORT

cat <<TXT

The spreadsheet server is running on $URL (appliance root: $ROOT_DIR).

Log in as the demo user:
  SID=\$(curl -s $URL/webapi/auth -d '{"account":"$DEMO_USER","passwd":"$DEMO_PASSWORD"}' \\
        | sed -n 's/.*"sid":"\\([^"]*\\)".*/\\1/p')

Persist an edit of the demo spreadsheet "$DEMO_DOC" (A1 := "Rent", B1 := 950, as user $DEMO_UID)
and read the sheet back:
  curl -s $URL/webapi/entry -H "X-Zolt-Sid: \$SID" \\
       -d '{"api":"ZOLT.Tabvale.Snapshot","version":1,"method":"create","params":{"object_id":"$DEMO_DOC","commands":[{"cmd":"value","id":"sh_1","uid":$DEMO_UID,"changes":[[0,0,"Rent"],[0,1,950]]}]}}'
  curl -s $URL/webapi/entry -H "X-Zolt-Sid: \$SID" \\
       -d '{"api":"ZOLT.Tabvale.Snapshot.Sheet","version":1,"method":"get","params":{"object_id":"$DEMO_DOC"}}'

Host log: $LOG. Stop with Ctrl-C.
TXT
wait "$HOST"
