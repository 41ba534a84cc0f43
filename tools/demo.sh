#!/usr/bin/env bash
# The main job: builds the Windows programs, starts the helper as a plain process
# under Wine in a throwaway prefix and shows it answering on 127.0.0.1:17891.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset win >/dev/null
cmake --build --preset win

work=$(mktemp -d /tmp/pelno-demo.XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
wine_exec=build/win/wine-exec
helper_pid=
cleanup() {
  [ -n "$helper_pid" ] && kill "$helper_pid" 2>/dev/null
  "$wine_exec" --down
  rm -rf "$work"
}
trap cleanup EXIT

echo "== preparing a Wine prefix"
"$wine_exec" --up
echo "== starting the helper as a plain process"
"$wine_exec" build/win/bin/PelnoVpnHelperService.exe </dev/null >/dev/null 2>&1 &
helper_pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null http://127.0.0.1:17891/ping && break
  sleep 0.2
done

echo "== GET /ping"
curl -sS -i http://127.0.0.1:17891/ping; echo
echo "== GET /logs"
curl -sS -i http://127.0.0.1:17891/logs; echo
