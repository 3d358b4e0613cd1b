#!/usr/bin/env bash
# Installs what is missing, builds, prepares a fresh test prefix and runs every test
# under Wine and Xvfb. Works on a fresh Debian 12 machine as root or with sudo.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
export MFK_BUILD WINE

mfk_ensure_packages
mfk_build -DMFK_BUILD_TESTS=ON
# The pure parsers, natively with clang's sanitizers, for the fuzzer and the pefile oracle.
bash "$MFK_ROOT/scripts/native.sh" build

# The test prefix. Tests reach their files through T: (the build folder, a network
# drive) and R: (a removable drive): an all-drives scan walks fixed drives only, so
# it never reaches them, and with Z: gone it never reaches the host either.
prefix="$MFK_BUILD/wineprefix"
mkdir -p "$MFK_BUILD/rdrive" "$MFK_BUILD/tmp"
settings="$MFK_BUILD/test-settings.reg"
printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\r\n"t:"="network"\r\n"r:"="floppy"\r\n\r\n' >"$settings"
# No window manager runs on Xvfb: unmanaged windows spare every hidden window Wine's
# two-second wait for a window manager's answer.
printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n' >>"$settings"
# The prefix's browser is a recorder (tests/ui/url_recorder.c): the pages the tool opens
# are written to a file the test names, and nothing reaches the host's browser.
printf '[HKEY_CLASSES_ROOT\\http\\shell\\open\\command]\r\n@="\\"T:\\\\bin\\\\url_recorder.exe\\" \\"%%1\\""\r\n\r\n' >>"$settings"
# MFK_REUSE_PREFIX=1 keeps an existing prefix (quicker while iterating); CI always
# starts from a fresh one.
if [ "${MFK_REUSE_PREFIX:-0}" != 1 ] || [ ! -d "$prefix/drive_c" ]; then
  echo "== preparing the test prefix $prefix"
  mfk_make_prefix "$prefix" "$settings"
  ln -sfn "$MFK_BUILD" "$prefix/dosdevices/t:"
  ln -sfn "$MFK_BUILD/rdrive" "$prefix/dosdevices/r:"
fi

# Links planted from the host, which Windows code can't make under Wine: a ".sql" copy
# that lies in another directory, a directory link and a file link in a walk, and the same
# two in the path of a type-library file.
links="$MFK_BUILD/links"
rm -rf "$links" "$MFK_BUILD/special" && mkdir -p "$links/copy" "$links/outside" "$links/walk" "$links/walk-outside" \
  "$links/typelib" "$links/typelib-outside" "$links/startup"
ln -s ../outside/prog.sql "$links/copy/prog.sql"
ln -s ../walk-outside "$links/walk/dirlink"
ln -s ../walk-outside/prog.exe "$links/walk/filelink.exe"
ln -s ../typelib-outside "$links/typelib/dirlink"
ln -s ../typelib-outside/victim.dll "$links/typelib/filelink.dll"
# FIFOs whose writer stays open, so that a read of one would wait for ever: a ".sql" copy
# that is one, one met by a walk, and a Startup entry.
mkdir -p "$links/fifo-copy" "$links/fifo-walk"
mkfifo "$links/fifo-copy/prog.sql" "$links/fifo-walk/x.exe" "$links/startup/silent.lnk"
sleep 100000 3<>"$links/fifo-copy/prog.sql" 4<>"$links/fifo-walk/x.exe" 5<>"$links/startup/silent.lnk" &
fifo_writer=$!
trap 'kill $fifo_writer 2>/dev/null || true' EXIT

# A volume of 256 MiB, for a copy that can't fit. Mounting needs root, as CI has; without
# it the test that needs the volume says so and skips.
small="$MFK_BUILD/smallvol"
mountpoint -q "$small" 2>/dev/null && mfk_as_root umount "$small"
rm -rf "$small" && mkdir -p "$small"
if [ "$(id -u)" -eq 0 ] && mount -t tmpfs -o size=256m mfk-smallvol "$small" 2>/dev/null; then
  touch "$small/mounted"
fi

mfk_wine_env "$prefix"
# A persistent server: each test process then starts in a fraction of a second.
"$WINESERVER" -p
trap '"$WINESERVER" -k 2>/dev/null || true; kill $fifo_writer 2>/dev/null || true
  if mountpoint -q "$small"; then umount "$small" || true; fi' EXIT

cd "$MFK_BUILD"
rm -f "$MFK_BUILD/wine-start-failures.log"
set +e
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  source "$0" && mfk_warmup || exit 1
  ctest --output-on-failure -j"$(nproc)" "$@"' "$MFK_ROOT/scripts/lib.sh" "$@"
status=$?
set -e
if [ -s "$MFK_BUILD/wine-start-failures.log" ]; then
  echo "== Wine failed to start a test program; each was started once more:"
  cat "$MFK_BUILD/wine-start-failures.log"
fi
# The screen tests' screenshots (build/screenshots), as PNG files to look at.
for bmp in "$MFK_BUILD"/screenshots/*.bmp; do
  [ -e "$bmp" ] && python3 "$MFK_ROOT/scripts/pngfile.py" "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
exit $status
