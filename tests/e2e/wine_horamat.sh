#!/usr/bin/env bash
# The whole system under Wine: the real Horamat.exe installs and removes
# Zyklant.exe with Wine's Service Control Manager, in a folder with a
# blank; console output is compared byte for byte (line ends aside: the
# console's CR LF is folded to LF); a job runs at the next minute.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"
. "$src/tests/e2e/installer_texts.sh"
wine_environment

install="$WINEPREFIX/drive_c/Program Files/Horamat"
winstall='C:\Program Files\Horamat'
regkey='HKLM\Software\Pexa\Horamat'
rm -rf "$install"; mkdir -p "$install"
cp "$bin/Horamat.exe" "$install/"
# A job's program path is cut at blanks, so the job lives outside the
# installation folder.
mkdir -p "$WINEPREFIX/drive_c/jobs"; cp "$bin/marker_job.exe" "$WINEPREFIX/drive_c/jobs/"

keeper=
cleanup() {
  wine "$install/Horamat.exe" d >/dev/null 2>&1
  wine reg delete "$regkey" /f /reg:64 >/dev/null 2>&1
  [ -n "$keeper" ] && kill "$keeper" 2>/dev/null
}
trap cleanup EXIT
# Wine ends services once no ordinary program of the session runs.
setsid wine "$bin/idle_wait.exe" 900 </dev/null >/dev/null 2>&1 &
keeper=$!
wine reg delete "$regkey" /f /reg:64 >/dev/null 2>&1
wine sc delete Horamat >/dev/null 2>&1

horamat() { wine "$winstall\\Horamat.exe" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }
state_of() { wine sc query Horamat 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $3}'; }

# --- settings missing: banner with an empty version, report 1, exit 1
out=$(horamat i; echo "rc=$?")
expect_eq "ohne Einstellungen" "$(banner ''; printf 'Horamat ist Freeware.\n\n'; error_report 'Horamat ist fehlerhaft installiert.' 1; echo rc=1)" "$out"

wine reg add "$regkey" /v Path /t REG_SZ /d "$winstall" /f /reg:64 >/dev/null
wine reg add "$regkey" /v Version /t REG_SZ /d 1.0.0 /f /reg:64 >/dev/null

# --- usage, exit 0
for args in "" "i eins"; do
  out=$(horamat $args; echo "rc=$?")
  expect_eq "Aufruf [$args]" "$(diag "$winstall"; usage; echo rc=0)" "$out"
done
for args in "I" "install"; do
  out=$(horamat $args; echo "rc=$?")
  expect_eq "unbekanntes Kommando [$args]" "$(diag "$winstall"; banner 1.0.0; printf 'Horamat ist Freeware.\n'; usage; echo rc=0)" "$out"
done

# --- Zyklant.exe missing: error 0 with the full path, nothing registered
out=$(horamat i; echo "rc=$?")
expect_eq "Programm fehlt" "$(work_head "$winstall" installieren; error_report "Der Dienst konnte nicht gestartet werden ($winstall\\Zyklant.exe)." 0; echo rc=0)" "$out"
expect_eq "nichts registriert" "" "$(state_of)"

# --- removal when never installed: warning 9
out=$(horamat d; echo "rc=$?")
expect_eq "nie installiert" "$(work_head "$winstall" deinstallieren; warning_report 'Der Dienst existiert nicht.' 9; echo rc=0)" "$out"

# --- install: quoted path, running service, a job at the next minute
cp "$bin/Zyklant.exe" "$install/"
printf '* * * * * C:\\jobs\\marker_job C:\\lauf.txt jede\r\n' > "$install/CronTab.txt"
rm -f "$WINEPREFIX/drive_c/lauf.txt"
out=$(horamat i; echo "rc=$?")
expect_eq "installiert" "$(work_head "$winstall" installieren; printf 'Horamat wurde installiert.\n'; echo rc=0)" "$out"
image=$(wine reg query 'HKLM\System\CurrentControlSet\Services\Horamat' /v ImagePath /reg:64 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_EXPAND_SZ *//p; s/.*REG_SZ *//p')
expect_eq "Pfad in Anfuehrungszeichen" "\"$winstall\\Zyklant.exe\"" "$image"
running() { [ "$(state_of)" = 4 ]; }
expect_true "Dienst laeuft" wait_for 20 running
ran() { [ -s "$WINEPREFIX/drive_c/lauf.txt" ]; }
expect_true "Job in der naechsten Minute" wait_for 90 ran
expect_true "Startzeile im Log" grep -q '^Horamat gestartet am: ' "$install/Horamat.log"

# --- install again: warning 2, exit 0
out=$(horamat i; echo "rc=$?")
expect_eq "zweimal installiert" "$(work_head "$winstall" installieren; warning_report 'Der Dienst existiert bereits.' 2; echo rc=0)" "$out"

# --- remove while running
out=$(horamat d; echo "rc=$?")
expect_eq "deinstalliert" "$(work_head "$winstall" deinstallieren; printf 'Horamat wurde deinstalliert.\n'; echo rc=0)" "$out"
gone() { ! pgrep -f 'Horamat.Zyklant.exe' >/dev/null; }
expect_true "Zyklant beendet" wait_for 15 gone
expect_eq "Dienst entfernt" "" "$(state_of)"

finish
