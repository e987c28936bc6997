#!/usr/bin/env bash
# The whole system through the POSIX stand-in: the real Horamat installs,
# removes and reports; the real Zyklant runs the jobs. Console output is
# compared byte for byte (redirected output holds no clearing sequence).
# The clock runs 20 times fast under faketime for the runs that wait for a
# minute.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"
. "$src/tests/e2e/installer_texts.sh"

work=$(mktemp -d /tmp/hm_inst_XXXXXX)
chmod 755 "$work"
export HORAMAT_PLATFORM_ROOT=$work/root
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0
ctl="$bin/service_ctl"
key=$("$ctl" key)
account=horamat_e2e
made_account=0
cleanup() {
  "$bin/Horamat" d >/dev/null 2>&1
  [ $made_account = 1 ] && userdel "$account" >/dev/null 2>&1
  rm -rf "$work"
  clean_faketime_shm
}
trap cleanup EXIT

horamat() { "$bin/Horamat" "$@"; }
set_path() { mkdir -p "$key"; printf '%s' "$1" > "$key/Path"; printf '1.0.0' > "$key/Version"; }
state() { "$ctl" query Horamat 2>/dev/null | sed -n 's/^state=//p'; }
registration() { "$ctl" registration Horamat; }

# --- settings missing: banner with an empty version, report 1, exit 1
out=$(horamat i; echo "rc=$?")
expect_eq "ohne Einstellungen" "$(banner ''; printf 'Horamat ist Freeware.\n\n'; error_report 'Horamat ist fehlerhaft installiert.' 1; echo rc=1)" "$out"

install=$work/Horamat
mkdir -p "$install"; chmod 755 "$install"
set_path "$install"

# --- usage for every wrong command line, exit 0
for args in "" "i eins" "i a b c"; do
  out=$(horamat $args; echo "rc=$?")
  expect_eq "Aufruf [$args]" "$(diag "$install"; usage; echo rc=0)" "$out"
done
# An unknown command with one or three arguments: the banner, then usage.
for args in "I" "install" "x y z"; do
  out=$(horamat $args; echo "rc=$?")
  expect_eq "unbekanntes Kommando [$args]" \
    "$(diag "$install"; banner 1.0.0; printf 'Horamat ist Freeware.\n'; usage; echo rc=0)" "$out"
done

# --- Zyklant.exe missing: error 0 with the full path, nothing registered
out=$(horamat i; echo "rc=$?")
expect_eq "Programm fehlt" "$(work_head "$install" installieren; \
  error_report "Der Dienst konnte nicht gestartet werden ($install\\Zyklant.exe)." 0; echo rc=0)" "$out"
expect_eq "nichts registriert" "" "$(registration)"

# --- remove when never installed: warning 9
out=$(horamat d; echo "rc=$?")
expect_eq "nie installiert" "$(work_head "$install" deinstallieren; \
  warning_report 'Der Dienst existiert nicht.' 9; echo rc=0)" "$out"

# --- install for real, at 10:00:50 on a clock running 20 times fast
cp "$bin/Zyklant" "$install/Zyklant.exe"
printf 'echo "$(id -un)" >> %s/lauf.txt\n' "$install" > "$install/lauf.bat"
printf '* * * * * %s\\lauf\n' "$install" > "$install/CronTab.txt"
installed="$(work_head "$install" installieren; printf 'Horamat wurde installiert.\n'; echo rc=0)"
out=$(faketime -f '@2026-12-07 10:00:50 x20' "$bin/Horamat" i; echo "rc=$?")
expect_eq "installiert" "$installed" "$out"
expect_eq "Dienst laeuft" 4 "$(state)"
expect_true "registriert unter dem Systemkonto, interaktiv" grep -qx 'type=272' <<<"$(registration)"
has_job() { [ -s "$install/lauf.txt" ]; }
expect_true "Startzeile und Job in der naechsten Minute" wait_for 20 has_job
expect_eq "Startzeile" "Horamat gestartet am: Mon Dec 07 10:01:00 2026" "$(head -1 "$install/Horamat.log")"
expect_eq "Job lief als root" root "$(head -1 "$install/lauf.txt")"

# --- install again: warning 2, exit 0
out=$(horamat i; echo "rc=$?")
expect_eq "zweimal installiert" "$(work_head "$install" installieren; \
  warning_report 'Der Dienst existiert bereits.' 2; echo rc=0)" "$out"

# --- remove while running; account and password with d are ignored
pid=$("$ctl" pid Horamat)
out=$(horamat d konto geheim; echo "rc=$?")
expect_eq "deinstalliert" "$(work_head "$install" deinstallieren; printf 'Horamat wurde deinstalliert.\n'; echo rc=0)" "$out"
gone() { [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; }
expect_true "Zyklant beendet" wait_for 10 gone
expect_eq "Registrierung entfernt" "" "$(registration)"
lines=$(wc -l < "$install/Horamat.log")
expect_true "Log endet mit einem ganzen Eintrag" test "$(tail -c1 "$install/Horamat.log" | od -An -c | tr -d ' ')" = '\n'

# --- unknown account: warning 3
out=$(horamat i niemand_hier geheim; echo "rc=$?")
expect_eq "unbekanntes Konto" "$(work_head "$install" installieren; \
  warning_report 'Der Benutzeraccount existiert nicht.' 3; echo rc=0)" "$out"

# --- a real local account: the service and its jobs run under it
if [ "$(id -u)" = 0 ] && command -v useradd >/dev/null; then
  userdel "$account" >/dev/null 2>&1
  useradd --system --no-create-home "$account" && made_account=1
  chown "$account" "$install" "$install/Horamat.log"
  rm -f "$install/lauf.txt"
  # The scheduler opens its key with full access: an account that may only
  # read it ends at once, and the start is reported as failed.
  out=$(horamat i "$account" geheim; echo "rc=$?")
  expect_eq "Konto ohne Schreibrecht auf den Schluessel" "$(work_head "$install" installieren; \
    error_report 'Der Dienst konnte nicht gestartet werden (1053).' 1; echo rc=0)" "$out"
  expect_true "Registrierung bleibt nach dem Fehlstart" grep -q '^program=' <<<"$(registration)"
  horamat d >/dev/null
  chown "$account" "$key"
  out=$(faketime -f '@2026-12-07 11:00:50 x20' "$bin/Horamat" i "$account" geheim; echo "rc=$?")
  expect_eq "installiert mit Konto" "$installed" "$out"
  expect_true "registriert mit Konto, nicht interaktiv" grep -qx 'type=16' <<<"$(registration)"
  expect_true "Job unter dem Konto" wait_for 20 has_job
  expect_eq "Job lief als $account" "$account" "$(head -1 "$install/lauf.txt")"
  horamat d >/dev/null
else
  echo "skip: real account (needs root and useradd)"
fi

# --- a folder with a blank: the registered path is quoted, the service runs
spaced="$work/Mit Leerzeichen"
mkdir -p "$spaced"; cp "$bin/Zyklant" "$spaced/Zyklant.exe"
set_path "$spaced"
out=$(horamat i; echo "rc=$?")
expect_eq "installiert mit Leerzeichen" "$(work_head "$spaced" installieren; printf 'Horamat wurde installiert.\n'; echo rc=0)" "$out"
expect_true "Pfad in Anfuehrungszeichen" grep -qxF "program=\"$spaced\\Zyklant.exe\"" <<<"$(registration)"
expect_eq "Dienst laeuft" 4 "$(state)"
horamat d >/dev/null

finish
