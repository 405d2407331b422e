#!/usr/bin/env bash
# kill -9 at random moments of an issue run, then resume until it is done; after every trial
# each row of the data file is on exactly one card: the journal has exactly one written or
# verified attempt per row, the virtual decks hold each record on exactly one card, and the
# journal opens and passes PRAGMA integrity_check. Rows left uncertain by the kill are decided
# by reading their card (--recheck-uncertain).
#
#   tests/issue_kill_test.sh TOLLWICK_CLI [TRIALS]      (default 100 trials)
#
# Trials alternate one and three virtual readers, with and without --verify. Prints one line per
# trial and the totals; exits 1 on the first trial that breaks the rule.
set -uo pipefail
cli=$1
trials=${2:-100}
rows=${ROWS:-12}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TOLLWICK_PROFILE="$work/profile.ini"

data="$work/data.csv"
{
    echo "id,name"
    for ((r = 1; r <= rows; r++)); do echo "$((1000000000 + r)),HOLDER $r"; done
} >"$data"

check() {  # journal deck-prefix readers
    /usr/bin/env python3 - "$1" "$2" "$3" "$rows" <<'PY'
import json, re, sqlite3, sys
journal, deck, readers, rows = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
db = sqlite3.connect(journal)
assert db.execute("PRAGMA integrity_check").fetchone()[0] == "ok", "integrity_check failed"
taken = {}
for row, status in db.execute("SELECT row, status FROM attempt"):
    assert status != "uncertain", f"row {row} still uncertain"
    if status in ("written", "verified"):
        taken[row] = taken.get(row, 0) + 1
for r in range(1, rows + 1):
    assert taken.get(r) == 1, f"row {r} taken {taken.get(r, 0)} times in the journal"
decided = db.execute("SELECT count(*) FROM attempt WHERE decided = 1").fetchone()[0]
rechecked = db.execute(
    "SELECT count(*) FROM attempt WHERE decided = 1 AND status = 'verified'").fetchone()[0]
# The decks: every record's track 2 on exactly one card.
paths = [deck] if readers == 1 else [f"{deck}.{k}" for k in range(1, readers + 1)]
held = {}
for path in paths:
    for card in json.load(open(path))["cards"]:
        # A card the run wrote is named by what it holds: "written %B...?  ;1000000007?".
        found = re.search(r";(\d+)\?", card.get("name", ""))
        if found:
            held[found.group(1)] = held.get(found.group(1), 0) + 1
for r in range(1, rows + 1):
    n = held.get(str(1000000000 + r), 0)
    assert n == 1, f"row {r} is on {n} cards of the decks"
unverified = db.execute(
    "SELECT count(*) FROM attempt WHERE decided = 0 AND note = 'read back as written'").fetchone()[0]
print(decided, rechecked, unverified)
PY
}

uncertain_total=0
rechecked_total=0
unverified_total=0
killed_mid_run=0
for ((t = 1; t <= trials; t++)); do
    rm -f "$work"/j.db* "$work"/deck*
    readers=$(( t % 3 == 0 ? 3 : 1 ))
    verify=()
    (( t % 2 == 0 )) && verify=(--verify)
    run=("$cli" --simulate --readers "$readers" --pace 0 --deck "$work/deck" -q
         issue "$data" --track1 'B{id}^{name}' --track2 '{id}' --journal "$work/j.db"
         --devices all --timeout 5 "${verify[@]}")
    "${run[@]}" >/dev/null 2>&1 &
    pid=$!
    # A moment anywhere in the run: start-up, a card in flight, a journal commit, a deck save.
    sleep "0.$(printf '%03d' $(( RANDOM % 1000 )))"
    if kill -9 "$pid" 2>/dev/null; then killed_mid_run=$((killed_mid_run + 1)); fi
    wait "$pid" 2>/dev/null
    rc=1
    for ((resume = 1; resume <= 5 && rc != 0; resume++)); do
        "${run[@]}" --recheck-uncertain >"$work/out" 2>&1
        rc=$?
    done
    if [ $rc -ne 0 ]; then
        echo "trial $t: the resume did not finish (exit $rc):" >&2
        cat "$work/out" >&2
        "$cli" journal "$work/j.db" >&2
        exit 1
    fi
    if ! result=$(check "$work/j.db" "$work/deck" "$readers" 2>&1); then
        echo "trial $t: $result" >&2
        "$cli" journal "$work/j.db" >&2
        exit 1
    fi
    read -r decided rechecked unverified <<<"$result"
    uncertain_total=$((uncertain_total + decided))
    rechecked_total=$((rechecked_total + rechecked))
    unverified_total=$((unverified_total + unverified))
    echo "trial $t: ${readers} reader(s)${verify:+, verify}: every row on exactly one card" \
         "(${decided} uncertain card(s) read, ${rechecked} of them held the record;" \
         "${unverified} written card(s) read back after the kill)"
done
echo "$trials passed, 0 failed: $killed_mid_run killed mid-run, $uncertain_total uncertain" \
     "record(s) decided by reading the card ($rechecked_total held the record)," \
     "$unverified_total written and never read back, read on resume"
