#!/usr/bin/env bash
# Builds the benchmark, prepares its Wine prefix if there is none, and prints the scan's
# throughput against the floor (a walk that opens every file and reads 64 bytes), measured
# in the same run (bench/scan_bench.cpp says what each figure is).
#
#   scripts/bench.sh [--files N] [--dirs N] [--rounds N] [--program PATH] [--threads N,N,...]
#                    [--real N] [--cold] [--cold-rounds N] [--cold-kinds K,K,...]
#                    [--cold-metadata] [--cold-wine] [--no-warm] [--responsiveness]
#
# --files, --dirs    the synthetic tree (default 20,000 files in 1,000 directories)
# --rounds N         warm: the best of N rounds of each measurement (default 3)
# --program PATH     warm: the program to time whole (default the one built here)
# --threads LIST     also measure the worker with each of these inspector counts
#                    (the worker is always measured with 1, "single", and with the
#                    program's own choice per drive, "pool")
# --real N           the same measurements on a second tree of N files, copies of the
#                    prefix's own C:\windows: mostly real executables, many with version
#                    resources, the closest thing here to a system drive. Hard links to it
#                    without --cold; whole copies (cp -a) with it, as linked copies share
#                    their page cache with the prefix that Wine itself reads
# --cold             after the warm figures, cold ones (needs root: a writable
#                    /proc/sys/vm/drop_caches, else they are skipped). Each is one process
#                    timing one thing once (scan_bench --only KIND): before it, the infected
#                    files are planted again, then sync, drop_caches=3, and a trivial start
#                    of the same program under the wineserver that is kept up for the run,
#                    so that only the tree is cold. The kinds are interleaved, their order
#                    turned by one each round; each figure is printed with what the disk
#                    did meanwhile (reads, MiB read, writes), then min/median/max, each
#                    round's ratio to the floor and the tools' to the probe with as many
#                    threads (pool to probe, threads=N to probe=N)
# --cold-rounds N    cold rounds (default 3)
# --cold-kinds LIST  what is measured cold (default walk,floor,probe,single,pool and
#                    probe=N and threads=N for each N of --threads); a kind may be repeated
# --cold-metadata    after dropping the caches, read every directory and file attribute of
#                    the tree from Linux, so that only the files' data is cold
# --cold-wine        end the wineserver before dropping the caches and start nothing
#                    before the measurement, so that Wine is as cold as the tree
# --no-warm          only the cold figures
# --responsiveness   also times how the program's window answers during a run over
#                    200,000 files, and how soon a stop brings the offer
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
export MFK_BUILD WINE WINESERVER

usage() { sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; }

all_args=("$@")
real=0
responsiveness=0
warm=1
cold=0
cold_rounds=3
cold_kinds=
cold_metadata=0
cold_wine=0
threads=
shape=()  # --files and --dirs: what the planting of the infected files must know
args=()   # what the warm run of scan_bench gets
while [ $# -gt 0 ]; do
  case "$1" in
    --real) real="$2"; shift 2 ;;
    --responsiveness) responsiveness=1; shift ;;
    --cold) cold=1; shift ;;
    --cold-rounds) cold_rounds="$2"; shift 2 ;;
    --cold-kinds) cold_kinds="$2"; shift 2 ;;
    --cold-metadata) cold_metadata=1; shift ;;
    --cold-wine) cold_wine=1; shift ;;
    --no-warm) warm=0; shift ;;
    --threads) threads="$2"; args+=("$1" "$2"); shift 2 ;;
    --files | --dirs) shape+=("$1" "$2"); args+=("$1" "$2"); shift 2 ;;
    --rounds | --program) args+=("$1" "$2"); shift 2 ;;
    -h | --help) usage; exit 0 ;;
    *) echo "unknown argument: $1" >&2; usage >&2; exit 2 ;;
  esac
done
if [ -z "$cold_kinds" ]; then
  cold_kinds=walk,floor,probe,single,pool
  for n in ${threads//,/ }; do cold_kinds+=",probe=$n,threads=$n"; done
fi
prefix="$MFK_BUILD/wineprefix"
bench_exe="$MFK_BUILD/bin/scan_bench.exe"

# ---- inside the X display: the measurements --------------------------------------------
if [ "${MFK_BENCH_INNER:-}" = 1 ]; then
  if [ "${MFK_BENCH_NO_COLD:-}" = 1 ]; then cold=0; fi
  mfk_wine_env "$prefix"
  # Drive Z: is gone, so Wine can start in no folder of the host but those of T:.
  cd "$MFK_BUILD"
  out="$(mktemp)"
  # A persistent server: each later start costs a few hundredths of a second, and the cold
  # figures need a server that outlives the processes between them.
  "$WINESERVER" -p
  trap '"$WINESERVER" -k 2>/dev/null || true; rm -f "$out"' EXIT
  # The prefix's services and desktop, started here with output going nowhere: they live
  # as long as the server, and would otherwise hold the output of whichever of our
  # processes started them.
  mfk_warmup

  bench() {
    local status=0
    "$WINE" "$bench_exe" "$@" </dev/null >"$out" 2>&1 || status=$?
    tr -d '\r' <"$out"
    return "$status"
  }

  if [ "$warm" = 1 ]; then
    echo "== warm, synthetic tree"
    bench "${args[@]}"
    if [ -d "$MFK_BUILD/realtree" ]; then
      echo "== warm, real tree: copies of C:\\windows"
      bench --root 'T:\realtree' --existing "${args[@]}"
    fi
  fi

  # stats <values...>: min median max
  stats() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.0f %.0f %.0f", v[1], m, v[NR] }'; }

  # cold_one <tree: synthetic|real> <kind>: one cold measurement; prints its result line.
  cold_one() {
    local tree="$1" kind="$2" root dir
    if [ "$tree" = synthetic ]; then
      root='T:\benchtree' dir="$MFK_BUILD/benchtree"
      bench --only reinfect "${shape[@]}" >/dev/null
    else
      root='T:\realtree' dir="$MFK_BUILD/realtree"
    fi
    if [ "$cold_wine" = 1 ]; then
      "$WINESERVER" -k 2>/dev/null || true
      "$WINESERVER" -w 2>/dev/null || true
    fi
    sync
    echo 3 >/proc/sys/vm/drop_caches
    if [ "$cold_metadata" = 1 ]; then find "$dir" -printf '%s\n' >/dev/null; fi
    if [ "$cold_wine" = 0 ]; then bench --only none >/dev/null; fi
    local before after line
    before=$(disk_io)
    line=$(bench --only "$kind" --root "$root" --existing | grep '^result ')
    after=$(disk_io)
    # shellcheck disable=SC2086
    echo "$line $(io_delta $before $after)"
  }

  # What the disk under the trees did: reads completed, sectors read, writes completed
  # (/sys/block/DEV/stat). The process's own start is in it too, small once Wine is warm.
  disk_stat="/sys/class/block/$(basename "$(df --output=source "$MFK_BUILD" | tail -n 1)")/stat"
  disk_io() { if [ -r "$disk_stat" ]; then awk '{ print $1, $3, $5 }' "$disk_stat"; else echo 0 0 0; fi; }
  io_delta() { echo $(($4 - $1)) $(($5 - $2)) $(($6 - $3)); }

  # cold_series <tree>: the interleaved rounds and their spread.
  cold_series() {
    local tree="$1" r j kind line
    local -a kinds
    IFS=, read -r -a kinds <<<"$cold_kinds"
    local k=${#kinds[@]}
    declare -A rates=() ratios=() probe_ratios=()
    echo "== cold, $tree tree: $cold_rounds rounds of ${cold_kinds//,/ }$([ "$cold_metadata" = 1 ] && echo ', metadata warm')$([ "$cold_wine" = 1 ] && echo ', Wine cold too')"
    for ((r = 0; r < cold_rounds; r++)); do
      declare -A round=()
      for ((j = 0; j < k; j++)); do
        kind="${kinds[$(((j + r) % k))]}"
        line=$(cold_one "$tree" "$kind") || { echo "cold $kind failed" >&2; return 1; }
        # result KIND FILES SECONDS FILES_PER_SECOND INFECTED, then the disk's reads,
        # sectors read and writes
        read -r _ _ files seconds rate infected reads sectors writes <<<"$line"
        printf 'round %d  %-10s %8.0f files/s  (%.3f s, %d files, %d infected; disk: %d reads, %.1f MiB, %d writes)\n' \
          $((r + 1)) "$kind" "$rate" "$seconds" "$files" "$infected" "$reads" "$(awk -v s="$sectors" 'BEGIN { print s / 2048 }')" "$writes"
        rates[$kind]+=" $rate"
        round[$kind]="$rate"
      done
      if [ -n "${round[floor]:-}" ]; then
        for kind in "${!round[@]}"; do
          [ "$kind" = floor ] || ratios[$kind]+=" $(awk -v a="${round[$kind]}" -v b="${round[floor]}" 'BEGIN { printf "%.3f", a / b }')"
        done
      fi
      # The tools against the probe with as many threads.
      for kind in "${!round[@]}"; do
        local probe=
        case "$kind" in pool | program) probe=probe ;; threads=*) probe="probe=${kind#threads=}" ;; esac
        if [ -n "$probe" ] && [ -n "${round[$probe]:-}" ]; then
          probe_ratios[$kind]+=" $(awk -v a="${round[$kind]}" -v b="${round[$probe]}" 'BEGIN { printf "%.3f", a / b }')"
        fi
      done
      unset round
    done
    printf '%-10s %8s %8s %8s  files/s   %s\n' kind min median max "tool/floor in each round; tool/probe"
    local seen=,
    for kind in "${kinds[@]}"; do
      case "$seen" in *",$kind,"*) continue ;; esac
      seen+="$kind,"
      # shellcheck disable=SC2086
      read -r lo mid hi <<<"$(stats ${rates[$kind]})"
      printf '%-10s %8s %8s %8s           %s%s\n' "$kind" "$lo" "$mid" "$hi" "${ratios[$kind]:-}" \
        "${probe_ratios[$kind]:+;${probe_ratios[$kind]}}"
    done
  }

  if [ "$cold" = 1 ]; then
    if [ ! -d "$MFK_BUILD/benchtree" ]; then bench --only build "${shape[@]}" >/dev/null; fi
    cold_series synthetic
    if [ -d "$MFK_BUILD/realtree" ]; then cold_series real; fi
  fi

  if [ "$responsiveness" = 1 ]; then
    echo "== the window during a run of 200,000 files"
    "$WINE" "$MFK_BUILD/bin/responsiveness.exe" </dev/null >"$out" 2>&1 || true
    tr -d '\r' <"$out"
  fi
  exit 0
fi

# ---- outside: build, prefix, trees -----------------------------------------------------
if [ "$cold" = 1 ]; then
  sync
  if ! (echo 3 >/proc/sys/vm/drop_caches) 2>/dev/null; then
    echo "== /proc/sys/vm/drop_caches isn't writable here (run as root): no cold figures" >&2
    cold=0
    if [ "$warm" = 0 ]; then exit 1; fi
    export MFK_BENCH_NO_COLD=1
  fi
fi

mfk_ensure_packages
cmake -S "$MFK_ROOT" -B "$MFK_BUILD" -DCMAKE_TOOLCHAIN_FILE="$MFK_ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DMFK_BUILD_TESTS=ON >/dev/null
cmake --build "$MFK_BUILD" -j"$(nproc)" --target scan_bench responsiveness mfk_warmup >/dev/null
if [ ! -d "$prefix/drive_c" ]; then
  printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\r\n"t:"="network"\r\n\r\n' >"$MFK_BUILD/bench-drives.reg"
  mfk_make_prefix "$prefix" "$MFK_BUILD/bench-drives.reg"
  ln -sfn "$MFK_BUILD" "$prefix/dosdevices/t:"
fi
cleanup() { rm -rf "$MFK_BUILD/benchtree" "$MFK_BUILD/realtree" "$MFK_BUILD/resptree"; }
trap cleanup EXIT
cleanup

if [ "$real" -gt 0 ]; then
  # Whole copies of the Windows folder until there are enough files, then the last copy
  # cut to the count asked for. A cold tree must not share its pages with anything Wine
  # reads, so it is made of real copies then; hard links are quicker to make.
  copy=(cp -al)
  if [ "$cold" = 1 ]; then copy=(cp -a); fi
  copies=0
  while [ "$(find "$MFK_BUILD/realtree" -type f 2>/dev/null | wc -l)" -lt "$real" ]; do
    mkdir -p "$MFK_BUILD/realtree"
    "${copy[@]}" "$prefix/drive_c/windows" "$MFK_BUILD/realtree/copy$copies"
    copies=$((copies + 1))
  done
  extra=$(($(find "$MFK_BUILD/realtree" -type f | wc -l) - real))
  find "$MFK_BUILD/realtree/copy$((copies - 1))" -type f | awk -v n="$extra" 'NR <= n' | xargs -r -d '\n' rm -f
fi

MFK_BENCH_INNER=1 xvfb-run -a "$BASH" "${BASH_SOURCE[0]}" "${all_args[@]}"
