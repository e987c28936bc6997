#!/usr/bin/env bash
# The clock steps while the real Zyklant runs as a service of the POSIX
# stand-in: forward by three minutes, then back by an hour, as the time
# service, a restored virtual machine or a resumed laptop does it. The
# fake clock runs 20 times fast (a minute in 3 s) from a time file that
# the test rewrites; libfaketime reads it afresh at every look.
# - Forward: the skipped minutes are scanned, so the fixed-time line of
#   10:03 runs once, stamped when it starts, and the every-minute line
#   runs for the skipped minutes too.
# - Back: the every-minute line goes on each minute, the fixed-time lines
#   of the repeated time wait; nothing that ran runs again.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"

faketime_lib=
for f in /usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1 /usr/lib/faketime/libfaketime.so.1; do
  [ -r "$f" ] && faketime_lib=$f && break
done
if [ -z "$faketime_lib" ]; then
  echo "skip: no libfaketime"
  exit 0
fi

native_service_setup clkstep
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0
log=$install/Horamat.log
clockfile=$work/zeit
marker() { printf '%s %s/marker_job.exe %s/%s.txt\n' "$1" "$install" "$install" "$2"; }
{
  marker '* * * * *' jeder
  marker '3 10 * * *' fest
  marker '3-59 9 * * *' gehalten
} > "$install/CronTab.txt"
runs() { local n; n=$(wc -l 2>/dev/null < "$install/$1.txt"); echo "${n:-0}"; }
runs_at_least() { [ "$(runs "$1")" -ge "$2" ]; }
# The fake clock: the time in the file, run on 20 times fast from when the
# service started. Moving the file's time by s seconds steps the clock by s.
set_clock() { printf '@%s x20\n' "$1" > "$clockfile"; }

set_clock '2026-12-07 10:00:50'
"$ctl" create Horamat "$install\\Zyklant.exe" >/dev/null
LD_PRELOAD=$faketime_lib FAKETIME_TIMESTAMP_FILE=$clockfile FAKETIME_NO_CACHE=1 \
  "$ctl" start Horamat >/dev/null
expect_eq "Dienst laeuft" "state=4" "$("$ctl" query Horamat)"
expect_true "10:01: der Job jeder Minute laeuft" wait_for 20 runs_at_least jeder 1

# Forward from about 10:01 to 10:04:50: 10:02 and 10:03 are skipped.
set_clock '2026-12-07 10:04:50'
expect_true "vor: die Zeile von 10:03 laeuft" wait_for 20 runs_at_least fest 1
expect_true "vor: jeder Minute auch fuer die uebersprungenen" wait_for 10 runs_at_least jeder 4
grep -a -B1 'fest.txt>$' "$log" | head -1 > "$work/fest.stamp"
expect_true "vor: der nachgeholte Job traegt die Zeit seines Starts" \
  grep -qE '^Job gestartet am Mon Dec 07 10:0[4-9]:[0-5][0-9] 2026' "$work/fest.stamp"

# Back by an hour: about 09:04 again.
before=$(runs jeder)
set_clock '2026-12-07 09:02:50'
expect_true "zurueck: der Job jeder Minute laeuft weiter" wait_for 30 runs_at_least jeder $((before + 3))
expect_eq "zurueck: die Zeilen fester Zeit warten" 0 "$(runs gehalten)"
expect_eq "keine Zeile fester Zeit zweimal" 1 "$(runs fest)"
[ -n "${KEEP_LOG:-}" ] && cp "$log" "$KEEP_LOG"
finish
