#!/usr/bin/env bash
# Issuing from a data file, end to end through tollwick-cli:
# - throughput on the virtual reader at its fastest pace (the card is swiped the moment the
#   reader is armed, --pace 0), one reader and three, without and with --verify, in cards per
#   minute, against the floor the protocol sets: a write takes its write block (one 9-byte output
#   report per 8 bytes), the 50 ms the program waits for chatter after it, and the status; a
#   read-back takes the read block (one input report per USB poll, 1 ms) and the 50 ms gap that
#   ends it. The journal is synced on the same disk as in real use.
# - the dry run of a 100,000-record data file: seconds and peak memory, against 10,000 records
#   (memory stays flat: the file is streamed).
#
#   bash bench/issue_bench.sh [TOLLWICK_CLI] [CARDS]      (default build/release, 300 cards)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
cli=${1:-build/release/src/cli/tollwick-cli}
cards=${2:-300}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TOLLWICK_PROFILE="$work/profile.ini"

records() {  # N FILE: id, name, a 15-digit account number, expiry
    awk -v n="$1" 'BEGIN {
        srand(7); print "id,name,pan,exp"
        for (i = 1; i <= n; i++)
            printf "%d,\"HOLDER %d, TEST\",4%014d,%d\n", i, i, int(rand() * 1e14), 2501 + i % 500
    }' >"$2"
}
records "$cards" "$work/cards.csv"
templates=(--track1 'B{luhn:pan}^{name}^{exp}' --track2 '{luhn:pan}={exp}')

echo "tollwick issue benchmark, $(date '+%Y-%m-%d %H:%M'), $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg)"
printf '%-52s %14s %16s\n' "figure" "cards/min" "protocol ceiling"
for readers in 1 3; do
    for verify in "" --verify; do
        rm -f "$work"/j.db*
        start=$(date +%s.%N)
        "$cli" --simulate --readers "$readers" --pace 0 -q issue "$work/cards.csv" \
            "${templates[@]}" --journal "$work/j.db" --devices all $verify >/dev/null 2>"$work/err" ||
            { echo "issue failed:"; cat "$work/err"; exit 1; }
        end=$(date +%s.%N)
        # The floor per card: write block reports + 50 ms after it + the 2-byte status report;
        # with verify also the read block (about 40 reports at 1 ms) and its 50 ms gap.
        floor_ms=$([ -n "$verify" ] && echo 150 || echo 60)
        awk -v n="$cards" -v s="$start" -v e="$end" -v r="$readers" -v f="$floor_ms" \
            -v label="$readers reader(s), ${verify:-no verify}, $cards cards" 'BEGIN {
            printf "%-52s %14.0f %16.0f\n", label, n / ((e - s) / 60), r * 60000 / f }'
    done
done

echo
printf '%-52s %14s %16s\n' "dry run" "seconds" "peak memory"
for n in 10000 100000; do
    records "$n" "$work/big.csv"
    /usr/bin/time -f "%e %M" -o "$work/time" "$cli" issue "$work/big.csv" "${templates[@]}" \
        --track3 '{row}' --journal "$work/none.db" --dry-run >/dev/null ||
        { echo "dry run failed"; exit 1; }
    read -r seconds kb <"$work/time"
    printf '%-52s %14s %13s MB\n' "$n records" "$seconds" "$(awk -v k="$kb" 'BEGIN{printf "%.1f", k/1024}')"
done
