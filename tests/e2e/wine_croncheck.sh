#!/usr/bin/env bash
# CronCheck.exe under Wine: a table with CR LF line ends read in text mode
# (the same report as with LF), a bare program name found in the system
# folder where the service stands, a long line in pieces, the exit codes,
# and the installed table through the registry without the installer's
# diagnostic line.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"
wine_environment

install=$WINEPREFIX/drive_c/croncheck
winstall='C:\croncheck'
regkey='HKLM\Software\Pexa\Horamat'
rm -rf "$install"; mkdir -p "$install"
cp "$bin/CronCheck.exe" "$install/"
cleanup() {
  wine reg delete "$regkey" /f /reg:64 >/dev/null 2>&1
  rm -rf "$install"
}
trap cleanup EXIT
wine reg delete "$regkey" /f /reg:64 >/dev/null 2>&1

croncheck() { wine "$winstall\\CronCheck.exe" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

long="0 0 * * * notepad $(printf 'x%.0s' $(seq 1 282))"  # 300 characters
{
  printf '# Kommentar\r\n'
  printf '0 12 * * * notepad\r\n'
  printf '30 8 * * 1-5 %s\\fehlt.exe /q\r\n' "$winstall"
  printf '0 0 1 1 * notepad\r\n'
  printf '*/5 * * * * notepad\r\n'
  printf '%s\r\n' "$long"
  printf '0 0 * * 7 notepad\r\n'
} > "$install/CronTab.txt"
tr -d '\r' < "$install/CronTab.txt" > "$install/lf.txt"
expect_eq "lange Zeile: 300 Zeichen" 300 "${#long}"

out=$(croncheck "$winstall\\CronTab.txt" 2); rc=$?
expect_eq "Exitcode 1: zwei Zeilen laufen nie" 1 "$rc"
expect_eq "erste Zeile" "Tabelle: $winstall\\CronTab.txt" "$(head -1 <<<"$out")"
expect_eq "Zeilen, wie der Dienst sie liest" \
  "Zeile 1: Kommentar|Zeile 2: benutzt|Zeile 3: benutzt|Zeile 4: benutzt|Zeile 5: benutzt|Zeile 6: benutzt|Zeile 7: uebersprungen|Zeile 8: benutzt" \
  "$(grep '^Zeile' <<<"$out" | sed 's/^\(Zeile [0-9]*: [A-Za-z]*\).*/\1/' | paste -sd'|')"
# notepad lies in the system folder, the service's current folder.
expect_eq "notepad im Systemordner gefunden" "" \
  "$(sed -n '/^Zeile 2:/,/^Zeile 3:/p' <<<"$out" | grep 'Warnung')"
expect_true "fehlendes Programm gemeldet" \
  grep -qF "Warnung: Programm \"$winstall\\fehlt.exe\" auf diesem Rechner nicht gefunden" <<<"$out"
expect_true "Ordner des Dienstes: der Systemordner" grep -qiF 'in seinem Ordner C:\windows\system32,' <<<"$out"
expect_eq "Starts im Stempel des Logs" 2 \
  "$(sed -n '/^Zeile 4:/,/^Zeile 5:/p' <<<"$out" | grep -cE '^  Start: (Sun|Mon|Tue|Wed|Thu|Fri|Sat) Jan 01 00:00:00 20[0-9]{2}$')"
expect_true "Schrittweite erklaert" grep -qF 'Vorschlag: Minute "0,5,10,15,20,25,30,35,40,45,50,55" statt "*/5"' <<<"$out"
expect_eq "Teile der langen Zeile" "Teil 1 der Datei-Zeile 6|Teil 2 der Datei-Zeile 6" \
  "$(grep -o 'Teil [0-9] der Datei-Zeile [0-9]*' <<<"$out" | paste -sd'|')"
expect_true "7 ist nicht Sonntag" grep -qF 'Vorschlag: Wochentag "0" statt "7"' <<<"$out"
expect_eq "Zusammenfassung" \
  "Zusammenfassung: 8 Zeilen: 1 Kommentar, 1 uebersprungen, 6 benutzt, davon 2 laufen nie; 5 Warnungen, 0 Hinweise." \
  "$(tail -1 <<<"$out")"
lf_out=$(croncheck "$winstall\\lf.txt" 2)
# Starts may move on by a minute between the two runs; all else is equal.
expect_eq "LF und CR LF: derselbe Bericht" "$(tail -n +3 <<<"$out" | grep -v '^  Start: ')" \
  "$(tail -n +3 <<<"$lf_out" | grep -v '^  Start: ')"

printf '0 12 * * * notepad\r\n' > "$install/gut.txt"
out=$(croncheck "$winstall\\gut.txt"); rc=$?
expect_eq "alle Zeilen laufen: Exitcode 0" 0 "$rc"
expect_eq "drei Starts ohne Anzahl" 3 "$(grep -c '^  Start: ' <<<"$out")"
out=$(croncheck "$winstall\\fehlt.txt"); rc=$?
expect_eq "fehlende Datei: Exitcode 2" 2 "$rc"
expect_eq "fehlende Datei: Meldung" "Tabelle \"$winstall\\fehlt.txt\" nicht lesbar." "$out"

# The time zone's changes: msvcrt takes the system's zone when TZ is unset,
# and Wine takes it from the host's /etc/localtime, here Europe/Berlin in a
# mount namespace of our own. A nightly job at 02:30 gets the hint, with
# the last Sundays of March and October within a year from today.
printf '30 2 * * * notepad\r\n' > "$install/nacht.txt"
out=$(unshare -m bash -c 'mount --bind /usr/share/zoneinfo/Europe/Berlin /etc/localtime && unset TZ &&
  wine "$1" "$2" 1' _ "$winstall\\CronCheck.exe" "$winstall\\nacht.txt" </dev/null | tr -d '\r')
expected=$(python3 - <<'PY'
import datetime as d
today = d.date.today()
def last_sunday(year, month):
    end = d.date(year, month, 31)
    return end - d.timedelta(days=(end.weekday() + 1) % 7)
changes = sorted((last_sunday(y, m), what) for y in (today.year, today.year + 1)
                 for m, what in ((3, "nicht"), (10, "zweimal"))
                 if today < last_sunday(y, m) <= today + d.timedelta(days=365))
print("  Hinweis: Zeitumstellung: " + ", ".join(f"laeuft am {day:%d.%m.%Y} {what} (02:00-02:59)" for day, what in changes))
PY
)
expect_eq "Zeitumstellung in Europe/Berlin, TZ nicht gesetzt" "$expected" "$(grep 'Hinweis: Zeitumstellung' <<<"$out")"

# The installed table, found through the registry.
out=$(croncheck); rc=$?
expect_eq "ohne Einstellungen: Exitcode 2" 2 "$rc"
wine reg add "$regkey" /v Path /t REG_SZ /d "$winstall" /f /reg:64 >/dev/null
wine reg add "$regkey" /v Version /t REG_SZ /d 1.0.0 /f /reg:64 >/dev/null
out=$(croncheck); rc=$?
expect_eq "installierte Tabelle, ohne Diagnosezeile" "Tabelle: $winstall\\CronTab.txt" "$(head -1 <<<"$out")"
expect_eq "installierte Tabelle: Exitcode 1" 1 "$rc"

finish
