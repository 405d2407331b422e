#!/usr/bin/env bash
# Issuing from a data file, end to end through tollwick-cli:
# - throughput on the virtual reader at its fastest pace (--pace 0: the card goes through as soon
#   as the reader allows), one reader and three, without and with --verify, in cards per minute,
#   against the ceiling the protocol's fixed waits set. A write cannot take less than 81 ms: after
#   the write block the program listens 50 ms for a refusal, so no card is swiped before 80 ms,
#   and the status report follows. A read-back adds at least 51 ms: a read block ends only after
#   a 50 ms gap, after at least one report (these cards' blocks take about ten more, one per 1 ms
#   USB poll, which the ceiling leaves out). Every attempt is two or three journal commits,
#   synced, on the same disk as in real use.
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
printf '%-52s %12s %12s %8s\n' "figure" "cards/min" "ceiling" "share"
for readers in 1 3; do
    for verify in "" --verify; do
        rm -f "$work"/j.db*
        start=$(date +%s.%N)
        "$cli" --simulate --readers "$readers" --pace 0 -q issue "$work/cards.csv" \
            "${templates[@]}" --journal "$work/j.db" --devices all $verify >/dev/null 2>"$work/err" ||
            { echo "issue failed:"; cat "$work/err"; exit 1; }
        end=$(date +%s.%N)
        floor_ms=$([ -n "$verify" ] && echo 132 || echo 81)  # per card and reader
        awk -v n="$cards" -v s="$start" -v e="$end" -v r="$readers" -v f="$floor_ms" \
            -v label="$readers reader(s), ${verify:-no verify}, $cards cards" 'BEGIN {
            rate = n / ((e - s) / 60); ceiling = r * 60000 / f
            printf "%-52s %12.0f %12.0f %7.0f%%\n", label, rate, ceiling, 100 * rate / ceiling }'
    done
done

echo
printf '%-52s %12s %12s\n' "dry run" "seconds" "peak memory"
for n in 10000 100000; do
    records "$n" "$work/big.csv"
    /usr/bin/time -f "%e %M" -o "$work/time" "$cli" issue "$work/big.csv" "${templates[@]}" \
        --track3 '{row}' --journal "$work/none.db" --dry-run >/dev/null ||
        { echo "dry run failed"; exit 1; }
    read -r seconds kb <"$work/time"
    printf '%-52s %12s %9s MB\n' "$n records" "$seconds" "$(awk -v k="$kb" 'BEGIN{printf "%.1f", k/1024}')"
done
