#!/usr/bin/env bash
# The real Zyklant as a service of the POSIX stand-in for hours of an
# accelerated clock (faketime, 120 times fast: an hour in 30 s), in
# Europe/Berlin across the night summer time ends (25 October 2026, the
# hour from 02:00 to 03:00 comes twice). A job every minute. Every minute
# must be scanned exactly once (the repeated ones twice), in order, and
# the scheduler's memory (VmRSS, RssAnon) and open descriptors stay flat.
#
# Under AddressSanitizer the allocator itself grows by about 2 MiB before
# it reuses freed memory in a steady cycle (a bare fopen/fclose loop does
# the same), so there the bound is wider, and the leak check the sanitizer
# makes when the service ends has to come out clean instead.
#   HORAMAT_SOAK_HOURS   accelerated hours, 2 unless set (scripts/soak: 24)
#   HORAMAT_SOAK_SPEED   the acceleration, 120 unless set
#   HORAMAT_SOAK_REPORT  a file that gets the figures
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"

hours=${HORAMAT_SOAK_HOURS:-2}
speed=${HORAMAT_SOAK_SPEED:-120}
report=${HORAMAT_SOAK_REPORT:-/dev/null}
export TZ=Europe/Berlin
if [ "$(date -d @1792891800 +%H:%M)" != "02:30" ]; then
  echo "skip: no Europe/Berlin time zone rules"
  exit 0
fi

native_service_setup soak
# No quarantine: memory the scheduler frees is reused at once, as without
# the sanitizer, so a flat line means no leak.
# No quarantine: memory the scheduler frees is reused, as without the
# sanitizer. The leak check runs when the service ends; the statistics
# printed at exit show that it got there.
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1:quarantine_size_mb=0:atexit=1:log_path=$work/sanitizer
export UBSAN_OPTIONS=print_stacktrace=1:log_path=$work/sanitizer

# The job is a batch file, run by the shell: no sanitizer in it, so the
# sanitizer's files are the service's alone.
printf 'echo x >> %s/tick.txt\n' "$install" > "$install/tick.bat"
printf '* * * * * %s/tick\n' "$install" > "$install/CronTab.txt"
sanitized=0
grep -qa __asan_init "$bin/Zyklant" && sanitized=1
# Centred on 00:30 UTC of 25 October 2026, the middle of the repeated hour;
# ten seconds before a minute, so the start waits a little for second 0.
middle=$(date -u -d '2026-10-25 00:30:00' +%s)
first=$((middle - hours * 1800))
clock_time="@$(date -d @$((first - 10)) '+%Y-%m-%d %H:%M:%S') x$speed"
real_seconds=$(( (hours * 3600 + speed - 1) / speed ))
echo "soak: $hours h at x$speed ($real_seconds s), clock $clock_time"

"$ctl" create Horamat "$install\\Zyklant.exe" >/dev/null
expect_true "Dienst startet" start_clocked "$clock_time"
pid=$(service_pid)

# One look a second: seconds, VmRSS and RssAnon in KiB, descriptors (the
# fewest of three quick looks: one in the middle of a scan also counts the
# table, the log or a job start's pipe).
fds() {
  local least=99999 n i
  for i in 1 2 3; do
    n=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l)
    [ "$n" -lt "$least" ] && least=$n
  done
  echo "$least"
}
begin=$SECONDS
while [ $((SECONDS - begin)) -lt "$real_seconds" ] && kill -0 "$pid" 2>/dev/null; do
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null)
  anon=$(awk '/^RssAnon:/ {print $2}' "/proc/$pid/status" 2>/dev/null)
  echo "$((SECONDS - begin)) ${rss:-0} ${anon:-0} $(fds)" >> "$work/samples.txt"
  sleep 1
done
expect_true "Prozess lebt bis zum Ende" kill -0 "$pid"
expect_eq "Stopp" "state=1" "$("$ctl" stop Horamat)"
pid_gone() { ! kill -0 "$pid" 2>/dev/null; }
expect_true "Prozess beendet" wait_for 20 pid_gone
stop_clock
expect_eq "jede Minute lief der Job" "$(grep -c '^Job gestartet am' "$install/Horamat.log")" "$(wc -l < "$install/tick.txt")"

python3 - "$install/Horamat.log" "$work/samples.txt" "$first" "$hours" "$report" "$sanitized" <<'PY' && pass "jede Minute genau einmal, Speicher und Deskriptoren flach" || fail "Dauerlauf"
import collections, datetime, sys, zoneinfo
log_path, samples_path, first, hours, report = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
sanitized = sys.argv[6] == "1"
berlin = zoneinfo.ZoneInfo("Europe/Berlin")
lines = open(log_path).read().split("\n")
assert lines[-1] == "", "log ends inside an entry"
lines = lines[:-1]
assert lines[0].startswith("Horamat gestartet am: "), lines[0]
body = lines[1:]
assert len(body) % 2 == 0, "torn entry"
stamps = []
for stamp, fields in zip(body[0::2], body[1::2]):
    assert stamp.startswith("Job gestartet am "), stamp
    assert fields.endswith("/tick>"), fields
    s = stamp[len("Job gestartet am "):]
    # How late in its minute a scan came says little at this speed (a
    # millisecond of the machine is a quarter of a second here): only the
    # minute counts.
    stamps.append(s[:17] + s[19:])
# The clock's own reading of every minute from the first scan on: the
# entries must be exactly these, in this order.
fmt = lambda t: datetime.datetime.fromtimestamp(t, berlin).strftime("%a %b %d %H:%M: %Y")
expected = [fmt(first + 60 * i) for i in range(len(stamps))]
errors = []
if stamps != expected:
    at = next(i for i in range(len(stamps)) if stamps[i] != expected[i])
    errors.append("entry %d is %s, the clock says %s" % (at, stamps[at], expected[at]))
if len(stamps) < hours * 60 - 2:
    errors.append("only %d minutes scanned" % len(stamps))
counts = collections.Counter(stamps)
repeated = sum(1 for c in counts.values() if c == 2)
if repeated != sum(1 for c in collections.Counter(expected).values() if c == 2) or repeated == 0:
    errors.append("repeated hour: %d minutes twice" % repeated)
samples = [tuple(map(int, l.split())) for l in open(samples_path)]
for look in samples[::max(1, len(samples) // 12)]:
    print("  look: %d s, VmRSS %d KiB, RssAnon %d KiB, %d descriptors" % look)
# Warm-up: the first tenth of the run (at least 3 looks).
warm = max(3, len(samples) // 10)
base, rest = samples[:warm], samples[warm:]
rss0, anon0, fd0 = base[-1][1], base[-1][2], base[-1][3]
rss_max, anon_max = max(s[1] for s in rest), max(s[2] for s in rest)
rss_end, anon_end, fd_end = samples[-1][1], samples[-1][2], samples[-1][3]
fd_set = sorted(set(s[3] for s in samples))
figures = [
    "soak: %d accelerated hours, %d minutes scanned (%d of them twice), %d looks, %s build" % (hours, len(stamps), repeated, len(samples), "AddressSanitizer" if sanitized else "optimised"),
    "VmRSS KiB: after warm-up %d, most %d, end %d" % (rss0, rss_max, rss_end),
    "RssAnon KiB: after warm-up %d, most %d, end %d" % (anon0, anon_max, anon_end),
    "descriptors: first %d, end %d, seen %s" % (samples[0][3], fd_end, fd_set),
]
print("\n".join(figures))
with open(report, "a") as r:
    r.write("\n".join(figures) + "\n")
# Flat: after the warm-up, nothing grows by more than a page table's
# worth; under the sanitizer, by no more than its allocator's own start.
allowed = 4096 if sanitized else 256
if rss_max > rss0 + allowed:
    errors.append("VmRSS grew from %d to %d KiB" % (rss0, rss_max))
if anon_max > anon0 + allowed:
    errors.append("RssAnon grew from %d to %d KiB" % (anon0, anon_max))
if fd_set != [samples[0][3]]:
    errors.append("descriptors changed: %s" % fd_set)
print("\n".join(errors))
sys.exit(1 if errors else 0)
PY
expect_eq "keine Meldung der Sanitizer" "" "$(cat "$work"/sanitizer* 2>/dev/null | grep -A20 -E 'ERROR|runtime error' | head -20)"
if [ $sanitized = 1 ]; then
  expect_true "Leckpruefung beim Ende lief" grep -q 'AddressSanitizer exit stats' "$work/sanitizer.$pid"
fi

finish
