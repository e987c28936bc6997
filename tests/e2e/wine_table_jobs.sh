#!/usr/bin/env bash
# The job table while a job runs, Zyklant.exe as a real service under Wine.
# A job inherits no handle of the scheduler's: between scans nobody holds
# the table, however long a job runs. An editor's safe save, a new file
# renamed over the table (MoveFileExA with MOVEFILE_REPLACE_EXISTING),
# goes through, and the next scan reads the new table. Windows, like
# Wine, refuses that rename while any process holds the table open,
# whatever its share flags. The job goes on running after the service is
# stopped. Jobs that cannot start get the entry of a failed start, with
# the system's reason: a missing program, a folder, a text that is no
# program.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"
wine_environment

wine_installation horamat_jobs "$bin" Zyklant.exe marker_job.exe late_marker.exe file_probe.exe
mkdir "$install/ordner.exe"
printf 'kein Programm\r\n' > "$install/text.exe"
keeper=
cleanup() { [ -n "$keeper" ] && kill "$keeper" 2>/dev/null; wine_drop_service; }
trap cleanup EXIT
probe() { wine "$install/file_probe.exe" "$@" 2>/dev/null | tr -d '\r'; }

# The long job, at every minute, and three that cannot start; the first
# scan starts it, and the table is replaced before the next.
{
  printf '* * * * * %s\\late_marker 100 %s\\spaet.txt\r\n' "$winstall" "$winstall"
  printf '* * * * * %s\\fehlt eins\r\n' "$winstall"
  printf '* * * * * %s\\ordner\r\n' "$winstall"
  printf '* * * * * %s\\text.exe\r\n' "$winstall"
} > "$install/CronTab.txt"

# Wine ends services once no ordinary program of the session runs.
setsid wine "$bin/idle_wait.exe" 600 </dev/null >/dev/null 2>&1 &
keeper=$!
wine sc create Horamat binPath= "$winstall\\Zyklant.exe" start= demand >/dev/null
wine sc start Horamat >/dev/null
running() { [ "$(wine_service_state)" = 4 ]; }
expect_true "Dienst laeuft" wait_for 20 running

job_logged() { grep -q '^Job gestartet am' "$install/Horamat.log" 2>/dev/null; }
expect_true "der lange Job wurde gestartet" wait_for 90 job_logged
# The scan closed the table at once; the job holds nothing of it.
failed_logged() { grep -q '^Jobstart fehlgeschlagen (Fehlercode 193) am' "$install/Horamat.log" 2>/dev/null; }
expect_true "die Eintraege des Scans sind geschrieben" wait_for 10 failed_logged
expect_true "der lange Job laeuft" test ! -e "$install/spaet.txt"
expect_eq "die Tabelle ist zwischen den Scans frei" 0 "$(probe unshared "$winstall\\CronTab.txt")"

# The safe save while the job runs: a new file renamed over the table.
printf '* * * * * %s\\marker_job %s\\neu.txt neu\r\n' "$winstall" "$winstall" > "$install/CronTab.neu"
expect_eq "neue Tabelle ueber die alte umbenannt" 0 "$(probe replace "$winstall\\CronTab.neu" "$winstall\\CronTab.txt")"
new_table_read() { [ -s "$install/neu.txt" ]; }
expect_true "der naechste Scan liest die neue Tabelle" wait_for 75 new_table_read
expect_eq "der lange Job lief nur einmal" 1 "$(grep -c 'late_marker' "$install/Horamat.log")"

# Each job of the first scan has its entry: the one that started, and the
# three that did not, with the system's reason and the fields as ever.
python3 - "$install/Horamat.log" "$winstall" <<'PY' && pass "Eintraege der gestarteten und der gescheiterten Jobs" || fail "Eintraege der Jobs falsch"
import re, sys
lines = open(sys.argv[1], "rb").read().decode("latin-1").split("\r\n")
folder = sys.argv[2]
stamp = r"[A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4}"
expected = [
    (r"Job gestartet am ", folder + "\\late_marker 100 " + folder + "\\spaet.txt"),
    (r"Jobstart fehlgeschlagen \(Fehlercode 2\) am ", folder + "\\fehlt eins"),
    # Windows refuses to start a folder with 5, Wine with 6.
    (r"Jobstart fehlgeschlagen \(Fehlercode [56]\) am ", folder + "\\ordner"),
    (r"Jobstart fehlgeschlagen \(Fehlercode 193\) am ", folder + "\\text.exe"),
]
body = lines[1:9]
assert len(body) == 8, lines
for (head, command), first, second in zip(expected, body[0::2], body[1::2]):
    assert re.fullmatch(head + stamp, first), first
    assert second == "  <*><*><*><*><*><" + command + ">", second
PY

# Stopping the service ends its process, not the jobs it started.
wine sc stop Horamat >/dev/null
stopped() { [ "$(wine_service_state)" = 1 ]; }
expect_true "Dienst gestoppt" wait_for 30 stopped
gone() { ! pgrep -f 'horamat_jobs.Zyklant.exe' >/dev/null; }
expect_true "Dienstprozess beendet" wait_for 15 gone
expect_true "der Job laeuft noch" test ! -e "$install/spaet.txt"
late_done() { [ -s "$install/spaet.txt" ]; }
expect_true "der Job lief nach dem Stopp zu Ende" wait_for 60 late_done

finish
