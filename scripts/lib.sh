# Shared by run.sh and test.sh: packages, build and Wine prefixes. Source it; don't run it.

MFK_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
MFK_BUILD="${MFK_BUILD:-$MFK_ROOT/build}"
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

MFK_PACKAGES=(g++-mingw-w64-x86-64-posix wine64 xvfb xauth x11-apps x11-utils googletest fonts-wqy-microhei fonts-wine cmake make python3
  clang libclang-rt-14-dev python3-pefile)

mfk_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs whatever of the Debian packages is missing.
mfk_ensure_packages() {
  local missing=()
  for pkg in "${MFK_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    mfk_as_root apt-get update
    mfk_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

mfk_build() {
  cmake -S "$MFK_ROOT" -B "$MFK_BUILD" -DCMAKE_TOOLCHAIN_FILE="$MFK_ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release "$@"
  cmake --build "$MFK_BUILD" -j"$(nproc)"
}

# The environment every Wine call of ours runs in.
mfk_wine_env() {
  export WINEPREFIX="$1"
  export WINEDEBUG=-all
  # No Mono or Gecko installers, and no menu entries or file associations on the host.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export http_proxy="${MFK_HTTP_PROXY:-http://127.0.0.1:9}"
  unset https_proxy HTTPS_PROXY HTTP_PROXY
}

# Brings up the prefix's services and desktop with output going nowhere, and waits until
# Wine's mount manager knows every drive (tests/support/warmup.cpp). Run it under the display
# the tests use, before the first test.
mfk_warmup() {
  "$WINE" "$MFK_BUILD/bin/mfk_warmup.exe" </dev/null >/dev/null 2>&1 ||
    { echo "the prefix's drives were not ready after a minute" >&2; return 1; }
}

# mfk_reg_multi_sz <string>...: the hex(7) data of a REG_MULTI_SZ value in a .reg file.
mfk_reg_multi_sz() {
  printf '%s\0' "$@" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ',' | sed 's/^,//; s/,$/,00,00/'
}

# mfk_make_prefix <prefix> [<reg file with extra settings>]
# A fresh prefix that can't reach the host: drive Z: (the whole Linux root) is removed
# and the user folders that Wine links to the Linux home become plain folders.
mfk_make_prefix() {
  local prefix="$1" extra="${2:-}"
  (
    mfk_wine_env "$prefix"
    [ -d "$prefix" ] && "$WINESERVER" -k 2>/dev/null || true
    rm -rf "$prefix"
    "$WINE" wineboot -i >/dev/null 2>&1
    "$WINESERVER" -w
    # Wine's own Marlett (the caption buttons' glyphs) and Tahoma (its default UI face):
    # Debian's fonts-wine puts them where this Wine doesn't look.
    cp /usr/share/wine/fonts/{marlett,tahoma,tahomabd}.ttf "$prefix/drive_c/windows/Fonts/"
    local reg="$prefix/drive_c/mfk-settings.reg"
    {
      printf 'Windows Registry Editor Version 5.00\r\n\r\n'
      # Chinese dialog text needs a CJK font behind the template's "宋体".
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
      printf '"宋体"="WenQuanYi Micro Hei"\r\n"SimSun"="WenQuanYi Micro Hei"\r\n"NSimSun"="WenQuanYi Micro Hei"\r\n\r\n'
      # Captions are bold Tahoma, which has no Chinese glyphs; Wine links a bold face to
      # others by its full name, and only to fonts named by a file it has.
      printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
      printf '"Tahoma Bold"=hex(7):%s\r\n\r\n' "$(mfk_reg_multi_sz 'wqy-microhei.ttc,WenQuanYi Micro Hei')"
      # Without a window manager Wine draws the captions itself.
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Decorated"="N"\r\n\r\n'
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n\r\n'
      if [ -n "$extra" ]; then cat "$extra"; fi
      # Last: when it is there, everything above it was imported.
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\MarrowFinchTests]\r\n"Settings"="imported"\r\n\r\n'
    } | iconv -f UTF-8 -t UTF-16 >"$reg"
    # regedit says nothing when an import fails, and a prefix without its drive types would
    # let an all-drives scan walk the build folder: look, and try once more.
    local attempt
    for attempt in 1 2; do
      "$WINE" regedit /S 'C:\mfk-settings.reg'
      "$WINESERVER" -w
      grep -q '"Settings"="imported"' "$prefix/user.reg" && break
      if [ "$attempt" = 2 ]; then
        echo "the settings were not imported into $prefix" >&2
        return 1
      fi
    done
    rm -f "$reg"
    # Only C: stays: Z: is the whole Linux root, and any other letter Wine found is the host's.
    find "$prefix/dosdevices" -mindepth 1 -maxdepth 1 -name '?:' ! -name 'c:' -exec rm -f {} +
    # Wine links the user folders (Desktop, Documents, Templates, ...) to the Linux home;
    # a scan of C: would walk straight into it. Every link becomes a plain folder.
    find "$prefix/drive_c" -type l -print0 | while IFS= read -r -d '' link; do
      rm -f "$link" && mkdir -p "$link"
    done
    if [ -n "$(find "$prefix/drive_c" -type l -print -quit)" ]; then
      echo "the prefix still links to the host: $(find "$prefix/drive_c" -type l)" >&2
      return 1
    fi
    # Drive settings are read when the server starts.
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w
  )
}
