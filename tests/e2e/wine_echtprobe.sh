#!/usr/bin/env bash
# Echtprobe, the check for real Windows machines, under Wine: it refuses
# to begin on a machine where Horamat is set up (and changes nothing
# there); on a clean one every check that Wine can show passes, every
# other is skipped with a reason that names what Wine lacks, and the
# machine is as before afterwards. So the check itself is tried on every
# run, and only its Windows runs (CI's windows.yml, or by hand) show the
# rest.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"
wine_environment
drive=$WINEPREFIX/drive_c
regkey='HKLM\Software\Pexa\Horamat'
scratch=$drive/HoramatEchtprobe
work=$(mktemp -d)
keeper=
cleanup() {
  [ -n "$keeper" ] && kill "$keeper" 2>/dev/null
  wine_drop_service
  rm -rf "$scratch" "$drive/ProgramData/Horamat" "$work"
}
trap cleanup EXIT
# Leftovers of other scripts in the same prefix would be an installation.
wine_drop_service
wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Horamat' /f /reg:64 >/dev/null 2>&1
rm -rf "$scratch" "$drive/ProgramData/Horamat"
# Wine ends services once no ordinary program of the session runs; the
# check is one, but the refusal below ends at once.
setsid wine "$bin/idle_wait.exe" 900 </dev/null >/dev/null 2>&1 &
keeper=$!
programs=$(winepath -w "$bin")
probe() { wine "$bin/Echtprobe.exe" "$programs" "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# --- another installation: refused, untouched
wine reg add "$regkey" /v Path /t REG_SZ /d 'C:\Anderswo' /f /reg:64 >/dev/null
probe > "$work/refused"; rc=$?
expect_eq "eingerichtetes Horamat: Exitcode 2" 2 "$rc"
expect_true "eingerichtetes Horamat: sagt es" grep -q 'Horamat ist auf diesem Rechner eingerichtet' "$work/refused"
expect_eq "eingerichtetes Horamat: Schluessel unveraendert" 'C:\Anderswo' \
  "$(wine reg query "$regkey" /v Path /reg:64 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p')"
expect_true "eingerichtetes Horamat: kein Arbeitsordner" test ! -e "$scratch"
wine reg delete "$regkey" /f /reg:64 >/dev/null 2>&1

# --- a clean machine: every check
start=$SECONDS
probe > "$work/run"; rc=$?
cat "$work/run"
expect_eq "Echtprobe: Exitcode 0" 0 "$rc"
expect_eq "Echtprobe: kein Fehler" "" "$(grep '^FEHLER' "$work/run")"
expect_true "Echtprobe: Schlusszeile" grep -qE '^Echtprobe: [0-9]+ bestanden, 0 fehlgeschlagen, [0-9]+ uebersprungen$' "$work/run"
# Skipped only for what Wine lacks, each with its reason.
expect_eq "uebersprungen nur, was Wine nicht zeigen kann" "" \
  "$(grep '^uebersprungen' "$work/run" | grep -v '^uebersprungen: .*: Wine ')"
for group in Tabelle Sitzung Setup MSI Dienststatus Rechte CronCheck Jobwache; do
  expect_true "Gruppe $group lief" grep -qE "^(bestanden|uebersprungen): $group" "$work/run"
done
expect_true "Setup und MSI nicht uebersprungen" \
  eval "grep -q '^bestanden: Setup /S' '$work/run' && grep -q '^bestanden: MSI: msiexec /i' '$work/run'"
# What the setup puts in place for Jobwache Wine shows; its event log entry
# it cannot.
expect_true "Setup: Jobwache.exe und Ereignisquelle" \
  grep -q '^bestanden: Setup: Jobwache.exe im Auftragsordner, Ereignisquelle registriert$' "$work/run"
echo "($(grep -c '^uebersprungen' "$work/run") Pruefungen uebersprungen, $(grep -c '^bestanden' "$work/run") bestanden, $((SECONDS - start)) s)"

# --- the machine as before
expect_eq "danach: kein Dienst" "" "$(wine_service_state)"
expect_true "danach: kein Schluessel" eval '! wine reg query "$regkey" /reg:64 >/dev/null 2>&1'
expect_true "danach: kein Arbeitsordner" test ! -e "$scratch"
expect_true "danach: kein ProgramData\\Horamat" test ! -e "$drive/ProgramData/Horamat"
finish
