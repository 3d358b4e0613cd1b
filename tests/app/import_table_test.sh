#!/usr/bin/env bash
# import_table_test.sh <objdump> <exe>
# The program imports only KnownDLLs, which Windows always takes from the system folder.
# Any other DLL would be looked for beside the program first, and an imported one is
# loaded and started before the program can restrict the search; those are loaded at run
# time from the system folder only (win/system_dlls.h). comctl32 too: its start-up loads
# DLLs by their bare names.
set -euo pipefail
objdump="$1" exe="$2"
# KnownDLLs of every Windows from 7 to 11.
allowed=" advapi32 comdlg32 gdi32 imm32 kernel32 msvcrt ole32 oleaut32 psapi rpcrt4 setupapi shell32 shlwapi user32 ws2_32 "
dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$dlls" ] || { echo "no imports read from $exe" >&2; exit 1; }
status=0
for dll in $dlls; do
  name=$(printf '%s' "${dll%.*}" | tr '[:upper:]' '[:lower:]')
  case "$allowed" in
    *" $name "*) echo "imports $dll" ;;
    *) echo "imports $dll, which is not a KnownDLL: it would be looked for beside the program" >&2; status=1 ;;
  esac
done
exit $status
