#!/usr/bin/env bash
# reproducible_build_test.sh <source folder> <work folder>
# Builds the release executable twice with scripts/release.sh: once from the sources as
# they are, once from a copy of them in another folder, into another build folder, with
# another SOURCE_DATE_EPOCH and time zone and at a later time. Both must be the same
# bytes, and neither may name a folder it was built in.
set -euo pipefail
root="$1" work="$2"
rm -rf "$work"
mkdir -p "$work/elsewhere/src"
tar -C "$root" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$work/elsewhere/src" -xf -

first=$(MFK_RELEASE_BUILD="$work/a" "$root/scripts/release.sh" | tail -n1)
second=$(MFK_RELEASE_BUILD="$work/elsewhere/another-build-folder" SOURCE_DATE_EPOCH=86400 TZ=Asia/Shanghai \
  "$work/elsewhere/src/scripts/release.sh" | tail -n1)
echo "first:  $first"
echo "second: $second"
status=0
if [ "$first" != "$second" ]; then
  echo "the two builds differ:" >&2
  cmp -l "$work/a/bin/MarrowFinchKiller.exe" "$work/elsewhere/another-build-folder/bin/MarrowFinchKiller.exe" | head >&2
  status=1
fi
for exe in "$work/a/bin/MarrowFinchKiller.exe" "$work/elsewhere/another-build-folder/bin/MarrowFinchKiller.exe"; do
  if grep -a -o -F -e "$root" -e "$work" "$exe" | head -3 >&2; then
    echo "$exe names a folder it was built in" >&2
    status=1
  fi
done
[ $status -ne 0 ] || rm -rf "$work"
exit $status
