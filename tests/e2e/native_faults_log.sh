#!/usr/bin/env bash
# Horamat.log under abuse, with the real Zyklant as a service of the POSIX
# stand-in and a clock running 20 times fast (a minute in 3 s):
# - the log cannot be opened at start (a folder of that name; the service
#   under an account that may not write the installation folder): the
#   scheduler does nothing at all, and the service reports itself stopped
#   with the system's code of the failed open (5) as its exit code;
# - the log becomes unwritable while it runs (replaced by a folder, or the
#   disk full: /dev/full through a symbolic link): jobs go on starting
#   every minute, the scheduler keeps running, and entries come again once
#   the log can be written.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"

native_service_setup flog
key=$("$ctl" key)
chmod 755 "$install/Zyklant.exe" "$install/marker_job.exe"
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0

log=$install/Horamat.log
printf '* * * * * %s/marker_job.exe %s/jobs.txt\n' "$install" "$install" > "$install/CronTab.txt"
count() { local n; n=$(grep -c "$1" "$2" 2>/dev/null); echo "${n:-0}"; }
job_runs() { local n; n=$( (wc -l < "$install/jobs.txt") 2>/dev/null); echo "${n:-0}"; }
entries() { count '^Job gestartet am' "$log"; }
runs_at_least() { [ "$(job_runs)" -ge "$1" ]; }
entries_at_least() { [ "$(entries)" -ge "$1" ]; }
state() { "$ctl" query Horamat | sed -n 's/^state=//p'; }
exit_code() { "$ctl" exitcode Horamat | sed -n 's/^exit=//p'; }
stopped() { [ "$(state)" = 1 ]; }
start_service() { start_clocked '@2026-12-07 10:00:50 x20'; }
stop_service() { "$ctl" stop Horamat >/dev/null && stop_clock; }
"$ctl" create Horamat "$install\\Zyklant.exe" >/dev/null

# --- At start, a folder where the log should be: nothing happens, and the
# service says so.
mkdir "$log"
expect_true "Log ein Ordner: Dienst startet" start_service
pid=$(service_pid)
expect_true "Log ein Ordner: Dienst meldet gestoppt" wait_for 10 stopped
expect_eq "Log ein Ordner: Exitcode der Fehler des Oeffnens" 5 "$(exit_code)"
expect_true "Log ein Ordner: Prozess beendet" wait_for 10 pid_gone "$pid"
sleep 7  # more than two minutes of the fast clock
expect_eq "Log ein Ordner: kein Job lief" 0 "$(job_runs)"
expect_eq "Log ein Ordner: nichts geschrieben" "" "$(ls -A "$log")"
stop_clock
rmdir "$log"

# --- At start, an installation folder the service's account may not write
# (root writes everywhere, so the service runs as nobody).
if [ "$(id -u)" = 0 ] && id nobody >/dev/null 2>&1; then
  "$ctl" delete Horamat >/dev/null
  "$ctl" create Horamat "$install\\Zyklant.exe" nobody geheim >/dev/null
  # The scheduler opens its key for writing; the folder stays root's.
  chown nobody "$key"
  expect_true "Ordner schreibgeschuetzt: Dienst startet" start_service
  pid=$(service_pid)
  expect_eq "Ordner schreibgeschuetzt: laeuft als nobody" nobody "$(ps -o user= -p "$pid" | tr -d ' ')"
  expect_true "Ordner schreibgeschuetzt: Dienst meldet gestoppt" wait_for 10 stopped
  expect_eq "Ordner schreibgeschuetzt: Exitcode Zugriff verweigert" 5 "$(exit_code)"
  expect_true "Ordner schreibgeschuetzt: Prozess beendet" wait_for 10 pid_gone "$pid"
  sleep 7
  expect_eq "Ordner schreibgeschuetzt: kein Job lief" 0 "$(job_runs)"
  expect_true "Ordner schreibgeschuetzt: kein Log" test ! -e "$log"
  stop_clock
  chown root "$key"
  "$ctl" delete Horamat >/dev/null
  "$ctl" create Horamat "$install\\Zyklant.exe" >/dev/null
else
  echo "skip: installation folder not writable (needs root and the account nobody)"
fi

# --- Unwritable while running.
expect_true "laufend: Dienst startet" start_service
pid=$(service_pid)
expect_eq "laufend: Dienst laeuft" 4 "$(state)"
expect_eq "laufend: Exitcode 0" 0 "$(exit_code)"
expect_true "laufend: Eintraege kommen" wait_for 20 entries_at_least 2

# outage <n> <name> <how to break the log> <what holds during it> <how to mend it>
# The log so far is kept as Horamat.log.<n>.
outage() {
  local n=$1 name=$2 break_log=$3 during=$4 mend_log=$5
  local runs_before entries_before
  # Right after a minute's job: the break lands between two scans.
  runs_before=$(job_runs)
  wait_for 10 runs_at_least $((runs_before + 1))
  mv "$log" "$log.$n"
  entries_before=$(count '^Job gestartet am' "$log.$n")
  runs_before=$(job_runs)
  eval "$break_log"
  expect_true "$name: Jobs starten weiter" wait_for 20 runs_at_least $((runs_before + 3))
  expect_eq "$name: Dienst laeuft" 4 "$(state)"
  expect_true "$name: Prozess lebt" kill -0 "$pid"
  expect_true "$name: was dort steht, bleibt unberuehrt" eval "$during"
  eval "$mend_log"
  expect_true "$name: Eintraege kommen wieder" wait_for 20 entries_at_least 2
  # Every entry whole; the minutes logged after the outage follow each
  # other without a gap.
  python3 - "$log" <<'PY' && pass "$name: ganze Eintraege nach der Stoerung" || fail "$name: Eintraege nach der Stoerung kaputt"
import re, sys
lines = open(sys.argv[1], "rb").read().decode("latin-1").split("\n")
assert lines[-1] == "", "log ends inside an entry"
lines = lines[:-1]
if len(lines) % 2:
    lines = lines[:-1]  # an entry being written right now
minutes = []
for stamp, fields in zip(lines[0::2], lines[1::2]):
    m = re.fullmatch(r"Job gestartet am Mon Dec 07 (\d\d):(\d\d):\d\d 2026", stamp)
    assert m, stamp
    assert fields.endswith("/jobs.txt>"), fields
    minutes.append(int(m.group(1)) * 60 + int(m.group(2)))
assert minutes == list(range(minutes[0], minutes[0] + len(minutes))), minutes
PY
  # The log is opened afresh for every entry: the old file got nothing.
  expect_eq "$name: alte Datei unberuehrt" "$entries_before" "$(count '^Job gestartet am' "$log.$n")"
}
outage 1 "Log durch Ordner ersetzt" 'mkdir "$log"' 'test -z "$(ls -A "$log")"' 'rmdir "$log"'
outage 2 "Platte voll" 'ln -s /dev/full "$log"' 'test "$(readlink "$log")" = /dev/full' 'rm "$log"'

# Across both outages: a job every minute, each minute once.
expect_true "Dienst stoppt" stop_service
expect_true "Prozess beendet" wait_for 10 pid_gone "$pid"
python3 - "$install/jobs.txt" "$log.1" "$log.2" "$log" <<'PY' && pass "jede Minute lief ihr Job, auch ohne Log" || fail "Jobs fehlen waehrend der Stoerungen"
import sys
runs = open(sys.argv[1]).read().count("\n")
entries = sum(open(log).read().count("Job gestartet am") for log in sys.argv[2:])
# Entries are missing for the minutes of the outages only; jobs never.
assert runs >= entries + 6, (runs, entries)
print("jobs", runs, "entries", entries)
PY

finish
