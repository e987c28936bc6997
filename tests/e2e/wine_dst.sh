#!/usr/bin/env bash
# Daylight-saving time on the Windows build: the real Zyklant.exe as a
# service under Wine, through both changes of 2026 in Europe/Berlin, on a
# clock running fast. On Windows the C library takes the zone from the
# system when TZ is unset, and Wine gives the system zone from the host:
# so the Wine session runs in a private mount namespace with the Berlin
# rules on /etc/localtime, and without TZ. A line for every minute; each
# minute must be scanned once, the repeated hour twice, the skipped hour
# never, each stamp in local time.
# The fast clock (faketime) is only in the Windows processes, which
# inherit it, Sleep included (Wine's Sleep waits in the process itself).
# The wineserver is started before it, on the real clock: on the fast
# clock it spun, and the service manager's start wait was a third of a
# second.
#   HORAMAT_WINE_DST_SPEED   the acceleration, 30 unless set
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"
wine_environment
speed=${HORAMAT_WINE_DST_SPEED:-30}
zone=/usr/share/zoneinfo/Europe/Berlin
if [ ! -r "$zone" ] || ! command -v faketime >/dev/null || ! unshare -m --propagation private true 2>/dev/null; then
  echo "skip: needs $zone, faketime and unshare -m (root)"
  exit 0
fi

# A service Horamat that an earlier test of the run left registered (as
# automatic start, in another folder) would start in each session below
# in place of ours, and log elsewhere.
wine_drop_service
wine_installation horamat_dst "$bin" Zyklant.exe idle_wait.exe
# The program is not there: each scan logs the failed start, and no job
# process costs time on the fast clock.
printf '* * * * * %s\\fehlt.exe\r\n' "$winstall" > "$install/CronTab.txt"
session=
cleanup() {
  wineserver -k 2>/dev/null
  [ -n "$session" ] && wait "$session" 2>/dev/null
  wine_drop_service
  clean_faketime_shm
}
trap cleanup EXIT
create() { wine sc create Horamat binPath= "$winstall\\Zyklant.exe" start= demand >/dev/null; }
expect_true "Dienst eingerichtet" create
# The settings and the registration are saved when the session ends.
timeout 120 wineserver -w

# run_change <local start> <end stamp>: a Wine session of its own in the
# Berlin namespace, the service started in it on the fast clock, until
# the log holds a stamp matching <end stamp>; then the session is ended.
run_change() {
  rm -f "$install/Horamat.log"
  FAKETIME_DONT_RESET=1 unshare -m --propagation private sh -c '
    mount --bind "$0" /etc/localtime || exit 3
    unset TZ
    wineserver -p || exit 4
    exec faketime -f "$1" sh -c "
      wine sc start Horamat >/dev/null || exit 5
      exec wine \"\$0\" 1000000000" "$2"
  ' "$zone" "@$1 x$speed" "$install/idle_wait.exe" </dev/null >/dev/null 2>&1 &
  session=$!
  end_stamp=$2
  # A session that ended (the start failed) has nothing more to log.
  reached() { grep -q "$end_stamp" "$install/Horamat.log" 2>/dev/null || ! kill -0 "$session" 2>/dev/null; }
  wait_for 500 reached
  expect_true "Log erreicht $2" grep -q "$end_stamp" "$install/Horamat.log"
  wineserver -k 2>/dev/null
  wait "$session" 2>/dev/null
  session=
}

# check_log <what> <last local minute> <repeated>: every minute from the
# first scan (before the change) to the last (after it) once, in order,
# as Berlin's local time gives it, the stamps built like the log's.
check_log() {
  python3 - "$install/Horamat.log" "$2" "$3" <<'PY' && pass "$1" || fail "$1"
import datetime, sys, zoneinfo
log, last, repeated = sys.argv[1], sys.argv[2], sys.argv[3] == "1"
berlin = zoneinfo.ZoneInfo("Europe/Berlin")
lines = open(log, "rb").read().decode("latin-1").split("\r\n")
assert lines[-1] == "", "log ends inside an entry"
assert lines[0].startswith("Horamat gestartet am: ") and lines[0].endswith(":00 2026"), lines[0]
body = lines[1:-1]
assert len(body) % 2 == 0, "torn entry"
# The program is missing: each scan logs a failed start.
head = "Jobstart fehlgeschlagen (Fehlercode 2) am "
assert all(s.startswith(head) for s in body[0::2]), body[0::2][:3]
stamps = [s[len(head):] for s in body[0::2]]
assert all(f == "  <*><*><*><*><*><C:\\horamat_dst\\fehlt.exe>" for f in body[1::2]), body[1::2][:3]
assert all(s[-7:-5] in ("00", "01", "02") for s in stamps), "scan late in its minute: %s" % stamps
minutes = [s[:-8] + s[-5:] for s in stamps]  # the stamp without its seconds
def stamp(t):
    l = t.astimezone(berlin)
    return l.strftime("%a %b %d %H:%M ") + l.strftime("%Y")
# The expected minutes, walked in UTC: Berlin's local time of each.
first = datetime.datetime.strptime(minutes[0], "%a %b %d %H:%M %Y")
assert first.hour == 1, "first scan after the change began: %s" % minutes[0]
start = first.replace(tzinfo=berlin).astimezone(datetime.timezone.utc)
expected, t = [], start
while True:
    expected.append(stamp(t))
    if stamp(t) == stamp(datetime.datetime.strptime(last, "%Y-%m-%d %H:%M").replace(tzinfo=berlin, fold=1)):
        break
    t += datetime.timedelta(minutes=1)
    assert len(expected) < 1000
got = minutes[:len(expected)]
assert got == expected, "\n".join("%s | %s" % p for p in zip(got, expected) if p[0] != p[1])[:2000]
twice = [m for m in set(got) if got.count(m) == 2]
if repeated:
    assert len(twice) == 60 and all(" 02:" in m for m in twice), sorted(twice)
else:
    assert not twice and not any(" 02:" in m for m in got), got
print("%d minutes, from %s to %s, %d twice" % (len(got), got[0], got[-1], len(twice)))
PY
}

# Summer time begins: 02:00 CET is 03:00 CEST, the hour from 02:00 never comes.
run_change "2026-03-29 01:30:00" "Sun Mar 29 03:05:"
check_log "Sommerzeit beginnt: 02:00 bis 02:59 nie, jede andere Minute einmal" "2026-03-29 03:05" 0

# Summer time ends: 03:00 CEST is 02:00 CET, the hour from 02:00 comes twice.
run_change "2026-10-25 01:30:00" "Sun Oct 25 03:05:"
check_log "Sommerzeit endet: 02:00 bis 02:59 zweimal, jede andere Minute einmal" "2026-10-25 03:05" 1

finish
