#!/usr/bin/env bash
# Attacks tollwick-cli at the edges of the files a user names and of its signals, and prints the
# figures: kill -9 during read --to-file with resumes (torn records), signals at random moments
# (exit statuses), a full disk (torn records, and what write --from-file then makes of the file),
# planted symbolic links in a sticky world-writable folder (is the victim touched?), the same
# file in two roles, and endless lines (/dev/zero: memory, time, status).
#
#   sudo bash bench/edge_attacks.sh [PATH/TO/tollwick-cli] [--quick]
#
# Default program: build/release/src/cli/tollwick-cli. Needs python3; run as root for the
# planted links (a link owned by another user) and the full disk (a 64 KiB tmpfs). Takes about
# three minutes (--quick: fewer rounds, about one minute).
set -uo pipefail

cd "$(dirname "$0")/.." || exit 1
cli="build/release/src/cli/tollwick-cli"
rounds=1
for arg in "$@"; do
    case "$arg" in
        --quick) rounds=0 ;;
        *) cli="$arg" ;;
    esac
done
[ -x "$cli" ] || { echo "no program at $cli (build the release preset first)" >&2; exit 1; }
cli="$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")"

exec python3 - "$cli" "$rounds" <<'PYTHON'
import collections, json, os, random, re, resource, signal, stat, subprocess, sys, tempfile, time

CLI, FULL = sys.argv[1], sys.argv[2] == "1"
random.seed(18)
work = tempfile.mkdtemp(prefix="tollwick-edges-")
os.environ["TOLLWICK_PROFILE"] = os.path.join(work, "profile.ini")
RECORD = re.compile(rb"\d+-\d+-\d+  \d+:\d+:\d+\n%[^\n]*\?\n;[^\n]*\?\n\+[^\n]*\?\n\n\n")

def run(args, timeout=30, **kw):
    return subprocess.run([CLI] + args, capture_output=True, timeout=timeout, **kw)

def deck(path, cards):
    """A deck of `cards` copies of the sample deck's ISO bank card."""
    sample = os.path.join(work, "sample.json")
    if not os.path.exists(sample):
        run(["--simulate", "--deck", sample, "coercivity", "hi"])
    bank = json.load(open(sample))["cards"][3]
    json.dump({"cards": [dict(bank, name="card %d" % i) for i in range(cards)]}, open(path, "w"))

def blank_deck(path, cards):
    json.dump({"cards": [{"name": "blank %d" % i, "track1": "", "track2": "", "track3": ""}
                         for i in range(cards)]}, open(path, "w"))

def records(path):
    """(whole records, torn pieces) of a card file."""
    data = open(path, "rb").read() if os.path.exists(path) else b""
    whole = torn = at = 0
    while at < len(data):
        m = RECORD.match(data, at)
        if m:
            whole += 1
            at = m.end()
            continue
        torn += 1
        nxt = re.compile(rb"\n\d+-\d+-\d+  ").search(data, at)
        at = nxt.start() + 1 if nxt else len(data)
    return whole, torn

def written_back(path):
    """How many cards write --from-file makes of the file (on a blank deck)."""
    target = os.path.join(work, "target.json")
    blank_deck(target, 200)
    r = run(["--simulate", "--deck", target, "-q", "write", "--from-file", path], timeout=120)
    m = re.search(rb"(\d+|no) cards? written", r.stdout)
    return (0 if not m or m.group(1) == b"no" else int(m.group(1))), r.returncode

def line(name, value):
    print("%-58s %s" % (name, value), flush=True)

print("tollwick-cli edge attacks: %s" % CLI)
print("machine: %s; protected_symlinks=%s; %s" % (os.uname().machine,
      open("/proc/sys/fs/protected_symlinks").read().strip(), time.strftime("%Y-%m-%d %H:%M")))

# 1. kill -9 during read --to-file, then a resume that appends to the same file.
d40 = os.path.join(work, "d40.json")
deck(d40, 40)
cards = os.path.join(work, "killed.txt")
kills = 30 if FULL else 10
for i in range(kills):
    p = subprocess.Popen([CLI, "--simulate", "--deck", d40, "read", "--to-file", cards,
                          "--count", "40"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(random.uniform(0.05, 1.5))
    p.kill()
    p.wait()
whole, torn = records(cards)
back, _ = written_back(cards)
line("kill -9 during read --to-file, %d runs resumed" % kills,
     "%d whole records, %d torn; From File writes %d cards" % (whole, torn, back))

# 2. Signals at random moments: exit statuses seen.
def statuses(args, sig, lo, hi, n, stdin=subprocess.DEVNULL):
    seen = collections.Counter()
    second = 0
    for _ in range(n):
        p = subprocess.Popen([CLI] + args, stdin=stdin, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        time.sleep(random.uniform(lo, hi))
        p.send_signal(sig)
        try:
            p.wait(timeout=3)
        except subprocess.TimeoutExpired:
            second += 1
            p.send_signal(sig)
            try:
                p.wait(timeout=3)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        code = p.returncode
        seen["killed by signal %d" % -code if code < 0 else "exit %d" % code] += 1
    return dict(sorted(seen.items())) , second

n = 60 if FULL else 20
d = os.path.join(work, "d.json")
deck(d, 40)
seen, _ = statuses(["--simulate", "--deck", d, "read", "--to-file", os.path.join(work, "s.txt")],
                   signal.SIGTERM, 0, 0.015, n)
line("SIGTERM 0-15 ms after start (read --to-file), %d runs" % n, seen)
seen, _ = statuses(["--simulate", "--deck", d, "--card", "2", "write", "--track2", "7777"],
                   signal.SIGINT, 0, 0.4, n)
line("SIGINT 0-400 ms into write --track2, %d runs" % n, seen)
for sig in (signal.SIGINT, signal.SIGTERM):
    runs = 10 if FULL else 4
    r, w = os.pipe()  # an open pipe that never brings a line
    seen, second = statuses(["--simulate", "--deck", d, "write", "--from-file", "-"],
                            sig, 0.2, 0.5, runs, stdin=r)
    os.close(r); os.close(w)
    line("%s to write --from-file - on a silent pipe, %d runs" % (sig.name, runs),
         "%s; %d needed a second signal" % (seen, second))

# 3. A full disk: a 64 KiB tmpfs with about 4 KiB free; then space is freed and the next run
# appends; then write --from-file.
mnt = os.path.join(work, "full")
os.mkdir(mnt)
if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", mnt]).returncode == 0:
    try:
        filler = os.path.join(mnt, "filler")
        for name, opt in (("cards.txt", "--to-file"), ("cards.csv", "--csv")):
            for old in os.listdir(mnt):
                os.unlink(os.path.join(mnt, old))
            with open(filler, "wb") as f:
                try:
                    f.write(b"x" * (60 * 1024))
                except OSError:
                    pass
            path = os.path.join(mnt, name)
            r = run(["--simulate", "--deck", d40, "read", opt, path, "--count", "40"], timeout=60)
            err = r.stderr.decode(errors="replace").strip().splitlines()
            ends = open(path, "rb").read()[-12:] if os.path.exists(path) else b""
            line("full disk: read %s, exit %d" % (opt, r.returncode),
                 "%r; file ends %r" % (err[-1] if err else "", ends))
            if opt == "--to-file":
                os.unlink(filler)
                run(["--simulate", "--deck", d40, "read", opt, path, "--count", "5"], timeout=60)
                whole, torn = records(path)
                back, code = written_back(path)
                line("  after space freed and 5 more cards appended",
                     "%d whole records, %d torn; From File writes %d cards (exit %d)"
                     % (whole, torn, back, code))
            else:
                rows = open(path, "rb").read().split(b"\r\n")
                line("  CSV rows", "%d complete, last piece %r" % (len(rows) - 1, rows[-1][:20]))
    finally:
        subprocess.run(["umount", mnt])
else:
    line("full disk", "skipped: no tmpfs mount (not root?)")

# 4. Planted links in a sticky world-writable folder: another user's link to a victim file,
# a dangling link, and root's read --to-file / --csv through them.
sticky = os.path.join(work, "sticky")
os.mkdir(sticky)
os.chmod(sticky, 0o1777)
victim = os.path.join(work, "victim.txt")
for opt, name in (("--to-file", "cards.txt"), ("--csv", "cards.csv")):
    open(victim, "w").write("precious\n")
    os.chmod(victim, 0o644)
    link = os.path.join(sticky, name)
    os.symlink(victim, link)
    os.lchown(link, 65534, 65534)
    r = run(["--simulate", "--deck", d, "read", opt, link, "--count", "1"])
    touched = open(victim).read() != "precious\n"
    line("planted link %s -> victim (root), exit %d" % (opt, r.returncode),
         "victim touched: %s (mode %o)" % (touched, stat.S_IMODE(os.stat(victim).st_mode)))
    os.unlink(link)
    target = os.path.join(work, "created-" + name)
    os.symlink(target, link)
    os.lchown(link, 65534, 65534)
    r = run(["--simulate", "--deck", d, "read", opt, link, "--count", "1"])
    line("planted dangling link %s (root), exit %d" % (opt, r.returncode),
         "file created where it points: %s" % os.path.exists(target))
    os.unlink(link)

# 5. One file in two roles.
same = os.path.join(work, "same.json")
deck(same, 3)
r = run(["--simulate", "--deck", same, "read", "--to-file", same, "--count", "1"])
r2 = run(["--simulate", "--deck", same, "read"])
line("--deck same.json read --to-file same.json, exit %d" % r.returncode,
     "then a read of the deck: exit %d" % r2.returncode)
a = os.path.join(work, "a.txt")
dangling = os.path.join(work, "dangling.csv")
os.symlink(a, dangling)
r = run(["--simulate", "--deck", d, "read", "--to-file", a, "--csv", dangling, "--count", "1"])
line("--to-file a.txt --csv (dangling link to a.txt), exit %d" % r.returncode,
     "a.txt exists: %s" % os.path.exists(a))

# 6. Endless lines: memory and time of write --from-file /dev/zero and of a pipe of zeros.
def peak(cmd, shell=False, limit=5.0):
    def limits():
        # Memory up to 3 GiB, files up to 512 MiB: a program that spools an endless pipe to
        # the disk is stopped there (by SIGXFSZ) rather than filling it.
        resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))
        resource.setrlimit(resource.RLIMIT_FSIZE, (512 << 20, 512 << 20))
    p = subprocess.Popen(cmd, shell=shell, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         preexec_fn=limits)
    start, top = time.time(), 0
    pid = p.pid
    while p.poll() is None and time.time() - start < limit:
        try:
            for proc in [pid] + [int(x) for x in open("/proc/%d/task/%d/children" % (pid, pid))
                                 .read().split()]:
                for l in open("/proc/%d/status" % proc):
                    if l.startswith("VmRSS"):
                        top = max(top, int(l.split()[1]))
        except (OSError, ValueError):
            pass
        time.sleep(0.05)
    took = time.time() - start
    if p.poll() is None:
        os.killpg(os.getpgid(pid), signal.SIGKILL) if shell else p.kill()
        p.wait()
        return "still running after %.0f s, peak RSS %d MB" % (limit, top // 1024)
    how = "killed by signal %d" % -p.returncode if p.returncode < 0 else "exit %d" % p.returncode
    return "%s after %.2f s, peak RSS %d MB" % (how, took, top // 1024)

line("write --from-file /dev/zero", peak([CLI, "--simulate", "--deck", d, "write",
                                          "--from-file", "/dev/zero"]))
line("cat /dev/zero | write --from-file -",
     peak("exec setsid sh -c 'cat /dev/zero | %s --simulate --deck %s write --from-file -'"
          % (CLI, d), shell=True))
if run(["issue", "--help"]).returncode == 0:
    line("cat /dev/zero | issue - (records from a pipe)",
         peak("exec setsid sh -c 'cat /dev/zero | %s --simulate --deck %s issue - --track2 {id} "
              "--journal %s/j.db'" % (CLI, d, work), shell=True))
subprocess.run(["rm", "-rf", work])
PYTHON
