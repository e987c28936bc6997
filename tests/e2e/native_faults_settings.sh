#!/usr/bin/env bash
# The settings under abuse, read by the real programs from the stand-in's
# registry files: every length of Path from 0 to 300, values with NULs
# inside, values and the key missing, a key and a value that the caller
# may not read (as nobody, since root reads everything). Zyklant started
# from a shell says with its exit code whether it took the settings (0:
# it did, and then found no Service Control Manager; 1: it did not);
# Horamat prints its diagnostic line and a report. The longest usable
# Path, and one longer, are also tried with the scheduler running as a
# service; so is a Path with a NUL inside.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"

cache=$bin/../CMakeCache.txt
notice=$(sed -n 's/^HORAMAT_MAKER_NOTICE:STRING=//p' "$cache")

native_service_setup fset
key=$("$ctl" key)
mkdir -p "$work/bin" "$work/san"
chmod 777 "$work/san"
for p in Horamat Zyklant; do cp "$bin/$p" "$work/bin/$p"; done
cp "$bin/marker_job" "$work/bin/marker_job.exe"
chmod 755 "$work/bin"/*
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0:log_path=$work/san/asan
export UBSAN_OPTIONS=print_stacktrace=1:log_path=$work/san/ubsan

# put <name> <bytes as printf format>: the value file, written as is.
put() { printf "$2" > "$key/$1"; }
zyklant_rc() { "$work/bin/Zyklant" >/dev/null 2>&1; echo $?; }
# Horamat without arguments: exit code, then its first two lines.
horamat_head() { local out; out=$("$work/bin/Horamat"; echo "rc=$?"); printf '%s\n' "$(tail -1 <<<"$out")"; head -2 <<<"$out"; }
banner() { printf 'Horamat %s - %s' "$1" "$notice"; }

# --- Every length of Path from 0 to 300, one run of each program.
put Version '1.0.0'
longest=/$(printf '%0299d' 0 | tr 0 p)
for n in $(seq 0 300); do
  printf '%s' "${longest:0:$n}" > "$key/Path"
  printf '%d %s\n' "$n" "$(zyklant_rc)"
  "$work/bin/Horamat" > "$work/out_$n.txt"; echo "rc=$?" >> "$work/out_$n.txt"
done > "$work/zyklant_rc.txt"
python3 - "$work" "$(banner 1.0.0)" "$(banner '')" <<'PY' && pass "Path jeder Laenge von 0 bis 300" || fail "Path jeder Laenge von 0 bis 300"
import sys
work, banner, empty_banner = sys.argv[1:4]
wrong = []
for line in open(work + "/zyklant_rc.txt"):
    n, rc = map(int, line.split())
    path = ("/" + "p" * 300)[:n]
    usable = n <= 243
    if rc != (0 if usable else 1):
        wrong.append("Zyklant %d: exit %d" % (n, rc))
    out = open("%s/out_%d.txt" % (work, n)).read().split("\n")
    # Up to 255 characters the query reads the value; from 256 on (257
    # bytes with the terminator) it answers 234 and leaves the buffer alone.
    first = ("0 %s 256 %d" % (path, n + 1)) if n <= 255 else ("234   256 %d" % (n + 1))
    want = [first, banner if usable else empty_banner]
    if out[:2] != want:
        wrong.append("Horamat %d: %r" % (n, out[:2]))
    rc_line = out[-2]
    if rc_line != ("rc=0" if usable else "rc=1"):
        wrong.append("Horamat %d: %s" % (n, rc_line))
    if usable != ("Fehlercode: 1" not in out):
        wrong.append("Horamat %d: report" % n)
print("\n".join(wrong[:20]))
sys.exit(1 if wrong else 0)
PY

# --- NULs inside the values: everything after the first NUL is ignored.
install=$work/inst
mkdir -p "$install"
cp "$work/bin/Zyklant" "$install/Zyklant.exe"
printf '%s\0/anderswo' "$install" > "$key/Path"
printf '1.0\0beta' > "$key/Version"
expect_eq "NUL im Wert: Zyklant nimmt die Einstellungen" 0 "$(zyklant_rc)"
expect_eq "NUL im Wert: Horamat" "$(printf 'rc=0\n0 %s 256 %d\n%s' "$install" $(( ${#install} + 11 )) "$(banner 1.0)")" "$(horamat_head)"
printf '* * * * * %s/bin/marker_job.exe %s/nul_job.txt\n' "$work" "$work" > "$install/CronTab.txt"
"$ctl" create Horamat "$install\\Zyklant.exe" >/dev/null
expect_true "NUL im Wert: Dienst startet" start_clocked '@2026-12-07 10:00:50 x20'
has_job() { [ -s "$1" ]; }
expect_true "NUL im Wert: Job lief" wait_for 20 has_job "$work/nul_job.txt"
expect_eq "NUL im Wert: Log im Ordner vor dem NUL" "Horamat gestartet am: Mon Dec 07 10:01" "$(head -1 "$install/Horamat.log" | cut -c1-38)"
expect_eq "NUL im Wert: Stopp" "state=1" "$("$ctl" stop Horamat)"
stop_clock
"$ctl" delete Horamat >/dev/null
printf '1.0.0' > "$key/Version"

# --- The longest usable Path (243 characters) as a service, and one more.
for n in 243 244; do
  folder=$work/$(printf "%0$((n - ${#work} - 1))d" 0 | tr 0 L)
  expect_eq "Path mit $n Zeichen: Laenge" "$n" "${#folder}"
  mkdir -p "$folder"
  cp "$work/bin/Zyklant" "$folder/Zyklant.exe"
  printf '* * * * * %s/bin/marker_job.exe %s/job_%d.txt\n' "$work" "$work" "$n" > "$folder/CronTab.txt"
  printf '%s' "$folder" > "$key/Path"
  "$ctl" create Horamat "$folder\\Zyklant.exe" >/dev/null
  if [ "$n" = 243 ]; then
    expect_true "Path mit 243 Zeichen: Dienst startet" start_clocked '@2026-12-07 10:00:50 x20'
    expect_true "Path mit 243 Zeichen: Job lief" wait_for 20 has_job "$work/job_243.txt"
    expect_true "Path mit 243 Zeichen: Log im Ordner" grep -q '^Job gestartet am' "$folder/Horamat.log"
    expect_eq "Path mit 243 Zeichen: Stopp" "state=1" "$("$ctl" stop Horamat)"
    stop_clock
  else
    # Zyklant ends with 1 before its dispatcher connects: the start fails.
    start_clocked '@2026-12-07 10:00:50 x20'
    expect_eq "Path mit 244 Zeichen: Start scheitert" "start error=1053" "$(cat "$work/clock.out")"
    sleep 4
    expect_true "Path mit 244 Zeichen: kein Log" test ! -e "$folder/Horamat.log"
    expect_true "Path mit 244 Zeichen: kein Job" test ! -e "$work/job_244.txt"
    stop_clock
  fi
  "$ctl" delete Horamat >/dev/null
done

# --- Missing values, a value that is a folder, the key missing.
printf '%s' "$install" > "$key/Path"
path_line=$(printf '0 %s 256 %d' "$install" $(( ${#install} + 1 )))
check_missing() {  # <what> <first line or ""> 
  local want
  if [ -n "$2" ]; then want=$(printf 'rc=1\n%s\n%s' "$2" "$(banner '')"); else want=$(printf 'rc=1\n%s\nHoramat ist Freeware.' "$(banner '')"); fi
  expect_eq "$1: Zyklant" 1 "$(zyklant_rc)"
  expect_eq "$1: Horamat" "$want" "$(horamat_head)"
}
rm "$key/Path"
check_missing "Path fehlt" "2   256 256"
mkdir "$key/Path"
check_missing "Path ist ein Ordner" "2   256 256"
rmdir "$key/Path"; printf '%s' "$install" > "$key/Path"; rm "$key/Version"
check_missing "Version fehlt" "$path_line"
rm "$key/Path"
check_missing "beide fehlen" "2   256 256"
rmdir "$key"
check_missing "Schluessel fehlt" ""
mkdir -p "$key"; printf '%s' "$install" > "$key/Path"; printf '1.0.0' > "$key/Version"

# --- No read permission, as nobody (root may read everything).
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
  as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
  nobody_zyklant_rc() { as_nobody "$work/bin/Zyklant" >/dev/null 2>&1; echo $?; }
  nobody_horamat_head() { local out; out=$(as_nobody "$work/bin/Horamat"; echo "rc=$?"); printf '%s\n' "$(tail -1 <<<"$out")"; head -2 <<<"$out"; }
  expect_eq "nobody, alles lesbar: Horamat" "$(printf 'rc=0\n%s\n%s' "$path_line" "$(banner 1.0.0)")" "$(nobody_horamat_head)"
  chmod 700 "$key"
  expect_eq "nobody, Schluessel nicht lesbar: Zyklant" 1 "$(nobody_zyklant_rc)"
  expect_eq "nobody, Schluessel nicht lesbar: Horamat" "$(printf 'rc=1\n%s\nHoramat ist Freeware.' "$(banner '')")" "$(nobody_horamat_head)"
  chmod 755 "$key"; chmod 600 "$key/Path"
  expect_eq "nobody, Path nicht lesbar: Horamat" "$(printf 'rc=1\n5   256 256\n%s' "$(banner '')")" "$(nobody_horamat_head)"
  # The scheduler opens the key for writing: give nobody the key, not the value.
  chown 65534 "$key"
  expect_eq "nobody, Path nicht lesbar: Zyklant" 1 "$(nobody_zyklant_rc)"
  chmod 644 "$key/Path"
  expect_eq "nobody, Schluessel gehoert ihm, Path lesbar: Zyklant" 0 "$(nobody_zyklant_rc)"
  chown 0 "$key"
else
  echo "skip: no read permission (needs root, setpriv and the account nobody)"
fi

expect_eq "keine Meldung der Sanitizer" "" "$(cat "$work"/san/* 2>/dev/null | head -20)"

finish
