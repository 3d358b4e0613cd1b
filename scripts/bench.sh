#!/usr/bin/env bash
# Builds, prepares the test prefix if there is none, and prints the scan benchmark's
# figures. Arguments go to the benchmark: [--files N] [--dirs N] [--rounds N].
# --real N measures, in the same run, a second tree of N files made of hard-linked copies
# of the prefix's own C:\windows: mostly real executables, many with version resources,
# the closest thing here to a system drive. --responsiveness also times how the program's
# window answers during a run over 200,000 files, and how soon a stop brings the offer.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
export MFK_BUILD WINE

real=0
responsiveness=0
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --real) real="$2"; shift 2 ;;
    --responsiveness) responsiveness=1; shift ;;
    *) args+=("$1"); shift ;;
  esac
done

mfk_ensure_packages
mfk_build -DMFK_BUILD_TESTS=ON
prefix="$MFK_BUILD/wineprefix"
if [ ! -d "$prefix/drive_c" ]; then
  printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\r\n"t:"="network"\r\n\r\n' >"$MFK_BUILD/bench-drives.reg"
  mfk_make_prefix "$prefix" "$MFK_BUILD/bench-drives.reg"
  ln -sfn "$MFK_BUILD" "$prefix/dosdevices/t:"
fi
mfk_wine_env "$prefix"
cleanup() { rm -rf "$MFK_BUILD/benchtree" "$MFK_BUILD/realtree" "$MFK_BUILD/resptree"; }
trap cleanup EXIT
cleanup

if [ "$real" -gt 0 ]; then
  # Whole copies of the Windows folder as hard links until there are enough files, then
  # the last copy cut to the count asked for.
  copies=0
  while [ "$(find "$MFK_BUILD/realtree" -type f 2>/dev/null | wc -l)" -lt "$real" ]; do
    mkdir -p "$MFK_BUILD/realtree"
    cp -al "$prefix/drive_c/windows" "$MFK_BUILD/realtree/copy$copies"
    copies=$((copies + 1))
  done
  extra=$(($(find "$MFK_BUILD/realtree" -type f | wc -l) - real))
  find "$MFK_BUILD/realtree/copy$((copies - 1))" -type f | awk -v n="$extra" 'NR <= n' | xargs -r -d '\n' rm -f
fi

export MFK_RESPONSIVENESS="$responsiveness"
xvfb-run -a bash -c '
  echo "== synthetic tree"
  "$WINE" "$MFK_BUILD/bin/scan_bench.exe" "$@" </dev/null 2>&1 | cat
  if [ -d "$MFK_BUILD/realtree" ]; then
    echo "== real tree: copies of C:\\windows"
    "$WINE" "$MFK_BUILD/bin/scan_bench.exe" --root "T:\\realtree" --existing "$@" </dev/null 2>&1 | cat
  fi
  if [ "$MFK_RESPONSIVENESS" = 1 ]; then
    echo "== the window during a run of 200,000 files"
    "$WINE" "$MFK_BUILD/bin/responsiveness.exe" </dev/null 2>&1 | cat
  fi' bench "${args[@]}"
