#!/usr/bin/env bash
# Native (Linux) builds of the pure byte parsers, with clang's sanitizers: a libFuzzer
# target and a dump tool, both from the same objects, and the two checks that use them.
#   native.sh build            builds into $MFK_BUILD/native
#   native.sh oracle           the version reader against pefile on every module Wine ships
#   native.sh fuzz [seconds]   fuzzes the version reader (PE and NE images, both block
#                              layouts, LZ-compressed files), seeded with Wine's own modules
#                              and the fixtures
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

out="$MFK_BUILD/native"
wine_modules=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
sources=("$MFK_ROOT/engine/version_resource.cpp" "$MFK_ROOT/engine/lz_expand.cpp")
flags=(-std=c++17 -g -O1 -Wall -Wextra -Werror -fno-sanitize-recover=all -I"$MFK_ROOT")

build() {
  mkdir -p "$out"
  clang++ "${flags[@]}" -fsanitize=fuzzer,address,undefined "${sources[@]}" \
    "$MFK_ROOT/tests/native/version_fuzz.cpp" -o "$out/version_fuzz"
  clang++ "${flags[@]}" -fsanitize=fuzzer-no-link,address,undefined "${sources[@]}" \
    "$MFK_ROOT/tests/native/version_dump.cpp" -o "$out/version_dump"
}

case "${1:-}" in
  build) build ;;
  oracle)
    [ -x "$out/version_dump" ] || build
    /usr/bin/python3 "$MFK_ROOT/tests/native/pefile_oracle.py" "$out/version_dump" "$wine_modules"
    ;;
  fuzz)
    seconds="${2:-60}"
    [ -x "$out/version_fuzz" ] || build
    # The seeds are made here, never committed: Wine's smaller modules (real resource
    # directories, many languages) and the test fixtures (PE and NE images, blocks of
    # both layouts, compressed files).
    rm -rf "$out/seeds" "$out/corpus" "$out"/crash-* "$out"/leak-* "$out"/timeout-* "$out"/oom-*
    mkdir -p "$out/seeds" "$out/corpus"
    find "$wine_modules" -maxdepth 1 -type f -size -256k -exec cp {} "$out/seeds/" \;
    # Compressed fixtures only when small: every mutation of a large one is expanded anew,
    # and with the large ones a minute ran fifteen times fewer inputs.
    find "$MFK_BUILD/bin/fixtures" -maxdepth 1 -name '*.exe' ! \( -name 'lz_*' -size +8k \) \
      -exec cp {} "$out/seeds/" \; 2>/dev/null || true
    echo "fuzzing for ${seconds} s from $(ls "$out/seeds" | wc -l) seeds"
    "$out/version_fuzz" -max_total_time="$seconds" -max_len=262144 -rss_limit_mb=2048 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$out/" "$out/corpus" "$out/seeds" 2>&1 |
      grep -E '^(stat::|INFO: Done|==|SUMMARY|.*ERROR|.*crash|.*leak)' || true
    # libFuzzer's own exit status is lost in the pipe; a crash leaves an artifact behind.
    if ls "$out"/crash-* "$out"/leak-* "$out"/timeout-* "$out"/oom-* >/dev/null 2>&1; then
      echo "the fuzzer found inputs that fail: $(ls "$out"/crash-* "$out"/leak-* "$out"/timeout-* "$out"/oom-* 2>/dev/null)" >&2
      exit 1
    fi
    ;;
  *) echo "usage: $0 build | oracle | fuzz [seconds]" >&2; exit 2 ;;
esac
