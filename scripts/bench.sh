#!/usr/bin/env bash
# Builds, prepares the test prefix if there is none, and prints the scan benchmark's
# figures. Arguments go to the benchmark: [--files N] [--dirs N] [--rounds N].
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
export MFK_BUILD WINE

mfk_ensure_packages
mfk_build -DMFK_BUILD_TESTS=ON
prefix="$MFK_BUILD/wineprefix"
if [ ! -d "$prefix/drive_c" ]; then
  printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\r\n"t:"="network"\r\n\r\n' >"$MFK_BUILD/bench-drives.reg"
  mfk_make_prefix "$prefix" "$MFK_BUILD/bench-drives.reg"
  ln -sfn "$MFK_BUILD" "$prefix/dosdevices/t:"
fi
mfk_wine_env "$prefix"
rm -rf "$MFK_BUILD/benchtree"
xvfb-run -a bash -c '"$WINE" "$MFK_BUILD/bin/scan_bench.exe" "$@" </dev/null 2>&1 | cat' bench "$@"
rm -rf "$MFK_BUILD/benchtree"
