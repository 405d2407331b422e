#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for a bounded time from a copy of its seed
# corpus (fuzz/corpus/TARGET: inputs that reach the target's paths, kept from long runs with
# -merge=1). Exits non-zero when a target crashes or a checked property fails; the input that
# did it is kept under build/fuzz/crashes/. Each target runs in one process on one core: as many
# targets run at once as there are cores.
#
#   bash fuzz/run-smoke.sh            # 20 seconds per target
#   FUZZ_SECONDS=300 bash fuzz/run-smoke.sh
#   FUZZ_JOBS=1 bash fuzz/run-smoke.sh   # one target at a time
#   FUZZ_PRESET=asan bash fuzz/run-smoke.sh   # the targets of the asan build (what CI runs: one
#                                             # sanitizer build for the suite and the targets)
#   FUZZ_SEED=1 bash fuzz/run-smoke.sh   # the same inputs on every run (what CI does)
#
# Without FUZZ_SEED every run draws new inputs: that is how new faults are found, in long runs.
# CI gives a seed, so that its verdict is the code's, not the luck of the draw: a faster machine
# only goes further along the same inputs, and a red run is repeated with the same seed.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${FUZZ_SECONDS:-20}
jobs=${FUZZ_JOBS:-$(nproc)}
preset=${FUZZ_PRESET:-fuzz}
seed_option=""
[[ -n "${FUZZ_SEED:-}" ]] && seed_option="-seed=$FUZZ_SEED"
cd "$root"

[ -f "build/$preset/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"

bin="$root/build/$preset/fuzz"
crashes="$root/build/$preset/crashes"
mkdir -p "$crashes"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

targets=()
for exe in "$bin"/fuzz_*; do
    [[ -f "$exe" && -x "$exe" ]] && targets+=("$(basename "$exe")")
done
if [[ ${#targets[@]} -eq 0 ]]; then
    echo "no fuzz targets in $bin" >&2
    exit 1
fi

# Runs one target from a copy of its seeds; its log and its verdict go to $work.
run_target() {
    local target=$1 corpus="$work/$1" seeds="$root/fuzz/corpus/$1"
    mkdir -p "$corpus"
    if [[ -d "$seeds" ]]; then
        cp -R "$seeds/." "$corpus/"
    fi
    echo "== $target: ${seconds}s from $(find "$corpus" -type f | wc -l) seeds"
    if "$bin/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 ${seed_option} \
        -artifact_prefix="$crashes/$target-" "$corpus" >"$work/$target.log" 2>&1; then
        touch "$work/$target.passed"
    fi
}

running=0
for target in "${targets[@]}"; do
    if ((running >= jobs)); then
        wait -n || true
        running=$((running - 1))
    fi
    run_target "$target" &
    running=$((running + 1))
done
wait

failed=()
for target in "${targets[@]}"; do
    log="$work/$target.log"
    if [[ -f "$work/$target.passed" ]]; then
        echo "$target: $(grep -E '^stat::number_of_executed_units|^Done' "$log" | tail -n 1 || true)"
    else
        echo "!! $target failed:"
        tail -n 40 "$log"
        failed+=("$target")
    fi
done

if [[ ${#failed[@]} -ne 0 ]]; then
    echo "fuzz smoke run failed: ${failed[*]} (inputs in $crashes)" >&2
    exit 1
fi
echo "fuzz smoke run passed: ${targets[*]}"
