#!/usr/bin/env bash
# The job table while a job runs, Zyklant.exe as a real service under Wine.
# A job started by a scan inherits the open table and holds it for as long
# as it runs; an editor's safe save must go through all the same, and the
# next scan reads the new table. The job goes on running after the
# service is stopped.
#
# Wine's server refuses to rename anything over a file that any process
# holds open, whatever its share flags; Windows allows it when every
# holder shares for deletion. So here the save is the other common form:
# the held table renamed away (a backup), the new file renamed into its
# place. Renaming the held file needs the same sharing for deletion.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"
wine_environment

wine_installation horamat_jobs "$bin" Zyklant.exe marker_job.exe late_marker.exe file_probe.exe
keeper=
cleanup() { [ -n "$keeper" ] && kill "$keeper" 2>/dev/null; wine_drop_service; }
trap cleanup EXIT
probe() { wine "$install/file_probe.exe" "$@" 2>/dev/null | tr -d '\r'; }

# The long job, at every minute; the first scan starts it, and the table
# is replaced before the next.
printf '* * * * * %s\\late_marker 100 %s\\spaet.txt\r\n' "$winstall" "$winstall" > "$install/CronTab.txt"

# Wine ends services once no ordinary program of the session runs.
setsid wine "$bin/idle_wait.exe" 600 </dev/null >/dev/null 2>&1 &
keeper=$!
wine sc create Horamat binPath= "$winstall\\Zyklant.exe" start= demand >/dev/null
wine sc start Horamat >/dev/null
running() { [ "$(wine_service_state)" = 4 ]; }
expect_true "Dienst laeuft" wait_for 20 running

job_logged() { grep -q '^Job gestartet am' "$install/Horamat.log" 2>/dev/null; }
expect_true "der lange Job wurde gestartet" wait_for 90 job_logged
# The scan closed the table at once; a moment later only the job holds it.
sleep 3
expect_eq "der Job haelt die geerbte Tabelle offen" 32 "$(probe unshared "$winstall\\CronTab.txt")"

# The safe save while the job holds the table.
printf '* * * * * %s\\marker_job %s\\neu.txt neu\r\n' "$winstall" "$winstall" > "$install/CronTab.neu"
expect_eq "gehaltene Tabelle umbenannt" 0 "$(probe replace "$winstall\\CronTab.txt" "$winstall\\CronTab.alt")"
expect_eq "neue Tabelle an ihre Stelle" 0 "$(probe replace "$winstall\\CronTab.neu" "$winstall\\CronTab.txt")"
new_table_read() { [ -s "$install/neu.txt" ]; }
expect_true "der naechste Scan liest die neue Tabelle" wait_for 75 new_table_read
expect_eq "der lange Job lief nur einmal" 1 "$(grep -c 'late_marker' "$install/Horamat.log")"

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
