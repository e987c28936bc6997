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

native_service_setup stop
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0

jobs=1000
for n in $(seq 1 $jobs); do
  printf '* * * * * %s/marker_job.exe %s/burst.txt %d\n' "$install" "$install" "$n"
done > "$install/CronTab.txt"
"$ctl" create Horamat "$install\\Zyklant.exe" >/dev/null

entries() { local n; n=$(grep -c '^Job gestartet am' "$install/Horamat.log" 2>/dev/null); echo "${n:-0}"; }
at_least() { [ "$(entries)" -ge "$1" ]; }

for stop_after in 20 100 300; do
  rm -f "$install/Horamat.log" "$install/burst.txt"
  expect_true "[$stop_after] gestartet" start_clocked '@2026-12-07 10:00:58'
  pid=$(service_pid)
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
