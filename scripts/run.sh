#!/usr/bin/env bash
# Installs what is missing and builds the tool.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

mfk_ensure_packages
mfk_build -DMFK_BUILD_TESTS=OFF
echo "The program is $MFK_BUILD/bin/MarrowFinchKiller.exe"
