#!/usr/bin/env bash
# A stop of the service in the middle of a burst of 1,000 jobs that match
# the same minute. Starting a job and writing its entry is one step that
# the stop waits for, so afterwards every job that started has its whole
# entry, no entry is torn, and nothing starts or is logged once the stop
# has been answered. Runs three times, the stop coming at different points
# of the burst. The clock runs at its own speed, from 10:00:58.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"

work=$(mktemp -d /tmp/hm_stop_XXXXXX)
export HORAMAT_PLATFORM_ROOT=$work/root
install=$work/install
key=$HORAMAT_PLATFORM_ROOT/registry/HKEY_LOCAL_MACHINE/Software/Pexa/Horamat
mkdir -p "$install" "$key"
printf '%s' "$install" > "$key/Path"
printf '1.0.0' > "$key/Version"
cp "$bin/Zyklant" "$install/Zyklant.exe"
cp "$bin/marker_job" "$install/marker_job.exe"
ctl="$bin/service_ctl"
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0
# The service runs on a fake clock. faketime stays up (a shell under it
# sleeps) until the service has stopped: every process that gets the fake
# clock shares faketime's semaphore and memory in /dev/shm, and a job
# started after faketime has ended would leave a pair of its own there.
clock=
start_clocked() {  # <faketime time>: starts the service; its answer in $work/clock.out
  rm -f "$work/clock.pid" "$work/clock.rc" "$work/clock.out"
  faketime -f "$1" bash -c 'echo $$ > "$1/clock.pid"; "$0" start Horamat > "$1/clock.out"; echo $? > "$1/clock.rc"; exec sleep infinity' \
    "$ctl" "$work" 2>>"$work/clock.err" &
  clock=$!
  wait_for 40 test -s "$work/clock.rc"
  [ "$(cat "$work/clock.rc" 2>/dev/null)" = 0 ]
}
stop_clock() {
  [ -n "$clock" ] || return 0
  kill "$(cat "$work/clock.pid" 2>/dev/null)" 2>/dev/null
  wait "$clock" 2>/dev/null
  clock=
}
cleanup() { "$ctl" stop Horamat >/dev/null 2>&1; stop_clock; "$ctl" delete Horamat >/dev/null 2>&1; rm -rf "$work"; }
trap cleanup EXIT

jobs=1000
for n in $(seq 1 $jobs); do
  printf '* * * * * %s/marker_job.exe %s/burst.txt %d\n' "$install" "$install" "$n"
done > "$install/CronTab.txt"
"$ctl" create Horamat "$install\\Zyklant.exe" >/dev/null

entries() { local n; n=$(grep -c '^Job gestartet am' "$install/Horamat.log" 2>/dev/null); echo "${n:-0}"; }
at_least() { [ "$(entries)" -ge "$1" ]; }
pid_gone() { ! kill -0 "$1" 2>/dev/null; }

for stop_after in 20 100 300; do
  rm -f "$install/Horamat.log" "$install/burst.txt"
  expect_true "[$stop_after] gestartet" start_clocked '@2026-12-07 10:00:58'
  pid=$(awk '{print $1}' "$HORAMAT_PLATFORM_ROOT/services/Horamat/pid")
  expect_true "[$stop_after] der Schub laeuft" wait_for 60 at_least "$stop_after"
  expect_eq "[$stop_after] Stopp meldet gestoppt" "state=1" "$("$ctl" stop Horamat)"
  logged=$(entries)
  expect_true "[$stop_after] Prozess beendet" wait_for 10 pid_gone "$pid"
  stop_clock
  sleep 1
  expect_eq "[$stop_after] nach der Antwort auf den Stopp kein Eintrag mehr" "$logged" "$(entries)"
  expect_true "[$stop_after] der Stopp kam mitten im Schub" test "$logged" -lt $jobs
  # Jobs that were started are still writing their markers: wait until
  # the count stands still.
  markers_settled() {
    local a b
    a=$(wc -l < "$install/burst.txt" 2>/dev/null || echo 0); sleep 0.5
    b=$(wc -l < "$install/burst.txt" 2>/dev/null || echo 0)
    [ "$a" = "$b" ]
  }
  wait_for 10 markers_settled

  python3 - "$install" "$jobs" <<'PY' && pass "[$stop_after] jeder gestartete Job hat seinen ganzen Eintrag" || fail "[$stop_after] Eintraege und gestartete Jobs passen nicht"
import re, sys
d, jobs = sys.argv[1], int(sys.argv[2])
text = open(d + "/Horamat.log", "rb").read().decode("latin-1")
assert text.endswith("\n"), "the log ends inside an entry"
lines = text.split("\n")[:-1]
assert lines[0].startswith("Horamat gestartet am: "), lines[0]
body = lines[1:]
assert len(body) % 2 == 0, "torn entry: %d lines" % len(body)
logged = []
for stamp, fields in zip(body[0::2], body[1::2]):
    assert re.fullmatch(r"Job gestartet am Mon Dec 07 10:01:\d\d 2026", stamp), stamp
    m = re.fullmatch(r"  <\*><\*><\*><\*><\*><%s/marker_job\.exe %s/burst\.txt (\d+)>" % (re.escape(d), re.escape(d)), fields)
    assert m, "torn or foreign entry: " + fields
    logged.append(int(m.group(1)))
assert logged == list(range(1, len(logged) + 1)), "entries out of table order"
started = []
for line in open(d + "/burst.txt", "rb").read().decode("latin-1").split("\n")[:-1]:
    m = re.fullmatch(r"\S+marker_job\.exe \S+burst\.txt (\d+)\t/", line)
    assert m, "torn marker: " + line
    started.append(int(m.group(1)))
assert len(set(started)) == len(started), "a job ran twice"
missing = sorted(set(started) - set(logged))
assert not missing, "started without an entry: %s" % missing[:10]
# Every job logged was started (the program exists): no entry without a job.
assert set(logged) == set(started), "logged but never ran: %s" % sorted(set(logged) - set(started))[:10]
print("stopped after %d of %d jobs" % (len(logged), jobs))
PY
done

finish
