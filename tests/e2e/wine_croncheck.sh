#!/usr/bin/env bash
# CronCheck.exe under Wine: a table with CR LF line ends read in text mode
# (the same report as with LF), a bare program name found in the system
# folder where the service stands, a long line in pieces, the exit codes,
# a program with windows, TZ where the service would see it, and the
# installed table through the registry without the installer's
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
envkey='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
servicekey='HKLM\System\CurrentControlSet\Services\Horamat'
cleanup() {
  wine reg delete "$regkey" /f /reg:64 >/dev/null 2>&1
  wine reg delete "$envkey" /v TZ /f /reg:64 >/dev/null 2>&1
  wine reg delete "$servicekey" /v Environment /f /reg:64 >/dev/null 2>&1
  [ -n "${made_servicekey:-}" ] && wine reg delete "$servicekey" /f /reg:64 >/dev/null 2>&1
  rm -rf "$install"
}
trap cleanup EXIT
wine reg delete "$regkey" /f /reg:64 >/dev/null 2>&1

croncheck() { wine "$winstall\\CronCheck.exe" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

long="0 0 * * * cmd $(printf 'x%.0s' $(seq 1 286))"  # 300 characters
{
  printf '# Kommentar\r\n'
  printf '0 12 * * * cmd\r\n'
  printf '30 8 * * 1-5 %s\\fehlt.exe /q\r\n' "$winstall"
  printf '0 0 1 1 * cmd\r\n'
  printf '*/5 * * * * cmd\r\n'
  printf '%s\r\n' "$long"
  printf '0 0 * * 7 cmd\r\n'
} > "$install/CronTab.txt"
tr -d '\r' < "$install/CronTab.txt" > "$install/lf.txt"
expect_eq "lange Zeile: 300 Zeichen" 300 "${#long}"

out=$(croncheck "$winstall\\CronTab.txt" 2); rc=$?
expect_eq "Exitcode 1: zwei Zeilen laufen nie" 1 "$rc"
expect_eq "erste Zeile" "Tabelle: $winstall\\CronTab.txt" "$(head -1 <<<"$out")"
expect_eq "Zeilen, wie der Dienst sie liest" \
  "Zeile 1: Kommentar|Zeile 2: benutzt|Zeile 3: benutzt|Zeile 4: benutzt|Zeile 5: benutzt|Zeile 6: benutzt|Zeile 7: uebersprungen|Zeile 8: benutzt" \
  "$(grep '^Zeile' <<<"$out" | sed 's/^\(Zeile [0-9]*: [A-Za-z]*\).*/\1/' | paste -sd'|')"
# cmd lies in the system folder, the service's current folder.
expect_eq "cmd im Systemordner gefunden" "" \
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

printf '0 12 * * * cmd\r\n' > "$install/gut.txt"
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
printf '30 2 * * * cmd\r\n' > "$install/nacht.txt"
in_berlin() {
  unshare -m bash -c 'mount --bind /usr/share/zoneinfo/Europe/Berlin /etc/localtime && unset TZ &&
    wine "$1" "$2" 1' _ "$winstall\\CronCheck.exe" "$winstall\\nacht.txt" </dev/null | tr -d '\r'
}
out=$(in_berlin)
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

# Programs with windows: Wine's notepad.exe is an image of the graphical
# subsystem (2), its cmd.exe one of the console (3), as on Windows. Both
# the program as written with its path and a bare name found in the
# system folder get the warning; cmd none.
subsystem() {
  python3 -c 'import struct, sys
d = open(sys.argv[1], "rb").read()
at = struct.unpack_from("<I", d, 0x3C)[0]
print(d[:2].decode(), d[at:at + 4] == b"PE\0\0", struct.unpack_from("<H", d, at + 24 + 68)[0])' "$1"
}
expect_eq "notepad.exe: Subsystem 2, Fenster" "MZ True 2" "$(subsystem "$WINEPREFIX/drive_c/windows/notepad.exe")"
expect_eq "cmd.exe: Subsystem 3, Konsole" "MZ True 3" "$(subsystem "$WINEPREFIX/drive_c/windows/system32/cmd.exe")"
{
  printf '0 12 * * * C:\\windows\\notepad.exe\r\n'
  printf '0 12 * * * notepad x.txt\r\n'
  printf '0 12 * * * cmd /c exit\r\n'
} > "$install/fenster.txt"
out=$(croncheck "$winstall\\fenster.txt" 0); rc=$?
expect_eq "Programme mit Fenster: Exitcode 0" 0 "$rc"
expect_eq "Warnung bei notepad, nicht bei cmd" "1|2" \
  "$(awk '/^Zeile / { line = $2 } /oeffnet Fenster/ { print line }' <<<"$out" | tr -d : | paste -sd'|')"
expect_eq "Text der Warnung" \
  '  Warnung: Programm "C:\windows\notepad.exe" oeffnet Fenster (ein Windows-Programm, kein Konsolenprogramm): der Dienst startet es unsichtbar in Sitzung 0, wo niemand es sieht, bedient oder schliesst; endet es nicht von selbst, laeuft es fuer immer|    Vorschlag: ein Konsolenprogramm oder ein Skript (.bat, .cmd) starten, das ohne Eingabe von selbst endet' \
  "$(sed -n '/^Zeile 1:/,/^Zeile 2:/p' <<<"$out" | grep -E '^  (Warnung|  Vorschlag)' | paste -sd'|')"

# TZ where the service would see it, set with reg as an administrator
# would: for the whole machine, and in the service's own Environment
# value (the key spelled as reg users spell it; Windows ignores case).
# The jobs still run, so the exit code stays 0.
out=$(croncheck "$winstall\\gut.txt" 0); rc=$?
expect_eq "ohne TZ: keine Warnung" "" "$(grep 'TZ' <<<"$out")"
wine reg query "$servicekey" /reg:64 >/dev/null 2>&1 || made_servicekey=1
# Each value is read back before the checker runs: once on CI the machine's
# TZ was missing for the checker and for its own environment alike, so the
# write had not reached the registry; a second try tells that from a fault.
reg_set() {  # <key> <value> <type> <data>
  local try
  for try in 1 2 3; do
    wine reg add "$1" /v "$2" /t "$3" /d "$4" /f /reg:64 >/dev/null 2>&1
    wine reg query "$1" /v "$2" /reg:64 >/dev/null 2>&1 && return 0
    echo "(reg add $1 /v $2: nach Versuch $try nicht zu lesen)"
  done
}
reg_set "$envkey" TZ REG_SZ CET-1CEST
reg_set "$servicekey" Environment REG_MULTI_SZ 'LANG=de\0TZ=EST5EDT'
out=$(croncheck "$winstall\\gut.txt" 0); rc=$?
expect_eq "TZ gesetzt: Exitcode 0" 0 "$rc"
tz_effect='mit TZ rechnet die C-Laufzeit des Dienstes die Ortszeit nach TZ statt nach der Zeitzone von Windows, die Sommerzeit immer nach den Regeln der USA; Auftraege starten dann einige Wochen im Jahr (bei einem TZ, das sie nicht versteht, immer) zur falschen Stunde'
expect_eq "TZ fuer den Rechner und fuer den Dienst" \
  "Warnung: Umgebungsvariable TZ=CET-1CEST ist fuer den ganzen Rechner gesetzt (HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment, Wert TZ): $tz_effect
  Vorschlag: TZ entfernen: reg delete \"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment\" /v TZ /f, dann Windows neu starten; der Dienst folgt dann der Zeitzone des Systems
Warnung: Umgebungsvariable TZ=EST5EDT ist in der Umgebung des Dienstes gesetzt (HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Horamat, Wert Environment): $tz_effect
  Vorschlag: den Eintrag aus dem Wert Environment entfernen (regedit), dann den Dienst neu starten (net stop Horamat, net start Horamat); der Dienst folgt dann der Zeitzone des Systems" \
  "$(sed -n '3,/^$/p' <<<"$out" | sed '/^$/d')"
# Why: Wine's msvcrt, like Microsoft's, then keeps the US rules even in
# Berlin, and the checker's own forecast (it sees the machine's TZ too)
# skips the second Sunday of March instead of the last.
us_spring=$(python3 - <<'PY'
import datetime as d
today = d.date.today()
for y in (today.year, today.year + 1):
    day = d.date(y, 3, 8) + d.timedelta(days=(6 - d.date(y, 3, 8).weekday()) % 7)
    if today < day <= today + d.timedelta(days=365):
        print(f"  Hinweis: Zeitumstellung: laeuft am {day:%d.%m.%Y} nicht (02:00-02:59)")
        break
PY
)
expect_eq "mit TZ: Sommerzeit nach US-Regeln, auch in Europe/Berlin" "$us_spring" \
  "$(in_berlin | grep 'Hinweis: Zeitumstellung')"
wine reg delete "$envkey" /v TZ /f /reg:64 >/dev/null
wine reg add "$servicekey" /v Environment /t REG_MULTI_SZ /d 'LANG=de\0TZ=' /f /reg:64 >/dev/null
out=$(croncheck "$winstall\\gut.txt" 0)
expect_eq "TZ entfernt, leeres TZ: keine Warnung" "" "$(grep 'TZ' <<<"$out")"

# The installed table, found through the registry.
out=$(croncheck); rc=$?
expect_eq "ohne Einstellungen: Exitcode 2" 2 "$rc"
wine reg add "$regkey" /v Path /t REG_SZ /d "$winstall" /f /reg:64 >/dev/null
wine reg add "$regkey" /v Version /t REG_SZ /d 1.0.0 /f /reg:64 >/dev/null
out=$(croncheck); rc=$?
expect_eq "installierte Tabelle, ohne Diagnosezeile" "Tabelle: $winstall\\CronTab.txt" "$(head -1 <<<"$out")"
expect_eq "installierte Tabelle: Exitcode 1" 1 "$rc"

finish
