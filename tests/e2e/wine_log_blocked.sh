#!/usr/bin/env bash
# Zyklant.exe as a real service under Wine, its log not to be opened at
# start: held by a program that shares it with nobody, or a folder of that
# name. The service cannot work and says so: it reports itself stopped,
# with the system's code of the failed open as its exit code, instead of
# running on for ever with nothing to show. Once the log can be opened it
# starts and runs as ever.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"
wine_environment

wine_installation horamat_logsperre "$bin" Zyklant.exe file_probe.exe
keeper= holder=
cleanup() {
  [ -n "$holder" ] && kill "$holder" 2>/dev/null
  [ -n "$keeper" ] && kill "$keeper" 2>/dev/null
  wine_drop_service
}
trap cleanup EXIT
log=$install/Horamat.log
exit_code() { wine sc query Horamat 2>/dev/null | tr -d '\r' | awk '/WIN32_EXIT_CODE/ {print $3}'; }
stopped() { [ "$(wine_service_state)" = 1 ]; }
running() { [ "$(wine_service_state)" = 4 ]; }

# Wine ends services once no ordinary program of the session runs.
setsid wine "$bin/idle_wait.exe" 600 </dev/null >/dev/null 2>&1 &
keeper=$!
wine sc create Horamat binPath= "$winstall\\Zyklant.exe" start= demand >/dev/null

# --- Held by a program that shares it with nobody: sharing violation.
wine "$install/file_probe.exe" hold "$winstall\\Horamat.log" 300 > "$install/halter.txt" 2>/dev/null &
holder=$!
held() { grep -q held "$install/halter.txt"; }
expect_true "das Log wird ungeteilt gehalten" wait_for 30 held
wine sc start Horamat >/dev/null
expect_true "Log gesperrt: Dienst meldet gestoppt" wait_for 20 stopped
expect_eq "Log gesperrt: Exitcode Freigabeverletzung" 32 "$(exit_code)"
kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null; holder=
expect_true "Log gesperrt: nichts geschrieben" test ! -s "$log"

# --- A folder where the log should be: access denied.
rm -f "$log"; mkdir "$log"
wine sc start Horamat >/dev/null
expect_true "Log ein Ordner: Dienst meldet gestoppt" wait_for 20 stopped
expect_eq "Log ein Ordner: Exitcode Zugriff verweigert" 5 "$(exit_code)"
rmdir "$log"

# --- The log free again: the service runs, its exit code is 0.
wine sc start Horamat >/dev/null
expect_true "Log frei: Dienst laeuft" wait_for 20 running
expect_eq "Log frei: Exitcode 0" 0 "$(exit_code)"
wine sc stop Horamat >/dev/null
expect_true "Log frei: Dienst gestoppt" wait_for 30 stopped

finish
