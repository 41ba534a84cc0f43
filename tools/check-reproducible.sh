#!/usr/bin/env bash
# Builds the distribution folder and the setup twice from the current commit, in two
# copies at different paths, and compares the SHA-256 of every file: the bytes of a
# release must not depend on where or when it was built. Prints the hashes of both
# builds; exits 1 when they differ. Unsigned: a signature carries its own signing time.
set -euo pipefail
cd "$(dirname "$0")/.."
commit=$(git rev-parse HEAD)
work=$(mktemp -d /tmp/pelno-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
unset PELNO_SIGN_PKCS12 PELNO_SIGN_PASSWORD_FILE PELNO_DIST_DIR

launchers=()
if command -v ccache >/dev/null; then
  launchers=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

for build in first the-second-build; do
  tree=$work/$build/PelnoVPN
  mkdir -p "$tree"
  git archive "$commit" | tar -x -C "$tree"
  # The first build may take its objects from ccache; the second compiles every one
  # (and refreshes the cache), so a path or time that gets into an object shows.
  if ! (cd "$tree" && export CCACHE_BASEDIR=$tree &&
        if [ "$build" != first ]; then export CCACHE_RECACHE=1; fi &&
        cmake --preset win "${launchers[@]}" && bash tools/make-dist.sh &&
        bash tools/make-setup.sh) > "$work/$build.log" 2>&1; then
    tail -n 40 "$work/$build.log" >&2
    echo "check-reproducible: the $build build failed" >&2
    exit 1
  fi
  (cd "$tree" && find dist/PelnoVPN -type f | LC_ALL=C sort | xargs sha256sum &&
   sha256sum build/win/PelnoVPN-Setup.exe) > "$work/$build.sha256"
  echo "== $build ($tree)"
  cat "$work/$build.sha256"
done

if diff -u "$work/first.sha256" "$work/the-second-build.sha256"; then
  echo "reproducible: both builds of $commit are identical"
else
  echo "not reproducible: the builds of $commit differ" >&2
  exit 1
fi
