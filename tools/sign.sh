#!/bin/sh
# Signs Windows files in place with an Authenticode signature (SHA-256) through
# osslsigncode: the certificate and key from the PKCS#12 file PELNO_SIGN_PKCS12, its
# password from the file PELNO_SIGN_PASSWORD_FILE, and an RFC 3161 time stamp from
# PELNO_SIGN_TIMESTAMP_URL when that is set. Without the first two nothing is signed
# and one line says so. Usage: sign.sh FILE...
set -eu
if [ -z "${PELNO_SIGN_PKCS12:-}" ] && [ -z "${PELNO_SIGN_PASSWORD_FILE:-}" ]; then
  echo "sign: unsigned (PELNO_SIGN_PKCS12 and PELNO_SIGN_PASSWORD_FILE are not set)"
  exit 0
fi
for needed in PELNO_SIGN_PKCS12 PELNO_SIGN_PASSWORD_FILE; do
  eval "value=\${$needed:-}"
  if [ ! -f "$value" ]; then
    echo "sign: $needed must name a readable file" >&2
    exit 1
  fi
done
for file in "$@"; do
  osslsigncode sign -pkcs12 "$PELNO_SIGN_PKCS12" -readpass "$PELNO_SIGN_PASSWORD_FILE" -h sha256 \
    -n PelnoVPN ${PELNO_SIGN_TIMESTAMP_URL:+-ts "$PELNO_SIGN_TIMESTAMP_URL"} \
    -in "$file" -out "$file.signed" >/dev/null
  mv "$file.signed" "$file"
  echo "sign: signed $file"
done
