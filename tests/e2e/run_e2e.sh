#!/usr/bin/env bash
# The end-to-end scenario in a prefix of its own: makes a fresh prefix (drive C: only, plus
# T: for the build folder as a network drive, which no scan walks), starts the report
# recorder as the HTTP proxy, and runs the scenario's driver there.
# usage: run_e2e.sh <build folder>
set -euo pipefail
MFK_BUILD="$(cd "$1" && pwd)"
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"

prefix="$MFK_BUILD/e2e-prefix"
work="$MFK_BUILD/e2e"
rm -rf "$work" && mkdir -p "$work"
printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\r\n"t:"="network"\r\n\r\n' >"$work/drives.reg"
mfk_make_prefix "$prefix" "$work/drives.reg"
ln -sfn "$MFK_BUILD" "$prefix/dosdevices/t:"

python3 "$MFK_ROOT/scripts/http_recorder.py" --headers --log "$work/requests.log" --port-file "$work/port" &
recorder=$!
# The link race's attacker, waiting for the scenario to say go; never longer than 10 minutes.
python3 "$(dirname "${BASH_SOURCE[0]}")/link_racer.py" "$prefix/drive_c/users/Public/race" "$work" 600 &
racer=$!
cleanup() {
  kill "$recorder" "$racer" 2>/dev/null || true
  WINEPREFIX="$prefix" "$WINESERVER" -k 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
export MFK_HTTP_PROXY="http://127.0.0.1:$(cat "$work/port")"
export MFK_E2E_REQUESTS='T:\e2e\requests.log'
export MFK_RULES_LOG='T:\e2e\rules.log'
mfk_wine_env "$prefix"
"$WINESERVER" -p </dev/null >/dev/null 2>&1
mfk_warmup || exit 1
# MFK_E2E_FILTER runs only the tests it names (a gtest filter), for repeating one of them.
"$WINE" "$MFK_BUILD/bin/e2e_tests.exe" ${MFK_E2E_FILTER:+"--gtest_filter=$MFK_E2E_FILTER"}
