#!/bin/sh
# Writes the NSIS lines that remove the top-level entries of a distribution folder
# from $INSTDIR, so the uninstaller deletes what the setup put there and nothing
# else of a folder the user chose. Usage: list-dist-files.sh DIST_DIR OUT_FILE
set -eu
dist=$1
out=$2
find "$dist" -mindepth 1 -maxdepth 1 | LC_ALL=C sort | while IFS= read -r path; do
  name=$(basename "$path")
  case "$name" in
    *[\"\$\`]*) echo "list-dist-files: unusable name: $name" >&2; exit 1 ;;
  esac
  if [ -d "$path" ]; then
    printf 'RMDir /r "$INSTDIR\\%s"\n' "$name"
  else
    printf 'Delete "$INSTDIR\\%s"\n' "$name"
  fi
done > "$out"
