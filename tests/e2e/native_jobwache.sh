#!/usr/bin/env bash
# Jobwache in front of jobs of the real Zyklant on the POSIX stand-in: a
# batch file that ends with 3 and a program, each line's result in
# Jobwache.log, the batch file's output in Ausgaben. The clock runs 20
# times fast under faketime.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"

native_service_setup jobwache
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0
cleanup() { cleanup_service; clean_faketime_shm; }
cp "$bin/Jobwache" "$install/Jobwache.exe"

printf 'echo lauf\necho fehler >&2\nexit 3\n' > "$install/lauf.bat"
{
  printf '* * * * * %s\\Jobwache.exe /Zeitlimit:600 %s\\lauf.bat\r\n' "$install" "$install"
  printf '* * * * * %s\\Jobwache.exe %s\\marker_job %s/jede.txt jede\r\n' "$install" "$install" "$install"
} > "$install/CronTab.txt"

"$ctl" create Horamat "$install\\Zyklant.exe" >/dev/null
expect_true "Dienst gestartet" start_clocked '@2026-12-07 10:00:50 x20'
has_results() { [ "$(cat "$install/Jobwache.log" 2>/dev/null | grep -c '; beendet ')" -ge 4 ]; }
expect_true "Ergebniszeilen zweier Minuten" wait_for 60 has_results
"$ctl" stop Horamat >/dev/null
stop_clock

python3 - "$install" <<'PY' && pass "Ergebniszeilen passen zur Tabelle" || fail "Ergebniszeilen passen nicht"
import re, sys
d = sys.argv[1]
lines = open(d + "/Jobwache.log").read().split("\n")
assert lines[-1] == "", "log must end with a whole line"
want = {d + "\\lauf.bat": "beendet 3", d + "\\marker_job " + d + "/jede.txt jede": "beendet 0"}
seen = set()
for line in lines[:-1]:
    m = re.fullmatch(r"Mon Dec 07 10:\d\d:\d\d 2026; \d+ s; (.*?); Verzoegerung 0 s; Ausgabe (.*?); (.*)", line)
    assert m, line
    assert want[m.group(3)] == m.group(1), line
    assert m.group(2).startswith(d + "\\Ausgaben\\"), line
    seen.add(m.group(3))
assert seen == set(want), seen
PY
out=$(grep -l '^lauf$' "$install"/Ausgaben/*.txt 2>/dev/null | head -1)
expect_true "Ausgabe der Batchdatei" test -n "$out"
[ -n "$out" ] && expect_true "beide Stroeme in der Ausgabe" grep -q '^fehler$' "$out"
expect_true "der Job lief" test -s "$install/jede.txt"
expect_true "Zyklants Log nennt Jobwache" grep -q 'Jobwache.exe /Zeitlimit:600' "$install/Horamat.log"

finish
