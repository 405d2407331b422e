#!/usr/bin/env bash
# Runs one --simulate session through the Linux tollwick-cli and through tollwick-cli.exe under
# wine, and compares what they print and the files they leave (the deck, the profile, the card
# file, the CSV file, an issue run's deck); line ends, the time stamps of the moment and the
# journal's digests (keyed afresh by each run) aside. Exits 1 on a
# difference, showing it.
#   bash scripts/compare-windows.sh LINUX_CLI WINDOWS_CLI_EXE
# Wine must be ready (scripts/test-windows.sh prepares it).
set -euo pipefail
linux=$(realpath "$1")
windows=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The session: write, read (text, --json, --fields), --csv, To File (a file and standard
# output), From File (a file and standard input), settings, the offline commands, and an issue
# run (a dry run, the cards, its journal). Every name is relative, so that both transcripts name
# the same files.
session() {
    local cli=("$@")
    run() {
        echo "\$ tollwick-cli $*"
        local status=0
        "${cli[@]}" --profile profile.ini "$@" </dev/null >out.txt 2>err.txt || status=$?
        cat out.txt
        sed 's/^/stderr: /' err.txt
        echo "exit $status"
    }
    run --simulate --deck deck.json density 210
    run --simulate --deck deck.json coercivity lo
    run --simulate --deck deck.json write --track1 "B123,SMITH/J" --track2 12345678
    run --simulate --deck deck.json read
    run --simulate --deck deck.json --json read
    run --simulate --deck deck.json --card 4 read --fields
    run --simulate --deck deck.json --card 8 --json read
    run --simulate --deck deck.json --card 3 --json read --fields --csv cards.csv --count 3
    run --simulate --deck deck.json --card 4 read --to-file cards.txt --count 2
    run --simulate --deck deck.json --card 5 read --to-file - --count 1
    run --simulate --deck deck.json --card 2 write --from-file cards.txt
    echo "\$ tollwick-cli ... write --from-file - < cards.txt"
    "${cli[@]}" --profile profile.ini --simulate --deck deck.json --card 3 --json write \
        --from-file - <cards.txt 2>&1 || echo "exit $?"
    run --simulate --deck deck.json --card 2 --json read
    run --simulate --deck deck.json --format raw --card 7 read
    run --simulate --card 11 inspect
    run encode --bpc 7 --ss % --es ? A1
    run decode D411927C20
    run --simulate --deck deck.json --card 99 read
    run --simulate --deck missing/ --card 1 read --to-file missing/cards.txt
    printf 'id,name\n101,AL\n102,BO\n' >issue.csv
    local issue=(issue issue.csv --track1 'A{name}' --track2 '{id}' --journal issue.db)
    run --simulate --deck issue-deck.json "${issue[@]}" --dry-run
    run --simulate --deck issue-deck.json --pace 0 "${issue[@]}" --verify
    run --json journal issue.db
    for file in "${files[@]}"; do
        echo "== $file"
        cat "$file"
    done
}

# The moment of the run: card file stamps ("2026-12-7  9:5:7"), ISO times with an offset or in
# UTC; and the journal's card digests, keyed afresh by each run.
normalise() {
    tr -d '\r' |
        sed -E -e 's/[0-9]{4}-[0-9]{1,2}-[0-9]{1,2}  [0-9]{1,2}:[0-9]{1,2}:[0-9]{1,2}/<stamp>/g' \
            -e 's/[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}([+-][0-9]{2}:[0-9]{2}|Z)/<time>/g' \
            -e 's/"digest":"[0-9a-f]+"/"digest":<digest>/g'
}
files=(deck.json profile.ini cards.txt cards.csv issue-deck.json)

mkdir -p "$work/linux" "$work/windows"
(cd "$work/linux" && session "$linux") | normalise >"$work/linux.txt"
(cd "$work/windows" && session wine "$windows") | normalise >"$work/windows.txt"

if ! diff -u "$work/linux.txt" "$work/windows.txt" >"$work/diff.txt"; then
    echo "compare-windows: tollwick-cli.exe differs from the Linux build:" >&2
    cat "$work/diff.txt" >&2
    exit 1
fi
echo "compare-windows: $(grep -c '^\$ tollwick-cli' "$work/linux.txt") commands and ${#files[@]} files" \
    "alike on Linux and under wine" >&2
