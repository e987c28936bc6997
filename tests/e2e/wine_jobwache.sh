#!/usr/bin/env bash
# Jobwache.exe in front of jobs of the real Zyklant.exe service under Wine:
# a batch file that ends with 3 and writes to both streams, and a program;
# each one's result line in Jobwache.log, the batch file's output in
# Ausgaben, Jobwache's own exit code passed on from the job.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"
wine_environment

wine_installation jobwache "$bin" Zyklant.exe Jobwache.exe marker_job.exe
keep_session() {
  setsid wine "$bin/idle_wait.exe" 900 </dev/null >/dev/null 2>&1 &
  keeper=$!
}
keeper=
cleanup() {
  [ -n "$keeper" ] && kill "$keeper" 2>/dev/null
  wine_drop_service
}
trap cleanup EXIT

printf '@echo lauf\r\n@echo fehler 1>&2\r\n@exit /b 3\r\n' > "$install/lauf.bat"
{
  printf '* * * * * %s\\Jobwache.exe /Zeitlimit:600 %s\\lauf.bat\r\n' "$winstall" "$winstall"
  printf '* * * * * %s\\Jobwache.exe %s\\marker_job %s\\jede.txt jede\r\n' "$winstall" "$winstall" "$winstall"
} > "$install/CronTab.txt"

keep_session
wine sc create Horamat binPath= "$winstall\\Zyklant.exe" start= auto >/dev/null
wine sc start Horamat >/dev/null
has_results() { [ "$(cat "$install/Jobwache.log" 2>/dev/null | grep -c '; beendet ')" -ge 2 ]; }
expect_true "zwei Ergebniszeilen" wait_for 120 has_results
wine sc stop Horamat >/dev/null

python3 - "$install/Jobwache.log" "$winstall" <<'PY' && pass "Ergebniszeilen passen zur Tabelle" || fail "Ergebniszeilen passen nicht"
import re, sys
text = open(sys.argv[1], "rb").read().decode("latin-1")
d = sys.argv[2]
assert text.endswith("\r\n"), "log must end with a whole line"
want = {d + "\\lauf.bat": "beendet 3", d + "\\marker_job " + d + "\\jede.txt jede": "beendet 0"}
seen = set()
for line in text.split("\r\n")[:-1]:
    m = re.fullmatch(r"... ... \d\d \d\d:\d\d:\d\d \d{4}; \d+ s; (.*?); Verzoegerung 0 s; Ausgabe (.*?); (.*)", line)
    assert m, line
    assert want[m.group(3)] == m.group(1), line
    assert m.group(2).startswith(d + "\\Ausgaben\\"), line
    seen.add(m.group(3))
assert seen == set(want), seen
PY
out=$(grep -l '^lauf' "$install"/Ausgaben/*.txt 2>/dev/null | head -1)
expect_true "Ausgabe der Batchdatei" test -n "$out"
[ -n "$out" ] && expect_true "beide Stroeme in der Ausgabe" grep -q '^fehler' "$out"
expect_true "das Programm lief" grep -q 'jede.txt jede' "$install/jede.txt"

# From the console: the job's own code is Jobwache's, and a wrong call 123.
wine "$winstall\\Jobwache.exe" "$winstall\\lauf.bat" >/dev/null 2>&1; rc=$?
expect_eq "Exitcode des Jobs" 3 "$rc"
wine "$winstall\\Jobwache.exe" /Zeitlimit:0 "$winstall\\lauf.bat" >/dev/null 2>&1; rc=$?
expect_eq "falscher Aufruf" 123 "$rc"

# The Application log: Wine keeps none, but traces the call, with the
# type (1 error), the event id and the text.
trace=$(WINEDEBUG=err+eventlog,fixme+advapi wine "$winstall\\Jobwache.exe" "$winstall\\fehlt.exe" 2>&1 >/dev/null | tr -d '\r')
expect_true "Ereignis: Quelle Horamat Jobwache" grep -q 'RegisterEventSourceA ((null),"Horamat Jobwache")' <<<"$trace"
expect_true "Ereignis: Fehler, Nummer 1" grep -qE 'ReportEventA \([0-9A-F]+,0x0001,0x0000,0x00000001,' <<<"$trace"
expect_true "Ereignis: Text ist die Ergebniszeile" \
  grep -qF 'nicht gestartet (Fehlercode 2); Verzoegerung 0 s; Ausgabe -; '"${winstall//\\/\\\\}"'\\fehlt.exe"' <<<"$trace"

finish
