#!/usr/bin/env bash
# The Windows release under Wine. The NSIS setup, silent, installs into the
# default folder (C:\Program Files\Horamat, a blank in it), writes Path and
# Version in the 64-bit view and sets the service up; a job added to the
# table runs at its minute; an update keeps the table and the log; the
# uninstaller removes service, programs and key and keeps table and log.
# A folder over 243 characters is refused, one of 243 works, /NOSERVICE
# and /PURGE do what they say. The ZIP holds the same files, and the reg
# lines of its Installation.txt write the same key.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"
: "${WINEPREFIX:?}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

version=$(sed -n 's/^project(Horamat VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
setup=$bin/Horamat-Setup-$version.exe
archive=$bin/Horamat-$version.zip
packaging=$src/packaging
drive=$WINEPREFIX/drive_c
winstall='C:\Program Files\Horamat'
install="$drive/Program Files/Horamat"
# 243 characters in all: the longest folder Path may name.
name240=$(printf 'h%.0s' $(seq 240))
wlongest="C:\\$name240" longest=$drive/$name240
wtoolong="C:\\${name240}xy" toolong=$drive/${name240}xy
wnoservice='C:\Horamat ohne Dienst' noservice="$drive/Horamat ohne Dienst"
regkey='HKLM\Software\Pexa\Horamat'
uninstkey='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Horamat'
work=$(mktemp -d)

keeper=
cleanup() {
  wine sc stop Horamat >/dev/null 2>&1
  wine sc delete Horamat >/dev/null 2>&1
  wine reg delete "$regkey" /f /reg:64 >/dev/null 2>&1
  wine reg delete "$uninstkey" /f /reg:64 >/dev/null 2>&1
  [ -n "$keeper" ] && kill "$keeper" 2>/dev/null
  rm -rf "$install" "$longest" "$toolong" "$noservice" "$work" "$drive/jobs/setup_marker.txt"
}
trap cleanup EXIT

for f in "$setup" "$archive"; do
  [ -f "$f" ] || { echo "FEHLER: $f fehlt (makensis installiert? Debian-Paket nsis)"; exit 1; }
done

# Leftovers of other scripts in the same prefix: a table in the default
# folder would be kept by the setup, as it should.
wine sc stop Horamat >/dev/null 2>&1
wine sc delete Horamat >/dev/null 2>&1
wine reg delete "$regkey" /f /reg:64 >/dev/null 2>&1
rm -rf "$install" "$longest" "$toolong" "$noservice"
# Wine ends services once no ordinary program of the session runs.
setsid wine "$bin/idle_wait.exe" 600 </dev/null >/dev/null 2>&1 &
keeper=$!

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
  wine "$setup" /S "$@" "${dir[@]}" 2>"$work/setup.err"
}
run_uninstaller() {  # run_uninstaller <folder> [options...]: waits for the end
  local folder=$1; shift
  local -a dir
  folder_words dir '_?=' "$folder"
  wine "$folder\\Entfernen.exe" /S "$@" "${dir[@]}"
}
reg_value() {  # reg_value <name> [view]: the string value, or nothing
  wine reg query "$regkey" /v "$1" "/reg:${2:-64}" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 *REG_SZ *//p"
}
key_exists() { wine reg query "$1" /reg:64 >/dev/null 2>&1; }
state_of() { wine sc query Horamat 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $3}'; }
image_path() {
  wine reg query 'HKLM\System\CurrentControlSet\Services\Horamat' /v ImagePath /reg:64 2>/dev/null |
    tr -d '\r' | sed -n 's/.*REG_EXPAND_SZ *//p; s/.*REG_SZ *//p'
}
# A running scheduler shows its Windows path in the command line; an ended
# one that is not yet reaped shows only "[Zyklant.exe]". Schedulers of other
# Wine prefixes on this machine are not ours.
scheduler_pid() {
  local pid
  for pid in $(pgrep -f 'C:.*Zyklant\.exe'); do
    tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" \
      && { echo "$pid"; return; }
  done
}
running() { [ "$(state_of)" = 4 ]; }
scheduler_gone() { [ -z "$(scheduler_pid)" ]; }
# A deleted service stays listed until the Service Control Manager lets go.
service_gone() { [ -z "$(state_of)" ]; }
expect_service_gone() {  # expect_service_gone <what>
  if wait_for 15 service_gone; then pass "$1"; else
    fail "$1: $(wine sc query Horamat 2>&1 | tr -d '\r' | grep -E 'STATE|EXIT' | tr -s ' ' | tr '\n' ' ')"
  fi
}

# --- the texts: CR LF, ASCII; the table runs nothing and its examples are
# lines the scheduler reads (fields within range, no steps, no names)
python3 - "$packaging/CronTab.txt" "$packaging/LiesMich.txt" "$packaging/Installation.txt.in" <<'PY' \
  && pass "Texte: CR LF, ASCII, Beispiele gueltig" || fail "Texte"
import re, sys
for name in sys.argv[1:]:
    data = open(name, "rb").read()
    assert data.endswith(b"\r\n"), name
    assert b"\n" not in data.replace(b"\r\n", b""), name + ": LF without CR"
    assert all(b < 128 for b in data), name + ": not ASCII"
table = open(sys.argv[1], "rb").read().decode("ascii").split("\r\n")[:-1]
assert all(line.startswith("#") for line in table), "a line that runs"
assert all(len(line) <= 255 for line in table)
limits = [(0, 59), (0, 23), (1, 31), (1, 12), (0, 6)]
def field_ok(text, low, high):
    if text == "*":
        return True
    for item in text.split(","):
        m = re.fullmatch(r"(\d+)-(\d+)", item)
        if m:
            a, b = int(m[1]), int(m[2])
            if not (low <= a < b <= high):
                return False
        elif not (re.fullmatch(r"\d+", item) and low <= int(item) <= high):
            return False
    return True
examples = [line[1:].split() for line in table if re.match(r"#[0-9*]", line)]
assert len(examples) >= 3, "examples"
for words in examples:
    assert len(words) >= 6, words
    assert all(field_ok(t, lo, hi) for t, (lo, hi) in zip(words, limits)), words
    assert " " not in words[5] and words[5][1:3] == ":\\", words
PY

# --- silent install into the default folder
start=$SECONDS
run_setup ""; rc=$?
expect_eq "Setup: Exitcode" 0 "$rc"
expect_eq "Path (64-Bit-Ansicht)" "$winstall" "$(reg_value Path)"
expect_eq "Version" "$version" "$(reg_value Version)"
expect_eq "nichts in der 32-Bit-Ansicht" "" "$(reg_value Path 32)"
expect_eq "Dienst mit Pfad in Anfuehrungszeichen" "\"$winstall\\Zyklant.exe\"" "$(image_path)"
expect_true "Dienst laeuft" wait_for 20 running
for f in Zyklant.exe Horamat.exe LiesMich.txt Entfernen.exe; do
  expect_true "installiert: $f" test -f "$install/$f"
done
expect_true "Beispieltabelle installiert" cmp -s "$packaging/CronTab.txt" "$install/CronTab.txt"
expect_true "Eintrag zum Entfernen" key_exists "$uninstkey"
echo "(Installation: $((SECONDS - start)) s)"

# --- a job added to the table runs at its minute. The scheduler reads the
# table at every scan; a minute that has begun less than 10 s ahead is
# skipped, so that the line is surely in place before it.
mkdir -p "$drive/jobs"
cp "$bin/marker_job.exe" "$drive/jobs/"
rm -f "$drive/jobs/setup_marker.txt"
ahead=1
[ "$(date +%-S)" -ge 50 ] && ahead=2
read -r minute hour <<< "$(date -d "+$ahead min" '+%-M %-H')"
printf '%d %d * * * C:\\jobs\\marker_job C:\\jobs\\setup_marker.txt setup\r\n' "$minute" "$hour" \
  >> "$install/CronTab.txt"
job_ran() { [ -s "$drive/jobs/setup_marker.txt" ]; }
expect_true "Job lief" wait_for $((ahead * 60 + 30)) job_ran
sleep 1
stamp=$(printf '%02d:%02d:' "$hour" "$minute")
expect_true "Job um $stamp.. im Log" grep -q "^Job gestartet am ... ... .. $stamp" "$install/Horamat.log"
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

# --- uninstall: service, process, programs and key go; table and log stay
cp "$install/Horamat.log" "$work/log"
run_uninstaller "$winstall"; rc=$?
expect_eq "Deinstallation: Exitcode" 0 "$rc"
expect_service_gone "Deinstallation: Dienst entfernt"
expect_true "Deinstallation: Zyklant beendet" wait_for 15 scheduler_gone
for f in Zyklant.exe Horamat.exe LiesMich.txt; do
  expect_true "Deinstallation: $f entfernt" test ! -e "$install/$f"
done
expect_true "Deinstallation: Schluessel entfernt" eval '! key_exists "$regkey"'
expect_true "Deinstallation: Eintrag zum Entfernen entfernt" eval '! key_exists "$uninstkey"'
expect_true "Deinstallation: Tabelle bleibt" cmp -s "$work/table" "$install/CronTab.txt"
expect_true "Deinstallation: Log bleibt" cmp -s "$work/log" "$install/Horamat.log"

# --- a folder over 243 characters: refused, nothing written
run_setup "$wtoolong"; rc=$?
expect_eq "zu lang: Exitcode" 2 "$rc"
expect_true "zu lang: Meldung" grep -q 'Installationsordner ist zu lang' "$work/setup.err"
expect_true "zu lang: kein Schluessel" eval '! key_exists "$regkey"'
expect_eq "zu lang: kein Dienst" "" "$(state_of)"
expect_true "zu lang: kein Ordner" test ! -e "$toolong"

# --- 243 characters: the programs still find their files; /PURGE
run_setup "$wlongest"; rc=$?
expect_eq "243 Zeichen: Exitcode" 0 "$rc"
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

# --- /NOSERVICE: settings and files, no service
run_setup "$wnoservice" /NOSERVICE; rc=$?
expect_eq "/NOSERVICE: Exitcode" 0 "$rc"
expect_eq "/NOSERVICE: Path" "$wnoservice" "$(reg_value Path)"
expect_eq "/NOSERVICE: kein Dienst" "" "$(state_of)"
run_uninstaller "$wnoservice"; rc=$?
expect_eq "/NOSERVICE: Deinstallation" 0 "$rc"
expect_true "/NOSERVICE: Schluessel entfernt" eval '! key_exists "$regkey"'

# --- the archive: the same files; its reg lines, run by cmd, write the key
mkdir -p "$work/zip"
python3 - "$archive" "$work/zip" <<'PY' && pass "Archiv: Dateien" || fail "Archiv: Dateien"
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    names = sorted(n for n in z.namelist() if not n.endswith("/"))
    top = "Horamat-" + sys.argv[1].rsplit("Horamat-", 1)[1][:-len(".zip")] + "/"
    want = sorted(top + n for n in ["CronTab.txt", "Horamat.exe", "Installation.txt",
                                    "LiesMich.txt", "Zyklant.exe"])
    assert names == want, names
    z.extractall(sys.argv[2])
PY
unpacked=$work/zip/Horamat-$version
for f in Zyklant.exe Horamat.exe; do
  expect_true "Archiv: $f wie gebaut" cmp -s "$bin/$f" "$unpacked/$f"
done
for f in CronTab.txt LiesMich.txt; do
  expect_true "Archiv: $f wie im Setup" cmp -s "$packaging/$f" "$unpacked/$f"
done
grep -a '^reg add ' "$unpacked/Installation.txt" > "$drive/jobs/setup_reg.bat"
expect_eq "Archiv: zwei reg-Zeilen" 2 "$(grep -c . "$drive/jobs/setup_reg.bat")"
wine cmd /c 'C:\jobs\setup_reg.bat' >/dev/null 2>&1
expect_eq "Archiv: Path per reg" "$winstall" "$(reg_value Path)"
expect_eq "Archiv: Version per reg" "$version" "$(reg_value Version)"
rm -f "$drive/jobs/setup_reg.bat"

echo "(insgesamt: $((SECONDS - start)) s)"
finish
