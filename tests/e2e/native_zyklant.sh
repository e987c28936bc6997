#!/usr/bin/env bash
# Zyklant as a service of the POSIX stand-in: started and stopped through
# the stand-in's Service Control Manager, with real jobs and a real log.
# The clock runs 20 times fast under faketime, so minutes pass in seconds.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"

native_service_setup e2e
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0
cleanup() { cleanup_service; clean_faketime_shm; }
key=$("$ctl" key)
rm -r "$key"  # no settings yet

# Without settings: exit code 1 and nothing written.
"$install/Zyklant.exe"; rc=$?
expect_eq "ohne Einstellungen: Exitcode" 1 "$rc"
expect_true "ohne Einstellungen: kein Log" test ! -e "$install/Horamat.log"

mkdir -p "$key"
echo "$install" > "$key/Path"  # the newline is no part of the value
printf '1.0.0' > "$key/Version"

# Started from a shell, not by the service manager: exit code 0 at once.
start=$SECONDS
"$install/Zyklant.exe"; rc=$?
expect_eq "von der Konsole: Exitcode" 0 "$rc"
expect_true "von der Konsole: sofort zurueck" test $((SECONDS - start)) -le 2
expect_true "von der Konsole: kein Log" test ! -e "$install/Horamat.log"

# The table: a batch file run by the shell, a program with arguments, a
# list, and lines that never run.
cat > "$install/lauf.bat" <<BAT
echo lauf >> $install/bat_marker.txt
BAT
{
  printf '* * * * * %s\\lauf\r\n' "$install"
  printf '* * * * * %s\\marker_job %s/jede.txt jede  minute\r\n' "$install" "$install"
  printf '1,3,5 * * * * %s\\marker_job %s/ungerade.txt\r\n' "$install" "$install"
  printf '*/5 * * * * %s\\marker_job %s/nie.txt\r\n' "$install" "$install"
  printf '# * * * * * %s\\marker_job %s/nie.txt\r\n' "$install" "$install"
} > "$install/CronTab.txt"

"$ctl" create Horamat "$install\\Zyklant.exe" >/dev/null
expect_eq "Dienst gestartet" 0 "$(faketime -f '@2026-12-07 10:00:50 x20' "$ctl" start Horamat >/dev/null; echo $?)"
pid_running() { "$ctl" query Horamat | grep -q 'state=4'; }
expect_true "Dienst laeuft" wait_for 10 pid_running

# Seven simulated minutes: 10:01 to 10:07.
count_entries() { [ "$(grep -c '^Job gestartet am' "$install/Horamat.log" 2>/dev/null)" -ge "$1" ]; }
expect_true "Eintraege fuer sieben Minuten" wait_for 60 count_entries 16
# Only stop is announced: the manager refuses pause and continue (1052),
# as Windows does.
expect_eq "Pause abgewiesen" "control error=1052" "$("$ctl" pause Horamat)"
expect_eq "Abfrage meldet den Zustand unveraendert" "state=4" "$("$ctl" interrogate Horamat)"
expect_eq "Fortsetzen abgewiesen" "control error=1052" "$("$ctl" continue Horamat)"
expect_eq "Stopp meldet gestoppt" "state=1" "$("$ctl" stop Horamat)"
stopped() { "$ctl" query Horamat | grep -q 'state=1'; }
expect_true "Prozess beendet" wait_for 10 stopped
pgrep -f "$install/Zyklant.exe" >/dev/null && fail "Zyklant laeuft noch" || pass "kein Zyklant-Prozess mehr"

# The log against the table, minute by minute.
python3 - "$install" <<'PY' && pass "Log passt zur Tabelle" || fail "Log passt nicht zur Tabelle"
import re, sys
d = sys.argv[1]
lines = open(d + "/Horamat.log").read().split("\n")
assert lines[0] == "Horamat gestartet am: Mon Dec 07 10:01:00 2026", lines[0]
assert lines[-1] == "", "log must end with a whole line"
body = lines[1:-1]
assert len(body) % 2 == 0, "torn entry"
by_minute = {}
for stamp_line, fields in zip(body[0::2], body[1::2]):
    m = re.fullmatch(r"Job gestartet am Mon Dec 07 10:(\d\d):(\d\d) 2026", stamp_line)
    assert m, stamp_line
    assert m.group(2) in ("00", "01"), "scan late in its minute: " + stamp_line
    assert fields.startswith("  <"), fields
    by_minute.setdefault(int(m.group(1)), []).append(fields)
minutes = sorted(by_minute)
assert minutes == list(range(minutes[0], minutes[0] + len(minutes))), "minute skipped: %s" % minutes
assert minutes[0] == 1, minutes
for minute, entries in by_minute.items():
    want = ["  <*><*><*><*><*><%s\\lauf>" % d,
            "  <*><*><*><*><*><%s\\marker_job %s/jede.txt jede  minute>" % (d, d)]
    if minute in (1, 3, 5):
        want.append("  <1,3,5><*><*><*><*><%s\\marker_job %s/ungerade.txt>" % (d, d))
    assert entries == want, (minute, entries)
print("minutes", minutes)
PY
# The jobs really ran: once per logged minute.
logged=$(grep -c "jede.txt" "$install/Horamat.log")
expect_eq "jede Minute lief der Job" "$logged" "$(wc -l < "$install/jede.txt")"
expect_eq "Batchdatei lief jede Minute" "$logged" "$(wc -l < "$install/bat_marker.txt")"
expect_true "Argumente mit einfachen Leerzeichen" grep -q "jede.txt jede minute" "$install/jede.txt"
expect_true "ungerade Minuten liefen" test -s "$install/ungerade.txt"
expect_true "nie-Zeilen liefen nie" test ! -e "$install/nie.txt"

finish
