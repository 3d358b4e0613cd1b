#!/usr/bin/env bash
# Installs what is missing, builds the tool and starts it under Wine in a throwaway prefix
# of its own: drive Z: removed, reports going to a recorder on 127.0.0.1, web pages that
# the tool opens recorded instead of opened. On the current X display when there is one;
# otherwise on Xvfb, where a screenshot is saved (build/run-screenshot.png) and the tool is
# then closed.
#
#   scripts/run.sh [--screenshot]    --screenshot: use Xvfb even when a display exists
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

headless=0
[ "${1:-}" = --screenshot ] && headless=1
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then headless=1; fi

mfk_ensure_packages
# The same configuration as scripts/test.sh, so that the two don't rebuild each other's
# build folder; only the tool and the stand-in browser are built.
cmake -S "$MFK_ROOT" -B "$MFK_BUILD" -DCMAKE_TOOLCHAIN_FILE="$MFK_ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DMFK_BUILD_TESTS=ON >/dev/null
cmake --build "$MFK_BUILD" -j"$(nproc)" --target MarrowFinchKiller url_recorder

work="$(mktemp -d "$MFK_BUILD/run.XXXXXX")"
prefix="$work/prefix"
recorder_pid=""
cleanup() {
  (mfk_wine_env "$prefix"; "$WINESERVER" -k 2>/dev/null || true)
  [ -n "$recorder_pid" ] && kill "$recorder_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Usage reports go to the recorder through http_proxy.
python3 "$MFK_ROOT/scripts/http_recorder.py" --port-file "$work/port" --log "$work/requests.log" &
recorder_pid=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
export MFK_HTTP_PROXY="http://127.0.0.1:$(cat "$work/port")"

# The prefix's browser is a recorder too: the links and the download land in a list.
extra="$work/settings.reg"
printf '[HKEY_CLASSES_ROOT\\http\\shell\\open\\command]\r\n@="\\"C:\\\\mfk\\\\url_recorder.exe\\" \\"%%1\\""\r\n\r\n' >"$extra"
# The tool has the desktop's shell (Explorer) start the browser, which then has Explorer's
# environment, not the tool's: the list is named in the registry.
printf '[HKEY_CURRENT_USER\\Software\\MarrowFinchTests]\r\n"UrlLog"="C:\\\\mfk\\\\opened-urls.txt"\r\n\r\n' >>"$extra"
# Xvfb has no window manager: unmanaged windows spare Wine's wait for one.
if [ "$headless" = 1 ]; then
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n' >>"$extra"
fi
echo "== preparing a prefix of its own in $prefix"
mfk_make_prefix "$prefix" "$extra"
mkdir -p "$prefix/drive_c/mfk"
cp "$MFK_BUILD/bin/MarrowFinchKiller.exe" "$MFK_BUILD/bin/url_recorder.exe" "$prefix/drive_c/mfk/"

mfk_wine_env "$prefix"
export WINE WINESERVER

if [ "$headless" = 0 ]; then
  echo "== starting the tool on $DISPLAY; close it to end"
  "$WINE" 'C:\mfk\MarrowFinchKiller.exe' </dev/null >/dev/null 2>&1 || true
else
  shot="$MFK_BUILD/run-screenshot.png"
  echo "== starting the tool on Xvfb"
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$WINE" "C:\\mfk\\MarrowFinchKiller.exe" </dev/null >/dev/null 2>&1 &
    for _ in $(seq 600); do
      xwininfo -root -tree 2>/dev/null | grep -q "Marrow Finch" && break
      sleep 0.1
    done
    sleep 2  # let it paint
    xwd -root -silent >"$1.xwd" && python3 "$2/scripts/pngfile.py" "$1.xwd" "$1" && rm -f "$1.xwd"
    "$WINESERVER" -k 2>/dev/null || true' run "$shot" "$MFK_ROOT"
  echo "== screenshot: $shot"
fi

"$WINESERVER" -w 2>/dev/null || true
echo "== reports received:"
cat "$work/requests.log" 2>/dev/null || true
echo "== pages opened:"
cat "$prefix/drive_c/mfk/opened-urls.txt" 2>/dev/null || true
