#!/usr/bin/env bash
# The main job: builds the Windows programs, starts the helper as a plain process
# under Wine in a throwaway prefix, and runs a proxy session end to end with the
# stand-in engine: /start, the system proxy in Wine's registry, a real HTTP request
# through the engine's proxy port, /stop, and the user's settings back.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset win >/dev/null
cmake --build --preset win

work=$(mktemp -d /tmp/pelno-demo.XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
wine_exec=$PWD/build/win/wine-exec
helper_pid= web_pid=
cleanup() {
  [ -n "$helper_pid" ] && kill "$helper_pid" 2>/dev/null
  [ -n "$web_pid" ] && kill "$web_pid" 2>/dev/null
  "$wine_exec" --down
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
settings='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
show_proxy() { "$wine_exec" reg query "$settings" 2>/dev/null | grep -E 'Proxy(Enable|Server|Override)' || echo "    (no proxy values)"; }

echo "== preparing a Wine prefix"
"$wine_exec" --up
"$wine_exec" reg add "$settings" /v ProxyEnable /t REG_DWORD /d 0 /f >/dev/null 2>&1
"$wine_exec" reg add "$settings" /v ProxyServer /t REG_SZ /d "user.proxy.example:3128" /f >/dev/null 2>&1

# The helper with the stand-in engine beside it as sing-box.exe (a test tool, never shipped).
mkdir -p "$work/app"
cp build/win/bin/PelnoVpnHelperService.exe "$work/app/"
cp build/win/bin/pelno-stand-in-engine.exe "$work/app/sing-box.exe"

echo "== starting the helper as a plain process"
"$wine_exec" "$work/app/PelnoVpnHelperService.exe" </dev/null >/dev/null 2>&1 &
helper_pid=$!
for _ in $(seq 150); do
  curl -s -o /dev/null http://127.0.0.1:17891/ping && break
  sleep 0.2
done

echo "== GET /ping"
curl -sS -i http://127.0.0.1:17891/ping; echo

echo "== a local web server for the proxied request"
mkdir -p "$work/www"; echo "hello through the PelnoVPN engine" > "$work/www/hello.txt"
web_port=$(free_port)
python3 -m http.server "$web_port" --bind 127.0.0.1 --directory "$work/www" >/dev/null 2>&1 &
web_pid=$!

echo "== the user's proxy settings before"
show_proxy

mixed_port=$(free_port)
config=$(cat <<JSON
{
  "inbounds": [
    { "type": "mixed", "tag": "pelno-vpn-mixed", "listen": "127.0.0.1", "listen_port": $mixed_port }
  ],
  "outbounds": [ { "type": "direct", "tag": "direct" } ]
}
JSON
)
echo "== POST /start (mixed inbound on port $mixed_port)"
curl -sS -X POST --data-binary "$config" -H 'Content-Type: application/json' http://127.0.0.1:17891/start; echo
echo "== GET /status"
curl -sS http://127.0.0.1:17891/status; echo
echo "== the system proxy while connected"
show_proxy

echo "== a real HTTP request through the engine's proxy port"
curl -sS --noproxy '' -x "http://127.0.0.1:$mixed_port" "http://127.0.0.1:$web_port/hello.txt"

echo "== POST /stop"
curl -sS -X POST http://127.0.0.1:17891/stop; echo
echo "== the user's proxy settings after"
show_proxy

echo "== GET /logs"
curl -sS http://127.0.0.1:17891/logs
