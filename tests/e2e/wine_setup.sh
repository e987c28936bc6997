#!/usr/bin/env bash
# The Windows release under Wine. The programs, the setup and the
# uninstaller carry manifest, version and icon. The NSIS setup, silent,
# installs into the default folder (C:\Program Files\Horamat, a blank in
# it), protects it and the folder for job programs with icacls, writes Path
# and Version in the 64-bit view, sets the service up and gives it a
# description and recovery actions; a job in the jobs folder runs at its
# minute and CronCheck finds nothing to warn about; an update keeps the
# table and the log, also against a handle that another program holds
# for a while, and says what to close when the handle stays; the
# uninstaller removes service, programs and key and keeps table, log and
# jobs. A folder over 243 characters is refused, one of 243 works, a
# folder with other files is refused, a failing icacls fails the
# installation, a service that cannot be set up is named with Horamat's
# report, /NOSERVICE and /PURGE do what they say. The ZIP holds the
# same files; the reg lines of its Installation.txt write the same key
# and its icacls lines are the setup's.
#
# icacls.exe and sc.exe are replaced by tests/tools/call_recorder (see
# release_lib.sh).
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"
. "$src/tests/e2e/release_lib.sh"
setup=$bin/Horamat-Setup-$version.exe
archive=$bin/Horamat-$version.zip
packaging=$src/packaging
winstall='C:\Program Files\Horamat'
install="$drive/Program Files/Horamat"
# 243 characters in all: the longest folder Path may name.
name240=$(printf 'h%.0s' $(seq 240))
wlongest="C:\\$name240" longest=$drive/$name240
wtoolong="C:\\${name240}xy" toolong=$drive/${name240}xy
wnoservice='C:\Horamat ohne Dienst' noservice="$drive/Horamat ohne Dienst"
wothers='C:\Fremder Ordner' others="$drive/Fremder Ordner"
wfailing='C:\Horamat ohne Rechte' failing="$drive/Horamat ohne Rechte"
uninstkey='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Horamat'
work=$(mktemp -d)

cleanup() {
  release_cleanup
  wine sc delete Fremd >/dev/null 2>&1
  wine reg delete "$uninstkey" /f /reg:64 >/dev/null 2>&1
  rm -rf "$install" "$longest" "$toolong" "$noservice" "$others" "$failing" "$work"
}
trap cleanup EXIT

for f in "$setup" "$archive"; do
  [ -f "$f" ] || { echo "FEHLER: $f fehlt (makensis installiert? Debian-Paket nsis)"; exit 1; }
done

# Leftovers of other scripts in the same prefix: a table in the default
# folder would be kept by the setup, as it should.
rm -rf "$install" "$longest" "$toolong" "$noservice" "$others" "$failing"
release_start

# NSIS reads /D= and _?= up to the end of the command line, unquoted; wine
# quotes an argument that holds a blank, so such a folder goes in as words.
folder_words() {  # folder_words <array name> <option> <folder>
  local -n words=$1
  read -ra words <<< "$3"
  words[0]=$2${words[0]}
}
run_setup() {  # run_setup <folder or ""> [options...]: the setup's exit code
  local folder=$1; shift
  local -a dir=()
  [ -n "$folder" ] && folder_words dir /D= "$folder"
  rm -f "$calls"
  recording wine "$setup" /S "$@" "${dir[@]}" 2>"$work/setup.err"
  local rc=$?
  # What a silent setup says is all there is to know when a step fails.
  [ "$rc" = 0 ] || echo "(Setup, Exitcode $rc: $(tr -d '\r' < "$work/setup.err" | grep -a 'Horamat-Setup:'))"
  return "$rc"
}
run_uninstaller() {  # run_uninstaller <folder> [options...]: waits for the end
  local folder=$1; shift
  local -a dir
  folder_words dir '_?=' "$folder"
  recording wine "$folder\\Entfernen.exe" /S "$@" "${dir[@]}"
}

# --- the texts read in Notepad: UTF-8 with a byte-order mark, so that
# every Notepad shows their umlauts whatever the code page; CR LF. The
# sample table's bytes and examples are sample_table_test's.
notepad_texts() {  # notepad_texts <file...>: exit code 0 when all are so
  python3 - "$@" <<'PY'
import sys
for name in sys.argv[1:]:
    data = open(name, "rb").read()
    assert data.startswith(b"\xef\xbb\xbf"), name + ": no UTF-8 byte-order mark"
    assert data.endswith(b"\r\n"), name
    assert b"\n" not in data.replace(b"\r\n", b""), name + ": LF without CR"
    text = data[3:].decode("utf-8")
    assert set(c for c in text if ord(c) > 127) <= set("\u00e4\u00f6\u00fc\u00c4\u00d6\u00dc\u00df"), name
    assert all(c in text for c in "\u00e4\u00f6\u00fc\u00df"), name + ": umlauts spelled out"
PY
}
notepad_texts "$packaging/LiesMich.txt" "$packaging/Installation.txt.in" \
  && pass "Texte: UTF-8 mit BOM, CR LF, Umlaute" || fail "Texte"

# --- what Windows shows of each program: manifest, version, icon
for f in Horamat Zyklant CronCheck "Horamat-Setup-$version"; do
  level=asInvoker
  [ "$f" = Horamat ] || [ "$f" = "Horamat-Setup-$version" ] && level=requireAdministrator
  python3 "$src/tests/e2e/pe_resources.py" "$bin/$f.exe" > "$work/res"
  expect_eq "$f.exe: Ausfuehrungsebene" "level=$level" "$(grep '^level=' "$work/res")"
  expect_true "$f.exe: Windows 7 bis 11" grep -q '^supportedOS=.*35138b9a.*' "$work/res"
  expect_true "$f.exe: Windows 10 und 11" grep -q '^supportedOS=.*8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a' "$work/res"
  expect_eq "$f.exe: Version" "FileVersion=$version ProductName=Horamat ProductVersion=$version" \
    "$(grep -E '^(FileVersion|ProductVersion|ProductName)=' "$work/res" | sort | paste -sd' ')"
  expect_true "$f.exe: Beschreibung" grep -qE '^FileDescription=Horamat' "$work/res"
  expect_true "$f.exe: Hersteller" grep -q '^CompanyName=.' "$work/res"
  expect_eq "$f.exe: Symbol" "icon=yes" "$(grep '^icon=' "$work/res")"
done

# --- silent install into the default folder. %ProgramData%\Horamat made
# by a user before, with a file in it, is taken over with all in it.
mkdir -p "$drive/ProgramData/Horamat"; echo vorher > "$drive/ProgramData/Horamat/vorher.txt"
start=$SECONDS
run_setup ""; rc=$?
expect_eq "Setup: Exitcode" 0 "$rc"
# Both folders protected before anything is put there, then the service's
# description and recovery; nothing else. The new installation folder has
# nothing below it yet.
expect_eq "icacls und sc, wie sie sein sollen" "$(install_calls "$winstall" new)" "$(recorded)"
expect_true "Ordner fuer Auftraege angelegt" test -d "$jobs"
expect_description
python3 "$src/tests/e2e/pe_resources.py" "$install/Entfernen.exe" > "$work/res"
expect_eq "Entfernen.exe: Version und Symbol" "FileVersion=$version icon=yes" \
  "$(grep -E '^(FileVersion|icon)=' "$work/res" | paste -sd' ')"
expect_eq "Path (64-Bit-Ansicht)" "$winstall" "$(reg_value Path)"
expect_eq "Version" "$version" "$(reg_value Version)"
expect_eq "nichts in der 32-Bit-Ansicht" "" "$(reg_value Path 32)"
expect_eq "Dienst mit Pfad in Anfuehrungszeichen" "\"$winstall\\Zyklant.exe\"" "$(image_path)"
expect_true "Dienst laeuft" wait_for 20 running
for f in Zyklant.exe Horamat.exe CronCheck.exe LiesMich.txt Entfernen.exe; do
  expect_true "installiert: $f" test -f "$install/$f"
done
expect_true "Beispieltabelle installiert" cmp -s "$packaging/CronTab.txt" "$install/CronTab.txt"
expect_true "LiesMich.txt installiert, Byte fuer Byte" cmp -s "$packaging/LiesMich.txt" "$install/LiesMich.txt"
expect_true "Eintrag zum Entfernen" key_exists "$uninstkey"
expect_true "Jobwache.exe im Ordner fuer Auftraege, wie gebaut" cmp -s "$bin/Jobwache.exe" "$jobs/Jobwache.exe"
expect_eq "Ereignisquelle von Jobwache" "$wjobs\\Jobwache.exe" "$(event_message_file)"
echo "(Installation: $((SECONDS - start)) s)"

# --- a job in the jobs folder, added to the table, runs at its minute. The
# scheduler reads the table at every scan; a minute that has begun less
# than 10 s ahead is skipped, so that the line is surely in place before it.
cp "$bin/marker_job.exe" "$jobs/"
add_job_at_next_minute "$install/CronTab.txt" setup_marker.txt setup
# CronCheck on the installed table: everything protected, nothing to warn
# about (Wine's one access list names SYSTEM and its user, an
# administrator).
croncheck() { wine "$bin/CronCheck.exe" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }
out=$(croncheck); rc=$?
expect_eq "CronCheck: Exitcode 0" 0 "$rc"
expect_eq "CronCheck: keine Warnung" "" "$(grep 'Warnung:' <<<"$out")"
job_ran() { [ -s "$jobs/setup_marker.txt" ]; }
expect_true "Job lief" wait_for "$job_wait" job_ran
sleep 1
expect_true "Job um $job_stamp.. im Log" grep -q "^Job gestartet am ... ... .. $job_stamp" "$install/Horamat.log"
expect_eq "sonst lief nichts" 1 "$(grep -c '^Job gestartet am' "$install/Horamat.log")"

# --- update: table and log stay as they are, the service runs again
cp "$install/CronTab.txt" "$work/table"
cp "$install/Horamat.log" "$work/log"
before=$(scheduler_pid)
run_setup ""; rc=$?
expect_eq "Aktualisierung: Exitcode" 0 "$rc"
expect_true "Aktualisierung: Tabelle unveraendert" cmp -s "$work/table" "$install/CronTab.txt"
# The new scheduler may add its start line at the next second 0.
size=$(stat -c %s "$work/log")
expect_true "Aktualisierung: Log unveraendert" cmp -s -n "$size" "$work/log" "$install/Horamat.log"
expect_eq "Aktualisierung: nur Startzeilen dazu" "" \
  "$(tail -c +$((size + 1)) "$install/Horamat.log" | tr -d '\r' | grep -v '^Horamat gestartet am')"
expect_true "Aktualisierung: Dienst laeuft" wait_for 20 running
fresh() { local now; now=$(scheduler_pid); [ -n "$now" ] && [ "$now" != "$before" ]; }
expect_true "Aktualisierung: Zyklant neu gestartet" wait_for 10 fresh
expect_eq "Aktualisierung: Path" "$winstall" "$(reg_value Path)"
expect_eq "Aktualisierung: Rechte erneut gesetzt, auch fuer alles darin" "$(protect_calls "$winstall")" \
  "$(recorded | head -3)"

# --- update while another program holds the service open, as the
# Services console does: deleted, it stays until the handle goes.
hold_service() {  # hold_service <seconds>: returns once the handle is open
  rm -f "$work/held"
  setsid wine "$bin/service_ctl.exe" hold Horamat "$1" >"$work/held" 2>/dev/null </dev/null &
  holder=$!
  wait_for 20 grep -q held "$work/held"
}
hold_service 8
run_setup ""; rc=$?
expect_eq "Aktualisierung, Dienst 8 s festgehalten: Exitcode" 0 "$rc"
expect_true "Aktualisierung, Dienst 8 s festgehalten: Dienst laeuft" wait_for 20 running
wait "$holder" 2>/dev/null
hold_service 60
start_held=$SECONDS
run_setup ""; rc=$?
expect_eq "Aktualisierung, Dienst festgehalten: Exitcode 3" 3 "$rc"
expect_true "Aktualisierung, Dienst festgehalten: nach 30 s" test $((SECONDS - start_held)) -ge 30
expect_true "Aktualisierung, Dienst festgehalten: sagt, was zu schliessen ist" \
  grep -q 'Dienste-Konsole (services.msc)' "$work/setup.err"
kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null
expect_service_gone "Aktualisierung, Dienst festgehalten: alter Eintrag weg, sobald losgelassen"
run_setup ""; rc=$?
expect_eq "Aktualisierung danach: Exitcode" 0 "$rc"
expect_true "Aktualisierung danach: Dienst laeuft" wait_for 20 running

# --- uninstall: service, process, programs and key go; table and log stay
cp "$install/Horamat.log" "$work/log"
run_uninstaller "$winstall"; rc=$?
expect_eq "Deinstallation: Exitcode" 0 "$rc"
expect_service_gone "Deinstallation: Dienst entfernt"
expect_true "Deinstallation: Zyklant beendet" wait_for 15 scheduler_gone
for f in Zyklant.exe Horamat.exe CronCheck.exe LiesMich.txt; do
  expect_true "Deinstallation: $f entfernt" test ! -e "$install/$f"
done
expect_true "Deinstallation: Schluessel entfernt" eval '! key_exists "$regkey"'
expect_true "Deinstallation: Eintrag zum Entfernen entfernt" eval '! key_exists "$uninstkey"'
expect_true "Deinstallation: Jobwache.exe entfernt" test ! -e "$jobs/Jobwache.exe"
expect_eq "Deinstallation: Ereignisquelle entfernt" "" "$(event_message_file)"
expect_true "Deinstallation: Tabelle bleibt" cmp -s "$work/table" "$install/CronTab.txt"
# The log may have gained start lines of the updates' schedulers.
size=$(stat -c %s "$work/log")
expect_true "Deinstallation: Log bleibt" cmp -s -n "$size" "$work/log" "$install/Horamat.log"
expect_true "Deinstallation: Ordner fuer Auftraege bleibt" test -f "$jobs/marker_job.exe"

# --- a folder that holds files of others: its rights are not ours to
# change unasked; without a window the setup refuses
mkdir -p "$others"; echo Notizen > "$others/notizen.txt"
run_setup "$wothers"; rc=$?
expect_eq "fremder Ordner: Exitcode" 2 "$rc"
expect_true "fremder Ordner: Meldung" grep -q 'notizen.txt' "$work/setup.err"
expect_eq "fremder Ordner: kein icacls" "" "$(recorded)"
expect_true "fremder Ordner: kein Schluessel" eval '! key_exists "$regkey"'

# --- a failing icacls is a failed installation
HORAMAT_CALL_FAIL=icacls run_setup "$wfailing"; rc=$?
expect_eq "icacls scheitert: Exitcode" 2 "$rc"
expect_true "icacls scheitert: Meldung" grep -q 'Zugriffsrechte' "$work/setup.err"
expect_true "icacls scheitert: kein Schluessel" eval '! key_exists "$regkey"'
expect_eq "icacls scheitert: kein Dienst" "" "$(state_of)"
expect_true "icacls scheitert: Ordner wieder weg" test ! -e "$failing"

# --- a folder over 243 characters: refused, nothing written
run_setup "$wtoolong"; rc=$?
expect_eq "zu lang: Exitcode" 2 "$rc"
expect_true "zu lang: Meldung" grep -q 'Installationsordner ist zu lang' "$work/setup.err"
expect_true "zu lang: kein Schluessel" eval '! key_exists "$regkey"'
expect_eq "zu lang: kein Dienst" "" "$(state_of)"
expect_true "zu lang: kein Ordner" test ! -e "$toolong"

# --- 243 characters, outside Program Files: the programs still find
# their files, the folder is protected, with the table that was there
# before (it stays, and loses entries of its own); /PURGE
mkdir -p "$longest"; cp "$packaging/CronTab.txt" "$longest/"
run_setup "$wlongest"; rc=$?
expect_eq "243 Zeichen: Exitcode" 0 "$rc"
expect_eq "243 Zeichen: Rechte gesetzt, auch fuer die Tabelle" "$(install_calls "$wlongest")" "$(recorded)"
expect_eq "243 Zeichen: Path" "$wlongest" "$(reg_value Path)"
expect_true "243 Zeichen: Dienst laeuft" wait_for 20 running
# Without _?=, as Windows' list of programs starts it: the uninstaller
# runs from a copy in the temporary folder and can delete itself, and with
# it the folder.
wine "$wlongest\\Entfernen.exe" /S /PURGE; rc=$?
expect_eq "/PURGE: Exitcode" 0 "$rc"
folder_gone() { [ ! -e "$longest" ]; }
expect_true "/PURGE: Ordner entfernt" wait_for 30 folder_gone
expect_service_gone "/PURGE: Dienst entfernt"
expect_true "/PURGE: Ordner fuer Auftraege mit Auftrag bleibt" test -f "$jobs/marker_job.exe"

# --- a service that cannot be set up: silent, the setup passes Horamat's
# report on (here: another service already shows the name Horamat)
wine sc create Fremd DisplayName= Horamat binPath= 'C:\fremd.exe' >/dev/null 2>&1
run_setup "$wnoservice"; rc=$?
expect_eq "Dienst nicht eingerichtet: Exitcode" 3 "$rc"
expect_eq "Dienst nicht eingerichtet: Meldung" "Horamat-Setup: Horamat ist installiert, aber der Dienst Horamat laeuft \
nicht. Horamat meldet: Fehlertext: Der Dienst konnte nicht installiert werden (1078). Fehlercode: 4" \
  "$(tr -d '\r' < "$work/setup.err" | grep -a 'Horamat-Setup:')"
wine sc delete Fremd >/dev/null 2>&1

# --- /NOSERVICE: settings and files, no service (over the one above)
run_setup "$wnoservice" /NOSERVICE; rc=$?
expect_eq "/NOSERVICE: Exitcode" 0 "$rc"
expect_eq "/NOSERVICE: Path" "$wnoservice" "$(reg_value Path)"
expect_eq "/NOSERVICE: kein Dienst" "" "$(state_of)"
rm -f "$jobs"/* "$drive/ProgramData/Horamat/vorher.txt"
run_uninstaller "$wnoservice" /PURGE; rc=$?
expect_eq "/NOSERVICE: Deinstallation" 0 "$rc"
expect_true "/NOSERVICE: Schluessel entfernt" eval '! key_exists "$regkey"'
expect_true "/PURGE: leerer Ordner fuer Auftraege entfernt" test ! -e "$drive/ProgramData/Horamat"

# --- the archive: the same files; its reg lines, run by cmd, write the key
mkdir -p "$work/zip"
python3 - "$archive" "$work/zip" <<'PY' && pass "Archiv: Dateien" || fail "Archiv: Dateien"
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    names = sorted(n for n in z.namelist() if not n.endswith("/"))
    top = "Horamat-" + sys.argv[1].rsplit("Horamat-", 1)[1][:-len(".zip")] + "/"
    want = sorted(top + n for n in ["CronCheck.exe", "CronTab.txt", "Horamat.exe", "Installation.txt",
                                    "Jobwache.exe", "LiesMich.txt", "Zyklant.exe"])
    assert names == want, names
    z.extractall(sys.argv[2])
PY
unpacked=$work/zip/Horamat-$version
for f in Zyklant.exe Horamat.exe CronCheck.exe Jobwache.exe; do
  expect_true "Archiv: $f wie gebaut" cmp -s "$bin/$f" "$unpacked/$f"
done
for f in CronTab.txt LiesMich.txt; do
  expect_true "Archiv: $f wie im Setup" cmp -s "$packaging/$f" "$unpacked/$f"
done
# configure_file keeps the byte-order mark and the umlauts.
notepad_texts "$unpacked/Installation.txt" && pass "Archiv: Installation.txt mit Umlauten" \
  || fail "Archiv: Installation.txt"
grep -a '^reg add ' "$unpacked/Installation.txt" > "$drive/setup_reg.bat"
expect_eq "Archiv: vier reg-Zeilen" 4 "$(grep -c . "$drive/setup_reg.bat")"
wine cmd /c 'C:\setup_reg.bat' >/dev/null 2>&1
expect_eq "Archiv: Path per reg" "$winstall" "$(reg_value Path)"
expect_eq "Archiv: Version per reg" "$version" "$(reg_value Version)"
expect_eq "Archiv: Ereignisquelle per reg" "$wjobs\\Jobwache.exe" "$(event_message_file)"
wine reg delete "$eventkey" /f /reg:64 >/dev/null 2>&1
rm -f "$drive/setup_reg.bat"
# Its icacls lines, run by cmd, are the very calls of the setup.
grep -a '^icacls ' "$unpacked/Installation.txt" > "$drive/setup_icacls.bat"
rm -f "$calls"
recording wine cmd /c 'C:\setup_icacls.bat' >/dev/null 2>&1
expect_eq "Archiv: icacls wie das Setup" \
  "$(protect_calls "$winstall"; protect_calls 'C:\ProgramData\Horamat')" "$(recorded)"
rm -f "$drive/setup_icacls.bat"

echo "(insgesamt: $((SECONDS - start)) s)"
finish
