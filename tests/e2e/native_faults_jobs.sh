#!/usr/bin/env bash
# Jobs under abuse, with the real Zyklant as a service of the POSIX
# stand-in and a clock running 120 times fast (a minute in half a second):
# a program that does not exist (with and without its extension), one that
# is not executable, two that exit at once, and 1,000 that match the same
# minute and then hang for a real minute. Across 100 scans the
# scheduler's open descriptors stay the same, it never has a zombie child,
# and every hanging job ends on its own without the scheduler waiting.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"

native_service_setup fjob
cp "$bin/marker_job" "$install/nichtausfuehrbar.exe"
chmod 644 "$install/nichtausfuehrbar.exe"
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0:log_path=$work/sanitizer
export UBSAN_OPTIONS=print_stacktrace=1:log_path=$work/sanitizer
cleanup() {
  # Hanging jobs still about, by the ids they noted.
  for p in $(hanging_pids); do kill "$p" 2>/dev/null; done
  cleanup_service
}

# The hanging job: a batch file (run by the shell) that notes its number
# and its process id, then becomes a sleep on the real clock, outside
# faketime, under the same id.
hang_seconds=60.3
cat > "$install/haenger.bat" <<BAT
echo "\$1 \$\$" >> $install/haenger.txt
exec env -u LD_PRELOAD -u FAKETIME sleep $hang_seconds
BAT
# The ids of the hanging jobs that are still sleeping.
hanging_pids() {
  local n p args
  [ -f "$install/haenger.txt" ] || return 0
  while read -r n p; do
    mapfile -d '' args 2>/dev/null < "/proc/$p/cmdline" || continue
    [ "${args[0]:-}" = sleep ] && [ "${args[1]:-}" = "$hang_seconds" ] && echo "$p"
  done < "$install/haenger.txt"
}
hangers=1000
{
  printf '* * * * * %s/gibtsnicht.exe\n' "$install"
  printf '* * * * * %s/gibtsnicht eins zwei\n' "$install"
  printf '* * * * * %s/nichtausfuehrbar.exe %s/nie.txt\n' "$install" "$install"
  printf '* * * * * /bin/true\n'
  # The third minute of the run only.
  for n in $(seq 1 $hangers); do printf '3 10 * * * %s/haenger %d\n' "$install" "$n"; done
  printf '* * * * * %s/marker_job.exe %s/tick.txt\n' "$install" "$install"
} > "$install/CronTab.txt"

scans() { local n; n=$( (wc -l < "$install/tick.txt") 2>/dev/null); echo "${n:-0}"; }
scans_at_least() { [ "$(scans)" -ge "$1" ]; }
# The fewest of five looks: a look in the middle of a scan also counts the
# table, the log and a job start's pipe.
fd_count() {
  local least=99999 n i
  for i in 1 2 3 4 5; do
    n=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l)
    [ "$n" -lt "$least" ] && least=$n
    sleep 0.03
  done
  echo "$least"
}
zombie_children() {
  local least=99999 n i
  for i in 1 2 3; do
    n=$(ps -o stat= --ppid "$pid" | grep -c '^Z')
    [ "$n" -lt "$least" ] && least=$n
    sleep 0.02
  done
  echo "$least"
}
hanging() { hanging_pids | wc -l; }
# Children of the scheduler in three looks 0.4 s apart: a job of this
# minute that is just starting or ending is in one look, never in all.
lasting_children() {
  local seen now keep p i
  seen=" $(ps -o pid= --ppid "$pid" | tr -s ' \n' ' ') "
  for i in 1 2; do
    sleep 0.4
    now=" $(ps -o pid= --ppid "$pid" | tr -s ' \n' ' ') " keep=" "
    for p in $seen; do [[ $now == *" $p "* ]] && keep+="$p "; done
    seen=$keep
  done
  echo $seen
}

"$ctl" create Horamat "$install\\Zyklant.exe" >/dev/null
expect_true "Dienst startet" start_clocked '@2026-12-07 10:00:50 x120'
pid=$(service_pid)
expect_true "zwei Durchlaeufe" wait_for 20 scans_at_least 2
first_fds=$(fd_count)

# The burst of hanging jobs, then 100 scans with looks in between.
expect_true "die Haenger laufen an" wait_for 60 scans_at_least 4
most_hanging=0 most_fds=$first_fds most_zombies=0 looks=0
start_scan=$(scans)
while [ "$(scans)" -lt $((start_scan + 100)) ] && kill -0 "$pid" 2>/dev/null; do
  h=$(hanging); f=$(fd_count); z=$(zombie_children)
  [ "$h" -gt "$most_hanging" ] && most_hanging=$h
  [ "$f" -gt "$most_fds" ] && most_fds=$f
  [ "$z" -gt "$most_zombies" ] && most_zombies=$z
  looks=$((looks + 1))
  sleep 0.3
done
last_fds=$(fd_count)
echo "scans $(scans), looks $looks, descriptors first $first_fds last $last_fds most $most_fds, hanging at most $most_hanging"
expect_true "100 Durchlaeufe nach dem Schub" scans_at_least $((start_scan + 100))
expect_eq "alle Haenger gestartet" $hangers "$(wc -l < "$install/haenger.txt")"
expect_true "die Haenger liefen gleichzeitig" test "$most_hanging" -ge $((hangers * 9 / 10))
expect_eq "Deskriptoren nach 100 Durchlaeufen wie vorher" "$first_fds" "$last_fds"
expect_eq "nie ein Zombie des Schedulers" 0 "$most_zombies"
no_hangers() { [ "$(hanging)" -eq 0 ]; }
expect_true "die Haenger enden von selbst" wait_for 100 no_hangers
expect_eq "kein Zombie am Ende" 0 "$(zombie_children)"
expect_eq "kein Kind des Schedulers bleibt" "" "$(lasting_children)"
expect_eq "Deskriptoren nach dem Ende der Haenger" "$first_fds" "$(fd_count)"
expect_eq "Dienst laeuft" "state=4" "$("$ctl" query Horamat)"
expect_eq "Stopp" "state=1" "$("$ctl" stop Horamat)"

# Jobs that could not start still have their entries; the one that is not
# executable never ran (root needs an execute bit as well).
entries_for() { local n; n=$(grep -c -F -- "$1" "$install/Horamat.log"); echo "${n:-0}"; }
logged=$(entries_for "/marker_job.exe $install/tick.txt")
expect_true "Programm fehlt (mit Endung): Eintrag jede Minute" test "$(entries_for "gibtsnicht.exe>")" -eq "$logged"
expect_true "Programm fehlt (ohne Endung): Eintrag jede Minute" test "$(entries_for "gibtsnicht eins zwei>")" -eq "$logged"
expect_true "nicht ausfuehrbar: Eintrag jede Minute" test "$(entries_for "nichtausfuehrbar.exe")" -eq "$logged"
expect_true "nicht ausfuehrbar: lief nie" test ! -e "$install/nie.txt"
# Their entries say so, with the reason: 2 no file (/bin/true too: a name
# without a dot gets a suffix, and /bin/true.exe does not exist), 5
# access denied.
heads() { local n; n=$(grep -c "^$1 am " "$install/Horamat.log"); echo "${n:-0}"; }
expect_eq "Programm fehlt: Jobstart fehlgeschlagen (2)" $((3 * logged)) "$(heads 'Jobstart fehlgeschlagen (Fehlercode 2)')"
expect_eq "nicht ausfuehrbar: Jobstart fehlgeschlagen (5)" "$logged" "$(heads 'Jobstart fehlgeschlagen (Fehlercode 5)')"
expect_eq "gestartete Jobs: Job gestartet" $((logged + hangers)) "$(heads 'Job gestartet')"
expect_true "endet sofort: Eintrag jede Minute" test "$(entries_for "<*><*><*><*><*></bin/true>")" -eq "$logged"
expect_eq "Haenger: 1000 Eintraege" $hangers "$(entries_for "/haenger ")"
expect_eq "keine Meldung der Sanitizer" "" "$(cat "$work"/sanitizer* 2>/dev/null | head -20)"

finish
