#!/usr/bin/env bash
# The MSI package under Wine's own Windows Installer, silent as Group
# Policy, Intune and Configuration Manager run it. Its tables: per-machine,
# 64-bit, every custom action where it runs. msiexec /i: files, key (the
# 64-bit view, Path without a trailing backslash), protected folders,
# service running with description and recovery. One table for a fleet:
# checked with CronCheck, copied over the installed one, run at the next
# minute without a restart. An upgrade to a higher version keeps table
# and log and runs the service again; msiexec /x removes service,
# programs and key and keeps table, log and jobs. INSTALLDIR outside
# Program Files with NOSERVICE=1, over a table made there before; an
# upgrade without INSTALLDIR stays there, and msiexec /x finds service
# and programs there. A folder too long, or holding others' files,
# refused with its reason in the log. icacls.exe and sc.exe are
# replaced by tests/tools/call_recorder (see release_lib.sh).
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"
. "$src/tests/e2e/release_lib.sh"
msi=$bin/Horamat-$version.msi
wxs=$bin/../packaging/horamat.wxs
winstall='C:\Program Files\Horamat' install="$drive/Program Files/Horamat"
woutside='C:\Horamat Paket' outside="$drive/Horamat Paket"
wothers='C:\Fremder Ordner' others="$drive/Fremder Ordner"
wshare='C:\Verteilung' share="$drive/Verteilung"
work=$(mktemp -d)
# Wine's msiexec passes on 1603 (failed) as its low byte.
failed=$((1603 % 256))

cleanup() {
  for package in "$work/next.msi" "$msi"; do
    [ -f "$package" ] && wine msiexec /x "$(winepath -w "$package")" /qn >/dev/null 2>&1
  done
  release_cleanup
  rm -rf "$install" "$outside" "$others" "$share" "$drive/msi.log" "$work"
}
trap cleanup EXIT

[ -f "$msi" ] || { echo "FEHLER: $msi fehlt (wixl installiert? Debian-Paket wixl)"; exit 1; }
rm -rf "$install" "$outside" "$others" "$share"
release_start

msiexec_run() {  # msiexec_run <package> <option> [properties...]: msiexec's exit code
  local package=$1 option=$2; shift 2
  rm -f "$calls" "$drive/msi.log"
  recording wine msiexec "$option" "$(winepath -w "$package")" /qn /l*v 'C:\msi.log' "$@" >"$work/msiexec.out" 2>&1
}
logged() { tr -d '\r' < "$drive/msi.log" 2>/dev/null; }
products() {  # how many products named Horamat Windows lists
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:64 2>/dev/null |
    tr -d '\r' | grep -c 'DisplayName *REG_SZ *Horamat$'
}

# --- the tables: per-machine x64; deferred actions inside the transaction
msiinfo suminfo "$msi" > "$work/suminfo"
expect_true "Paket: x64" grep -q '^Template: x64;' "$work/suminfo"
expect_eq "Paket: fuer alle Benutzer" "ALLUSERS	1" "$(msiinfo export "$msi" Property | tr -d '\r' | grep '^ALLUSERS')"
msiinfo export "$msi" InstallExecuteSequence > "$work/sequence"
msiinfo export "$msi" CustomAction > "$work/actions"
python3 - "$work/sequence" "$work/actions" <<'PY' && pass "Paket: Aktionen an ihrem Platz" || fail "Paket: Aktionen"
import sys
seq = {l.split("\t")[0]: int(l.split("\t")[2]) for l in open(sys.argv[1]).read().splitlines()[3:]}
types = {l.split("\t")[0]: int(l.split("\t")[1]) for l in open(sys.argv[2]).read().splitlines()[3:]}
deferred = [a for a, t in types.items() if t & 0x400]
assert deferred, types
for a in deferred:
    assert seq["InstallInitialize"] < seq[a] < seq["InstallFinalize"], (a, seq[a])
    assert types[a] & 0x800, a + " impersonates"  # runs as SYSTEM
assert seq["CreateFolders"] < seq["ProtectInstallOwner"] < seq["ProtectInstallGrant"] < seq["InstallFiles"]
assert seq["WriteRegistryValues"] < seq["ServiceInstall"]
assert seq["ServiceRemove"] < seq["RemoveRegistryValues"] < seq["RemoveFiles"]
assert seq["CostFinalize"] < seq["CheckFolder"] < seq["InstallValidate"]
assert seq["RemoveExistingProducts"] < seq["InstallInitialize"]
PY

# --- install into the default folder
msiexec_run "$msi" /i; rc=$?
expect_eq "Installation: Exitcode" 0 "$rc"
for f in Zyklant.exe Horamat.exe CronCheck.exe LiesMich.txt CronTab.txt; do
  expect_true "installiert: $f" test -f "$install/$f"
done
expect_eq "Path (64-Bit-Ansicht, ohne \\ am Ende)" "$winstall" "$(reg_value Path)"
expect_eq "Version" "$version" "$(reg_value Version)"
expect_eq "nichts in der 32-Bit-Ansicht" "" "$(reg_value Path 32)"
expect_true "Dienst laeuft" wait_for 20 running
expect_eq "icacls und sc wie das Setup" "$(install_calls "$winstall" new)" "$(recorded)"
expect_description
expect_true "Ordner fuer Auftraege" test -d "$jobs"
expect_true "Jobwache.exe im Ordner fuer Auftraege, wie gebaut" cmp -s "$bin/Jobwache.exe" "$jobs/Jobwache.exe"
expect_eq "Ereignisquelle von Jobwache" "$wjobs\\Jobwache.exe" "$(event_message_file)"
expect_eq "ein Produkt" 1 "$(products)"

# --- one table for a fleet: checked on the way, copied over the installed
# table as Group Policy Preferences do, taken at the next minute by the
# running service
cp "$bin/marker_job.exe" "$jobs/"
mkdir -p "$share"
cp "$install/CronTab.txt" "$share/CronTab.txt"
# The job runs through the installed Jobwache, which finds the
# installation by Path and records how it ended.
add_job_at_next_minute "$share/CronTab.txt" msi_marker.txt flotte "$wjobs\\Jobwache.exe"
wine "$bin/CronCheck.exe" "$wshare\\CronTab.txt" 0 >"$work/croncheck" 2>&1; rc=$?
expect_eq "Flotte: CronCheck vor dem Verteilen, Exitcode 0" 0 "$rc"
before=$(scheduler_pid)
wine cmd /c copy /y "$wshare\\CronTab.txt" "$winstall\\CronTab.txt" >/dev/null 2>&1
marker_written() { [ -s "$jobs/msi_marker.txt" ]; }
expect_true "Flotte: Job lief zur naechsten Minute" wait_for "$job_wait" marker_written
expect_eq "Flotte: ohne Neustart des Dienstes" "$before" "$(scheduler_pid)"
recorded_run() { grep -q "; beendet 0; .*marker_job .*msi_marker.txt flotte" "$install/Jobwache.log" 2>/dev/null; }
expect_true "Flotte: Jobwache hielt das Ende fest" wait_for 10 recorded_run

# --- upgrade to a higher version from the same source
next=$(awk -F. '{print $1 "." $2 "." $3 + 1}' <<<"$version")
if "$src/packaging/build-msi" "$wxs" "$next" "$work/next.msi" >"$work/build-msi.log" 2>&1; then
  pass "Paket $next gebaut"
else
  fail "Paket $next gebaut"; tail -5 "$work/build-msi.log"
fi
cp "$install/CronTab.txt" "$work/table"
cp "$install/Horamat.log" "$work/log"
msiexec_run "$work/next.msi" /i; rc=$?
expect_eq "Aktualisierung: Exitcode" 0 "$rc"
expect_eq "Aktualisierung: Rechte, auch fuer alles darin" \
  "$(protect_calls "$winstall"; protect_calls 'C:\ProgramData\Horamat')" "$(recorded | grep '^icacls')"
expect_eq "Aktualisierung: Version" "$next" "$(reg_value Version)"
expect_eq "Aktualisierung: ein Produkt" 1 "$(products)"
expect_true "Aktualisierung: Tabelle unveraendert" cmp -s "$work/table" "$install/CronTab.txt"
size=$(stat -c %s "$work/log")
expect_true "Aktualisierung: Log unveraendert" cmp -s -n "$size" "$work/log" "$install/Horamat.log"
expect_true "Aktualisierung: Dienst laeuft" wait_for 20 running
fresh() { local now; now=$(scheduler_pid); [ -n "$now" ] && [ "$now" != "$before" ]; }
expect_true "Aktualisierung: Zyklant neu gestartet" wait_for 10 fresh

# --- removal: service, programs and key go; table, log and jobs stay
remove_next() {  # remove_next <what> <folder>: msiexec /x, service, programs and key gone
  msiexec_run "$work/next.msi" /x; rc=$?
  expect_eq "$1: Exitcode" 0 "$rc"
  expect_service_gone "$1: Dienst entfernt"
  expect_true "$1: Zyklant beendet" wait_for 15 scheduler_gone
  for f in Zyklant.exe Horamat.exe CronCheck.exe LiesMich.txt; do
    expect_true "$1: $f entfernt" test ! -e "$2/$f"
  done
  expect_true "$1: Schluessel entfernt" eval '! key_exists "$regkey"'
  expect_true "$1: Jobwache.exe entfernt" test ! -e "$jobs/Jobwache.exe"
  expect_eq "$1: Ereignisquelle entfernt" "" "$(event_message_file)"
  expect_eq "$1: kein Produkt" 0 "$(products)"
}
cp "$install/Horamat.log" "$work/log"
remove_next Entfernen "$install"
expect_true "Entfernen: Tabelle bleibt" cmp -s "$work/table" "$install/CronTab.txt"
expect_true "Entfernen: Log bleibt" cmp -s "$work/log" "$install/Horamat.log"
expect_true "Entfernen: Ordner fuer Auftraege bleibt" test -f "$jobs/marker_job.exe"

# --- outside Program Files, without the service, over a table that was
# there before: it stays and loses entries of its own
mkdir -p "$outside"; cp "$src/packaging/CronTab.txt" "$outside/"
msiexec_run "$msi" /i "INSTALLDIR=$woutside" NOSERVICE=1; rc=$?
expect_eq "ausserhalb, NOSERVICE=1: Exitcode" 0 "$rc"
expect_eq "ausserhalb: Path" "$woutside" "$(reg_value Path)"
expect_eq "ausserhalb: Rechte gesetzt, auch fuer die Tabelle, kein sc" \
  "$(protect_calls "$woutside"; protect_calls 'C:\ProgramData\Horamat')" "$(recorded)"
expect_eq "NOSERVICE=1: kein Dienst" "" "$(state_of)"
# An upgrade without INSTALLDIR stays in the folder of the installation,
# with the service this time: Path, and the table of a fleet, stay valid.
msiexec_run "$work/next.msi" /i; rc=$?
expect_eq "ausserhalb, Aktualisierung ohne INSTALLDIR: Exitcode" 0 "$rc"
expect_eq "ausserhalb, Aktualisierung: Path unveraendert" "$woutside" "$(reg_value Path)"
expect_eq "ausserhalb, Aktualisierung: Version" "$next" "$(reg_value Version)"
expect_eq "ausserhalb, Aktualisierung: ein Produkt" 1 "$(products)"
for f in Zyklant.exe Horamat.exe CronCheck.exe LiesMich.txt; do
  expect_true "ausserhalb, Aktualisierung: $f im alten Ordner" test -f "$outside/$f"
  expect_true "ausserhalb, Aktualisierung: kein $f im Standardordner" test ! -e "$install/$f"
done
expect_eq "ausserhalb, Aktualisierung: Dienst aus dem alten Ordner" "\"$woutside\\Zyklant.exe\"" "$(image_path)"
expect_true "ausserhalb, Aktualisierung: Dienst laeuft" wait_for 20 running
# Removal without INSTALLDIR: Horamat.exe, the service and the files are
# found where they are.
remove_next "ausserhalb, Entfernen" "$outside"
expect_true "ausserhalb, Entfernen: Tabelle bleibt" cmp -s "$src/packaging/CronTab.txt" "$outside/CronTab.txt"

# --- refused: too long for Path, or a folder with others' files
name=$(printf 'h%.0s' $(seq 250))
msiexec_run "$msi" /i "INSTALLDIR=C:\\$name"; rc=$?
expect_eq "zu lang: Exitcode 1603" "$failed" "$rc"
expect_true "zu lang: Grund im Protokoll" grep -q 'Installationsordner ist zu lang: 253 Zeichen' <<<"$(logged)"
expect_true "zu lang: kein Schluessel" eval '! key_exists "$regkey"'
expect_true "zu lang: kein Ordner" test ! -e "$drive/$name"
mkdir -p "$others"; echo Notizen > "$others/notizen.txt"
msiexec_run "$msi" /i "INSTALLDIR=$wothers"; rc=$?
expect_eq "fremder Ordner: Exitcode 1603" "$failed" "$rc"
expect_true "fremder Ordner: Grund im Protokoll" grep -q 'notizen.txt' <<<"$(logged)"
expect_eq "fremder Ordner: kein icacls" "" "$(recorded)"
expect_eq "fremder Ordner: kein Produkt" 0 "$(products)"

finish
