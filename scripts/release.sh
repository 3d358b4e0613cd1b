#!/usr/bin/env bash
# Builds the release executable in a clean folder and prints its SHA-256.
#
#   scripts/release.sh [-D<cache entry>=<value> ...]
#
# A release names the maker's hosts (-DMFK_REPORT_HOST=... and the others, see README).
# The build is reproducible: the same source and options give the same bytes in any folder
# at any time, so anyone can build it again and compare the hash. MFK_RELEASE_BUILD names
# the folder (default: build-release beside the sources); it is emptied first.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

mfk_ensure_packages
out="${MFK_RELEASE_BUILD:-$MFK_ROOT/build-release}"
rm -rf "$out"
cmake -S "$MFK_ROOT" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$MFK_ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DMFK_BUILD_TESTS=OFF "$@" >/dev/null
cmake --build "$out" --target MarrowFinchKiller -j"$(nproc)" >/dev/null
exe="$out/bin/MarrowFinchKiller.exe"
echo "SHA-256 of $exe:"
sha256sum "$exe" | cut -d' ' -f1
