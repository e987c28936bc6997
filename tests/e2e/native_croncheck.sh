#!/usr/bin/env bash
# CronCheck natively: its report byte for byte on a fixed clock (faketime),
# the same report from a table with CR LF line ends, the exit codes (3 for
# a table and a job that everyone may change), the installed table found
# through the stand-in's registry without the installer's diagnostic line,
# and the starts it predicts against those the real Zyklant makes as a
# service of the stand-in, the clock running 20 times fast.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"

native_service_setup check
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0
export TZ=UTC0
rm -r "$("$ctl" key)"  # no settings yet

# Monday 7 December 2026, half past ten: starts count from 10:01.
check_at() { faketime '2026-12-07 10:00:30' "$bin/CronCheck" "$@"; }

{
  printf '# Sicherung an Werktagen\n'
  printf '0,30 8-17 * * 1-5 %s\\marker_job %s/a.txt\n' "$install" "$install"
  printf '*/15 * * * MON-FRI %s\\marker_job\n' "$install"
  printf '0 12 31 4,6,9,11 * %s\\fehlt.exe\n' "$install"
  printf '  # 0 12 * * * alt\n'
  printf '1 2 3\n'
} > "$work/lf.txt"
sed 's/$/\r/' "$work/lf.txt" > "$work/crlf.txt"

expected=$(cat <<EOF
Tabelle: $work/lf.txt
Starts ab: Mon Dec 07 10:01:00 2026

Zeile 1: Kommentar
Zeile 2: benutzt: 0,30 8-17 * * 1-5 $install\\marker_job $install/a.txt
  Minute 0,30 | Stunde 8-17 | Tag jeder | Monat jeder | Wochentag Mo-Fr
  Start: Mon Dec 07 10:30:00 2026
  Start: Mon Dec 07 11:00:00 2026
Zeile 3: benutzt: */15 * * * MON-FRI $install\\marker_job
  Minute keine | Stunde jede | Tag jeder | Monat jeder | Wochentag keiner
  Laeuft nie: die Minute markiert nichts.
  Warnung: Minute "*/15": eine Schrittweite ("/") gibt es hier nicht; das Feld markiert nichts
    Vorschlag: Minute "0,15,30,45" statt "*/15"
  Warnung: Wochentag "MON-FRI": Namen von Tagen und Monaten gibt es hier nicht, nur Zahlen; das Feld markiert nichts
    Vorschlag: Wochentag "1-5" statt "MON-FRI"
Zeile 4: benutzt: 0 12 31 4,6,9,11 * $install\\fehlt.exe
  Minute 0 | Stunde 12 | Tag 31 | Monat 4,6,9,11 | Wochentag jeder
  Laeuft nie: keiner dieser Tage kommt in einem dieser Monate vor.
  Warnung: Tag "31" und Monat "4,6,9,11": keiner dieser Tage kommt in einem dieser Monate vor; die Zeile laeuft nie
    Vorschlag: Tag "30" statt "31" (den gibt es in jedem der Monate)
  Warnung: Programm "$install\\fehlt.exe" auf diesem Rechner nicht gefunden, gesucht als "$install\\fehlt.exe" (ohne Endung auch mit .com, .exe, .bat und .cmd)
    Vorschlag: den Pfad pruefen; ohne Pfad sucht der Dienst nur in seinem Ordner /, einen PATH kennt er nicht
Zeile 5: benutzt:   # 0 12 * * * alt
  Minute keine | Stunde 0 | Tag 12 | Monat jeder | Wochentag jeder
  Laeuft nie: die Minute markiert nichts.
  Warnung: "#" nach Leerraum ist kein Kommentar; nur ein "#" als erstes Zeichen der Zeile macht einen
    Vorschlag: ohne den Leerraum davor: "# 0 12 * * * alt"
Zeile 6: uebersprungen (weniger als fuenf Felder): 1 2 3

Zusammenfassung: 6 Zeilen: 1 Kommentar, 1 uebersprungen, 4 benutzt, davon 3 laufen nie; 5 Warnungen, 0 Hinweise.
EOF
)
report=$(check_at "$work/lf.txt" 2); rc=$?
expect_eq "Bericht Byte fuer Byte" "$expected" "$report"
expect_eq "Zeilen, die nie laufen: Exitcode 1" 1 "$rc"
crlf_report=$(check_at "$work/crlf.txt" 2); rc=$?
expect_eq "CR LF: derselbe Bericht" "$(tail -n +2 <<<"$expected")" "$(tail -n +2 <<<"$crlf_report")"
expect_eq "CR LF: Exitcode 1" 1 "$rc"

printf '0 12 * * * %s\\marker_job\n' "$install" > "$work/gut.txt"
out=$(check_at "$work/gut.txt"); rc=$?
expect_eq "alle Zeilen laufen: Exitcode 0" 0 "$rc"
expect_eq "drei Starts ohne Anzahl" 3 "$(grep -c '^  Start: ' <<<"$out")"
expect_eq "Zusammenfassung" \
  "Zusammenfassung: 1 Zeile: 0 Kommentare, 0 uebersprungen, 1 benutzt, davon 0 laufen nie; 0 Warnungen, 0 Hinweise." \
  "$(tail -1 <<<"$out")"

# Notepad's "UTF-8 mit BOM": the mark is skipped, as the scheduler skips it.
printf '\357\273\2770 12 * * * %s\\marker_job\n' "$install" > "$work/bom.txt"
out=$(check_at "$work/bom.txt"); rc=$?
expect_eq "UTF-8-Markierung: Exitcode 0" 0 "$rc"
expect_eq "UTF-8-Markierung: Hinweis und erste Zeile benutzt" \
  "Hinweis: die Tabelle beginnt mit der UTF-8-Markierung (BOM, Notepads \"UTF-8 mit BOM\"); der Dienst ueberspringt sie|Zeile 1: benutzt: 0 12 * * * $install\\marker_job" \
  "$(grep -E '^(Hinweis|Zeile)' <<<"$out" | paste -sd'|')"

# A nightly job at 02:30 in Europe/Berlin: the next year's changes of
# daylight-saving time skip it once and run it twice.
printf '30 2 * * * %s\\marker_job\n' "$install" > "$work/nacht.txt"
out=$(TZ=Europe/Berlin check_at "$work/nacht.txt"); rc=$?
expect_eq "Zeitumstellung: Exitcode 0" 0 "$rc"
expect_eq "Zeitumstellung: Hinweis mit den Daten" \
  "  Hinweis: Zeitumstellung: laeuft am 28.03.2027 nicht (02:00-02:59), laeuft am 31.10.2027 zweimal (02:00-02:59)" \
  "$(grep 'Hinweis: Zeitumstellung' <<<"$out")"

# The same table and job, changeable by everyone: the real program warns
# of both and ends with 3.
chmod o+w "$work/gut.txt" "$install/marker_job.exe"
out=$(check_at "$work/gut.txt"); rc=$?
expect_eq "von allen aenderbar: Exitcode 3" 3 "$rc"
expect_eq "von allen aenderbar: Tabelle und Programm" \
  "Warnung: Tabelle \"$work/gut.txt\" kann geaendert werden von: alle Benutzer (andere)|  Warnung: Programm \"$install\\marker_job.exe\" kann geaendert werden von: alle Benutzer (andere)" \
  "$(grep 'Warnung: ' <<<"$out" | sed 's/; wer.*//' | paste -sd'|')"
chmod o-w "$work/gut.txt" "$install/marker_job.exe"

out=$("$bin/CronCheck" "$work/fehlt.txt"); rc=$?
expect_eq "fehlende Datei: Exitcode 2" 2 "$rc"
expect_eq "fehlende Datei: Meldung" "Tabelle \"$work/fehlt.txt\" nicht lesbar." "$out"
out=$("$bin/CronCheck" "$work/gut.txt" viele); rc=$?
expect_eq "falsche Anzahl: Exitcode 2" 2 "$rc"
expect_eq "falsche Anzahl: Aufruf" "Aufruf: CronCheck [<Datei> [<Anzahl>]]" "$(head -1 <<<"$out")"

# The installed table: the Path of the stand-in's registry.
out=$("$bin/CronCheck"); rc=$?
expect_eq "ohne Einstellungen: Exitcode 2" 2 "$rc"
expect_true "ohne Einstellungen: Meldung" grep -q '^Installation nicht gefunden' <<<"$out"
"$ctl" set Path "$install" && "$ctl" set Version 1.0.0
{
  printf '* * * * * %s\\marker_job %s/jede.txt\n' "$install" "$install"
  printf '1,3,5 * * * * %s\\marker_job %s/ungerade.txt\n' "$install" "$install"
  printf '*/2 * * * * %s\\marker_job %s/nie.txt\n' "$install" "$install"
} > "$install/CronTab.txt"
out=$(faketime '2026-12-07 10:00:50' "$bin/CronCheck"); rc=$?
expect_eq "installierte Tabelle, ohne Diagnosezeile" "Tabelle: $install\\CronTab.txt" "$(head -1 <<<"$out")"
expect_eq "installierte Tabelle: Exitcode 1" 1 "$rc"

# The checker's forecast against the real scheduler: both at 10:00:50.
faketime '2026-12-07 10:00:50' "$bin/CronCheck" "$install/CronTab.txt" 6 > "$work/forecast.txt"
"$ctl" create Horamat "$install\\Zyklant.exe" >/dev/null
expect_eq "Dienst gestartet" 0 "$(faketime -f '@2026-12-07 10:00:50 x20' "$ctl" start Horamat >/dev/null; echo $?)"
count_entries() { [ "$(grep -c '^Job gestartet am' "$install/Horamat.log" 2>/dev/null)" -ge "$1" ]; }
# 10:01 to 10:06: six of the first line, three of the second.
expect_true "Eintraege fuer sechs Minuten" wait_for 90 count_entries 9
"$ctl" stop Horamat >/dev/null
python3 - "$work/forecast.txt" "$install/Horamat.log" <<'PY' && pass "Vorhersage passt zum Log" || fail "Vorhersage passt nicht zum Log"
import re, sys
forecast = open(sys.argv[1]).read().split("\n")
predicted, command = {}, None
for line in forecast:
    m = re.match(r"Zeile \d+: benutzt: \S+ \S+ \S+ \S+ \S+ (.*)$", line)
    if m:
        command = m.group(1)
        predicted[command] = []
    m = re.match(r"  Start: (... ... \d\d \d\d:\d\d):00 2026$", line)
    if m:
        predicted[command].append(m.group(1))
log = open(sys.argv[2]).read().split("\n")
logged = {}
for stamp, fields in zip(log[1::2], log[2::2]):
    m = re.fullmatch(r"Job gestartet am (... ... \d\d \d\d:\d\d):\d\d 2026", stamp)
    assert m, stamp
    logged.setdefault(fields[fields.rindex("<") + 1:-1], []).append(m.group(1))
last = "Mon Dec 07 10:06"
assert len(predicted) == 3, predicted
for command, starts in predicted.items():
    want = [s for s in starts if s <= last]
    got = [s for s in logged.get(command, []) if s <= last]
    assert got == want, (command, want, got)
assert [len(v) for v in predicted.values()] == [6, 6, 0], predicted
print("vorhergesagt und geloggt:", {c: len(v) for c, v in logged.items()})
PY

finish
