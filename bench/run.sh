#!/usr/bin/env bash
# Builds the benchmarks of the release preset and prints one table of their headline figures:
# codec throughput, the inspector's search, the virtual reader's read and write, and, when the
# desktop program is built, its start-up, swipe-to-screen latency and a From File batch. Where
# the reader sets a floor (a read block ends only after a 50 ms gap, the firmware version text
# after a 350 ms gap, a written card is swiped 80 ms after arming at the fastest), the last
# column is the figure over that floor.
#
#   bash bench/run.sh [--quick]      (--quick: fewer runs, for a smoke test; about 30 s)
#
# Takes a minute or two. The figures depend on the machine's load, printed with them.
set -uo pipefail

cd "$(dirname "$0")/.." || exit 1
quick=0
[ "${1:-}" = "--quick" ] && quick=1

export CMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}"
cmake --preset release >/dev/null || exit 1
targets=(tollwick_codec_bench tollwick_inspect_bench tollwick_reader_bench)
# (grep reads all of ninja's list: with pipefail, grep -q ending early would fail the pipe)
if ninja -C build/release -t targets all 2>/dev/null | grep -c '^tollwick_app_bench:' >/dev/null; then
    targets+=(tollwick_app_bench tollwick_batch_bench)
fi
echo "building ${targets[*]} (release) ..." >&2
cmake --build --preset release --target "${targets[@]}" >/dev/null || {
    echo "build failed: cmake --build --preset release --target ${targets[*]}" >&2
    exit 1
}
bin=build/release/bench

if [ "$quick" = 1 ]; then
    codec_args=(--benchmark_repetitions=3 --benchmark_min_time=0.05)
    reader_runs=10 app_runs=10 batch_cards=30
else
    codec_args=(--benchmark_repetitions=5 --benchmark_min_time=0.2)
    reader_runs=50 app_runs=30 batch_cards=200
fi

load() { cut -d' ' -f1 /proc/loadavg 2>/dev/null || echo "?"; }
load_before=$(load)
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

rows=()
# row FIGURE MEDIAN P99 FLOOR: ratio of the median to the floor when there is one.
row() {
    local ratio="-"
    if [ "$4" != "-" ] && [ "$2" != "-" ]; then
        ratio=$(awk -v m="${2% ms}" -v f="${4% ms}" 'BEGIN { printf "%.2f", m / f }')
    fi
    rows+=("$(printf '%-60s %12s %11s %8s %8s' "$1" "$2" "$3" "$4" "$ratio")")
}
failed() { rows+=("$(printf '%-60s %s' "$1" "FAILED (run $2 alone to see why)")"); }

# Codec: median of the repetitions, tracks (or cards, blocks) per second of CPU time.
if out=$("$bin/tollwick_codec_bench" "${codec_args[@]}" --benchmark_report_aggregates_only=true \
    --benchmark_format=csv 2>/dev/null); then
    while IFS=, read -r name _ _ cpu unit _ items _; do
        name=${name//\"/}
        [[ "$name" == *_median ]] || continue
        name=${name%_median}
        name=${name#BM_}
        row "codec ${name}" "$(awk -v v="$items" 'BEGIN { printf "%.2f M/s", v / 1e6 }')" \
            "$(awk -v c="$cpu" -v u="$unit" 'BEGIN { printf "%.0f %s", c, u }')" "-"
    done <<<"$out"
else
    failed "codec" "$bin/tollwick_codec_bench"
fi

# Inspector: the whole search over formats, directions and polarities for a card of three
# tracks, CPU time per card (median of the repetitions); the window needs it under 2 ms.
if out=$("$bin/tollwick_inspect_bench" "${codec_args[@]}" --benchmark_report_aggregates_only=true \
    --benchmark_format=csv 2>/dev/null); then
    while IFS=, read -r name _ _ cpu unit _ _ _; do
        name=${name//\"/}
        [[ "$name" == *_median ]] || continue
        name=${name%_median}
        name=${name#BM_}
        row "inspector ${name#Inspect}, per card (goal < 2 ms)" \
            "$(awk -v c="$cpu" -v u="$unit" 'BEGIN { f = u == "ns" ? 1e6 : u == "us" ? 1e3 : 1
                printf "%.3f ms", c / f }')" "-" "-"
    done <<<"$out"
else
    failed "inspector" "$bin/tollwick_inspect_bench"
fi

# Median and p99 of a line "... median X ms  p99 Y ms" whose text begins with $2.
median_p99() {
    awk -v key="$2" 'index($0, key) == 1 && !done {
        for (i = 1; i < NF; ++i) {
            if ($i == "median") m = $(i + 1)
            if ($i == "p99") p = $(i + 1)
        }
        done = 1
    }
    END { if (m == "") print "-|-"; else printf "%s ms|%s ms\n", m, p }' <<<"$1"
}

# Virtual reader, without the desktop program: wall time of one read and one write.
if out=$("$bin/tollwick_reader_bench" "$reader_runs" 2>/dev/null); then
    for op in read write; do
        section=$(awk -v op="$op" '$1 == op { on = 1; next } /^[a-z]/ { on = 0 } on' <<<"$out")
        IFS='|' read -r m p <<<"$(median_p99 "$section" "  wall ")"
        IFS='|' read -r cm cp <<<"$(median_p99 "$section" "  process CPU")"
        IFS='|' read -r dm _ <<<"$(median_p99 "$section" "  reports delivered")"
        # The reader's floor: its reports at one per poll, then the 50 ms gap that ends a read
        # block (a write: the 50 ms listen after the command).
        floor=$(awk -v d="${dm% ms}" 'BEGIN { printf "%.0f ms", 50 + d }')
        row "reader: one ${op}, wall (floor: paced reports + 50 ms)" "$m" "$p" "$floor"
        row "reader: one ${op}, process CPU" "$cm" "$cp" "-"
    done
else
    failed "virtual reader" "$bin/tollwick_reader_bench"
fi

if [ -x "$bin/tollwick_app_bench" ]; then
    if out=$("$bin/tollwick_app_bench" "$app_runs" 2>/dev/null); then
        IFS='|' read -r m p <<<"$(median_p99 "$out" 'start-up to "Device READY"')"
        row "desktop: start-up to \"Device READY\" (floor: 350 ms)" "$m" "$p" "350 ms"
        IFS='|' read -r m p <<<"$(median_p99 "$out" "  of it beyond reader waits")"
        row "desktop: start-up, the program's own work" "$m" "$p" "-"
        IFS='|' read -r m p <<<"$(median_p99 "$out" "swipe to track boxes painted")"
        row "desktop: swipe to track boxes (paced block, 50 ms gap)" "$m" "$p" "-"
        IFS='|' read -r m p <<<"$(median_p99 "$out" "end of read block")"
        row "desktop: end of read block (after its gap) to boxes" "$m" "$p" "-"
        cpu=$(sed -n 's/.*(\([0-9.]*\) % of one core).*/\1 %/p' <<<"$out")
        row "desktop: CPU while a Read job waits, of one core" "${cpu:--}" "-" "-"
    else
        failed "desktop program" "$bin/tollwick_app_bench $app_runs"
    fi
    if out=$("$bin/tollwick_batch_bench" "$batch_cards" 0 2>/dev/null); then
        per_card=$(awk '/ wall / { for (i = 1; i < NF; ++i) if ($(i + 1) == "ms") print $i " ms" }' \
            <<<"$out")
        right=$(awk '/cards written correctly/ { sub(";", "", $6); print $4 "/" $6 }' <<<"$out")
        row "desktop: From File per card, ${right} right (floor: 80 ms)" "${per_card:--}" "-" \
            "80 ms"
    else
        failed "From File batch" "$bin/tollwick_batch_bench $batch_cards 0"
    fi
fi

cpu_model=$(awk -F': *' '/^model name/ { print $2; exit }' /proc/cpuinfo 2>/dev/null)
echo "Tollwick benchmarks, release build, $(date '+%Y-%m-%d %H:%M')"
echo "machine: ${cpu_model:-unknown CPU}, $(nproc) cores; load average ${load_before} before, $(load) after"
printf '%-60s %12s %11s %8s %8s\n' "figure" "median" "p99, item" "floor" "x floor"
printf '%s\n' "${rows[@]}"
echo "codec rows: items per second of CPU time and CPU time per item, medians of the repetitions"
