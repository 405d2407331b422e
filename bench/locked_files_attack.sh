#!/usr/bin/env bash
# Attacks on the files tollwick-cli rewrites under a lock (the deck and the profile), with the
# figures the closing note of a change to them gives:
#   - lost updates: two `write` runs at once, one writing track 1 and one track 2 of the same
#     card, N trials; a trial loses an update when either track is not on the card afterwards;
#   - profile opens in one `write` (strace, when installed);
#   - a lock held by another process with --timeout 1: how long until the command ends, and how.
#
#   bash bench/locked_files_attack.sh [CLI] [TRIALS]   (default: the release build, 20 trials)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
cli=$(realpath "${1:-build/release/src/cli/tollwick-cli}")
trials=${2:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
export TOLLWICK_PROFILE="$work/profile.ini"

lost=0
for ((i = 1; i <= trials; i++)); do
    rm -f deck.json
    "$cli" --simulate --deck deck.json --card 1 read >/dev/null 2>&1
    "$cli" --simulate --deck deck.json --card 1 write --track1 "T1RUN$i" >/dev/null 2>&1 &
    a=$!
    "$cli" --simulate --deck deck.json --card 1 write --track2 "$i$i$i" >/dev/null 2>&1 &
    b=$!
    wait $a $b
    card=$("$cli" --simulate --deck deck.json --card 1 read 2>&1)
    if ! grep -q "%T1RUN$i?" <<<"$card" || ! grep -q ";$i$i$i?" <<<"$card"; then
        lost=$((lost + 1))
    fi
done
echo "lost updates, two writers on one card: $lost of $trials trials"

if command -v strace >/dev/null; then
    strace -f -qq -e trace=openat -o opens.txt \
        "$cli" --simulate --deck deck.json --card 1 write --track1 OPENS >/dev/null 2>&1
    echo "profile opens in one write: $(grep -c 'profile.ini' opens.txt)"
    strace -f -qq -e trace=rename,renameat,renameat2 -o renames.txt \
        "$cli" --simulate --deck deck.json --card 1 read >/dev/null 2>&1
    echo "profile rewrites in one read: $(grep -c 'profile.ini' renames.txt)"
fi

if command -v flock >/dev/null; then
    flock deck.json sleep 6 &
    holder=$!
    sleep 0.3
    start=$(date +%s.%N)
    out=$(timeout 10 "$cli" --simulate --deck deck.json --card 1 write --timeout 1 \
        --track1 LOCKED 2>&1)
    status=$?
    end=$(date +%s.%N)
    printf 'deck lock held elsewhere, write --timeout 1: exit %d after %.2f s (%s)\n' \
        "$status" "$(echo "$end - $start" | bc)" "${out//$'\n'/ }"
    kill "$holder" 2>/dev/null
    wait "$holder" 2>/dev/null
fi
