#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine (run as root, or with sudo).
set -euo pipefail
packages=(
  cmake ninja-build g++ python3 curl googletest nlohmann-json3-dev
  mingw-w64 g++-mingw-w64-x86-64
  wine wine64 xvfb x11-apps x11-utils
  clang libclang-rt-14-dev nsis osslsigncode openssl ccache
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi
