#!/usr/bin/env bash
# The main job: builds the Windows distribution folder dist/PelnoVPN/ (see
# tools/make-dist.sh) and the setup PelnoVPN-Setup.exe from it (tools/make-setup.sh),
# then runs the product under Wine in a scratch copy of it,
# with the stand-in proxy engine added as sing-box.exe: PelnoVPN.exe opens its
# window on a virtual X display, and a script plays the user interface through the
# stand-in engine library's UI bridge (connect in proxy mode, a request through
# the proxy, a traffic snapshot, a latency test with its streamed events,
# disconnect, close). It prints the transcript and leaves nothing running.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/make-dist.sh
bash tools/make-setup.sh
cmake --build --preset win -j2 --target pelno-stand-in-engine pelno-window-probe >/dev/null

work=$(mktemp -d /tmp/pelno-demo.XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
export DISPLAY="${PELNO_XVFB_DISPLAY:-:71}"
export PELNO_WINE_EXEC=$PWD/build/win/wine-exec PELNO_BIN_DIR=$PWD/build/win/bin
app_pid= web_pid= xvfb_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$web_pid" ] && kill "$web_pid" 2>/dev/null
  "$PELNO_WINE_EXEC" --down
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
settings='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'

echo "== a virtual X display ($DISPLAY) and a Wine prefix"
Xvfb "$DISPLAY" -screen 0 1024x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
"$PELNO_WINE_EXEC" --up
# The user's own settings, which the session must give back. (A first registry
# write in a fresh prefix was once seen failing: tried again.)
reg_set() {
  for _ in 1 2 3; do "$PELNO_WINE_EXEC" reg add "$settings" "$@" /f >/dev/null 2>&1 && return 0; sleep 1; done
  return 1
}
reg_set /v ProxyEnable /t REG_DWORD /d 0
reg_set /v ProxyServer /t REG_SZ /d "user.proxy.example:3128"

echo "== a scratch copy of dist/PelnoVPN with the stand-in engine as sing-box.exe"
cp -r dist/PelnoVPN "$work/PelnoVPN"
cp build/win/bin/pelno-stand-in-engine.exe "$work/PelnoVPN/sing-box.exe"
(cd "$work/PelnoVPN" && ls -1 | sed 's/^/    /')

echo "== a local web server for the proxied request and the latency test"
mkdir -p "$work/www"; echo "hello through the PelnoVPN engine" > "$work/www/hello.txt"
web_port=$(free_port)
python3 -m http.server "$web_port" --bind 127.0.0.1 --directory "$work/www" >/dev/null 2>&1 &
web_pid=$!

echo "== starting PelnoVPN.exe with the UI bridge"
bridge_port=$(free_port)
PELNOVPN_UI_BRIDGE_PORT=$bridge_port "$PELNO_WINE_EXEC" "$work/PelnoVPN/PelnoVPN.exe" </dev/null >/dev/null 2>&1 &
app_pid=$!

PYTHONPATH=tools/ui_bridge python3 tools/ui_bridge/demo_session.py "$bridge_port" "$work/PelnoVPN" \
  "http://127.0.0.1:$web_port/hello.txt"

set +e
wait "$app_pid"; code=$?
set -e
app_pid=
echo "    PelnoVPN.exe exited with code $code"

kill "$web_pid"; wait "$web_pid" 2>/dev/null || true; web_pid=
echo "== what is still running from the scratch copy"
# Wine shows the programs' paths in both forms (/tmp/... and Z:\tmp\...).
left=$(ps -eo args | grep -F "$(basename "$work")" | grep -v grep || true)
echo "    ${left:-nothing}"
[ "$code" -eq 0 ] && [ -z "$left" ]
