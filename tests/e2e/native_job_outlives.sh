#!/usr/bin/env bash
# A job goes on running after the service that started it is stopped:
# stopping ends the scheduler's process, never the jobs it started. The job
# holds neither the table, which was open while the scan started it, nor
# the log: it inherits no descriptor of the scheduler's. Zyklant
# as a service of the POSIX stand-in, on a clock 20 times fast (faketime,
# which the job inherits: its 200 seconds pass in 10).
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"

work=$(mktemp -d /tmp/hm_outlive_XXXXXX)
export HORAMAT_PLATFORM_ROOT=$work/root
install=$work/install
key=$HORAMAT_PLATFORM_ROOT/registry/HKEY_LOCAL_MACHINE/Software/Pexa/Horamat
mkdir -p "$install" "$key"
cp "$bin/Zyklant" "$install/Zyklant.exe"
cp "$bin/late_marker" "$install/late_marker.exe"
printf '%s' "$install" > "$key/Path"
printf '1.0.0' > "$key/Version"
ctl="$bin/service_ctl"
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0
cleanup() { "$ctl" stop Horamat >/dev/null 2>&1; "$ctl" delete Horamat >/dev/null 2>&1; rm -rf "$work"; clean_faketime_shm; }
trap cleanup EXIT

printf '* * * * * %s\\late_marker 200 %s/spaet.txt\n' "$install" "$install" > "$install/CronTab.txt"
"$ctl" create Horamat "$install\\Zyklant.exe" >/dev/null
faketime -f '@2026-12-07 10:00:50 x20' "$ctl" start Horamat >/dev/null
job_logged() { grep -q '^Job gestartet am' "$install/Horamat.log" 2>/dev/null; }
expect_true "der lange Job wurde gestartet" wait_for 20 job_logged
job_running() { pgrep -f "late_marker 200 $install/spaet.txt" >/dev/null; }
expect_true "der Job laeuft" wait_for 5 job_running
job_pid=$(pgrep -f "late_marker 200 $install/spaet.txt" | head -n 1)
held=$(ls -l "/proc/$job_pid/fd" 2>/dev/null)
expect_true "die offenen Dateien des Jobs sind lesbar" test -n "$held"
expect_true "der Job haelt die Tabelle nicht" eval '! grep -q "CronTab.txt" <<<"$held"'
expect_true "der Job haelt das Log nicht" eval '! grep -q "Horamat.log" <<<"$held"'

expect_eq "Stopp meldet gestoppt" "state=1" "$("$ctl" stop Horamat)"
zyklant_gone() { ! pgrep -f "$install/Zyklant.exe" >/dev/null; }
expect_true "Dienstprozess beendet" wait_for 10 zyklant_gone
expect_true "der Job laeuft nach dem Stopp weiter" job_running
expect_true "sein Ende steht noch aus" test ! -e "$install/spaet.txt"
late_done() { [ -s "$install/spaet.txt" ]; }
expect_true "der Job lief zu Ende" wait_for 30 late_done

finish
