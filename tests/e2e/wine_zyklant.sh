#!/usr/bin/env bash
# Zyklant.exe as a real service under Wine: registry values written with
# reg, the service registered, started and stopped with Wine's sc, jobs
# (a batch file and a program) at the next minute, and a boot of the Wine
# session that starts the auto-start service again.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"
wine_environment

drive=$WINEPREFIX/drive_c
install=$drive/horamat
winstall='C:\horamat'
rm -rf "$install"; mkdir -p "$install"
cp "$bin/Zyklant.exe" "$bin/marker_job.exe" "$install/"
regkey='HKLM\Software\Pexa\Horamat'
# Wine ends services once no ordinary program of the session runs; one
# that idles keeps the session up, as a logged-on desktop does on Windows.
keep_session() {
  setsid wine "$bin/idle_wait.exe" 900 </dev/null >/dev/null 2>&1 &
  keeper=$!
}
keeper=
cleanup() {
  [ -n "$keeper" ] && kill "$keeper" 2>/dev/null
  wine sc stop Horamat >/dev/null 2>&1
  wine sc delete Horamat >/dev/null 2>&1
  wine reg delete "$regkey" /f /reg:64 >/dev/null 2>&1
}
trap cleanup EXIT
wine reg delete "$regkey" /f /reg:64 >/dev/null 2>&1

state_of() { wine sc query Horamat 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $3}'; }

# Without settings: exit code 1, nothing written.
wine "$winstall\\Zyklant.exe"; rc=$?
expect_eq "ohne Einstellungen: Exitcode" 1 "$rc"
expect_true "ohne Einstellungen: kein Log" test ! -e "$install/Horamat.log"

wine reg add "$regkey" /v Path /t REG_SZ /d "$winstall" /f /reg:64 >/dev/null
wine reg add "$regkey" /v Version /t REG_SZ /d 1.0.0 /f /reg:64 >/dev/null

# From the console: the dispatcher fails, exit code 0, nothing done. Windows
# fails it at once; Wine's first waits for the control pipe of the service
# it started last, which that service holds (10.1 s measured here, also in
# a warm session), so the bound leaves room for that and still tells a
# return from a scheduler that runs.
start=$SECONDS
wine "$winstall\\Zyklant.exe"; rc=$?
expect_eq "von der Konsole: Exitcode" 0 "$rc"
expect_true "von der Konsole: zurueck" test $((SECONDS - start)) -le 30
expect_true "von der Konsole: kein Log" test ! -e "$install/Horamat.log"

printf 'echo lauf>> %s\\bat_marker.txt\r\n' "$winstall" > "$install/lauf.bat"
{
  printf '* * * * * %s\\lauf\r\n' "$winstall"
  printf '* * * * * %s\\marker_job %s\\jede.txt jede\r\n' "$winstall" "$winstall"
  printf '*/5 * * * * %s\\marker_job %s\\nie.txt\r\n' "$winstall" "$winstall"
} > "$install/CronTab.txt"

keep_session
wine sc create Horamat binPath= "$winstall\\Zyklant.exe" start= auto >/dev/null
wine sc start Horamat >/dev/null
running() { [ "$(state_of)" = 4 ]; }
expect_true "Dienst laeuft" wait_for 20 running

# The start entry comes at second 0 of the next minute, the jobs of that
# minute at once after it.
has_jobs() { [ "$(grep -c '^Job gestartet am' "$install/Horamat.log" 2>/dev/null)" -ge 2 ]; }
expect_true "Startzeile und zwei Jobs" wait_for 90 has_jobs
sleep 1
head -c 200 "$install/Horamat.log" | grep -q '^Horamat gestartet am: ... ... [0-3][0-9] [0-2][0-9]:[0-5][0-9]:00 20[0-9][0-9]' \
  && pass "Startzeile um Sekunde 0" || fail "Startzeile: $(head -1 "$install/Horamat.log")"
marker_ok() { [ -s "$install/jede.txt" ] && [ -s "$install/bat_marker.txt" ]; }
expect_true "Programm und Batchdatei liefen" wait_for 20 marker_ok
expect_true "Kommandozeile des Programms" grep -q 'jede.txt jede' "$install/jede.txt"
expect_true "Zeilenenden im Log: CR LF" grep -q $'\r$' "$install/Horamat.log"

wine sc stop Horamat >/dev/null
stopped() { [ "$(state_of)" = 1 ]; }
expect_true "Dienst gestoppt" wait_for 30 stopped
gone() { ! pgrep -f 'horamat.Zyklant.exe' >/dev/null; }
expect_true "Prozess beendet" wait_for 15 gone
python3 - "$install/Horamat.log" <<'PY' && pass "keine zerrissenen Eintraege" || fail "zerrissener Eintrag"
import sys
lines = open(sys.argv[1], "rb").read().decode("latin-1").split("\r\n")
assert lines[-1] == "", "log must end with a whole line"
body = lines[1:-1]
assert len(body) % 2 == 0
for stamp, fields in zip(body[0::2], body[1::2]):
    assert stamp.startswith("Job gestartet am "), stamp
    assert fields.startswith("  <") and fields.endswith(">"), fields
PY
expect_true "nie-Zeile lief nie" test ! -e "$install/nie.txt"

# A new boot of the Wine session starts the auto-start service again.
before=$(grep -c '^Horamat gestartet am' "$install/Horamat.log")
kill "$keeper" 2>/dev/null
wineserver -k; sleep 1
wineboot >/dev/null 2>&1
keep_session
restarted() { [ "$(grep -c '^Horamat gestartet am' "$install/Horamat.log")" -gt "$before" ]; }
expect_true "nach dem Neustart laeuft der Dienst wieder" wait_for 100 restarted

finish
