#!/usr/bin/env bash
# Builds the Windows distribution folder dist/PelnoVPN/, laid out as a Flutter
# Windows release: the application, the engine library beside it (our stand-in
# flutter_windows.dll until the real one replaces it), the helper, and the "data"
# folder that the user interface build fills (flutter_assets, icudtl.dat, app.so).
# No proxy engine: sing-box.exe is the user's to add next to PelnoVPN.exe. The
# programs come without symbols (their debug information stays in build/win/symbols).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset win >/dev/null
cmake --build --preset win -j2 --target PelnoVPN PelnoVpnHelperService flutter_windows

dist=dist/PelnoVPN
rm -rf "$dist"
mkdir -p "$dist/data/flutter_assets"
programs=(PelnoVPN.exe flutter_windows.dll PelnoVpnHelperService.exe)
cp "${programs[@]/#/build/win/bin/}" "$dist/"
# Signed when PELNO_SIGN_PKCS12 and PELNO_SIGN_PASSWORD_FILE name a certificate (tools/sign.sh).
sh tools/sign.sh "${programs[@]/#/$dist/}"
cat > "$dist/README.txt" <<'TEXT'
PelnoVPN for Windows

PelnoVPN.exe               the application
PelnoVpnHelperService.exe  the helper service (installed on the first TUN connect)
flutter_windows.dll        the Flutter engine library
data\                      the user interface bundle (flutter_assets, icudtl.dat, app.so)

Put sing-box.exe next to PelnoVPN.exe (or into the data folder) before connecting.
TEXT
echo "dist: $(cd "$dist" && pwd)"
(cd "$dist" && find . -type f -o -type d | sort | sed 's/^/  /')
