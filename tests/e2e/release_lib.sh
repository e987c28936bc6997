# Shared by the end-to-end tests of the release under Wine (setup program,
# MSI package): the settings and the service as the tests look at them,
# and tests/tools/call_recorder in place of icacls.exe and sc.exe. Wine
# keeps no access lists and stores no recovery actions, so the tests
# check the calls made; sc goes on to a copy of Wine's own, which stores
# the description. Source it after lib.sh, with bin and src set.
wine_environment
version=$(project_version "$src")
drive=$WINEPREFIX/drive_c
regkey='HKLM\Software\Pexa\Horamat'
servicekey='HKLM\System\CurrentControlSet\Services\Horamat'
jobs=$drive/ProgramData/Horamat/Jobs wjobs='C:\ProgramData\Horamat\Jobs'
sys32=$drive/windows/system32
calls=$drive/calls.log
# What an installation must call, besides the folders' names.
owner='/setowner *S-1-5-32-544 /T /L'
grant='/inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX'
reset='/reset /T /C /L /Q'
description='Startet die Auftraege aus CronTab.txt im Installationsordner zur eingetragenen Minute.'
failure='failure Horamat reset= 86400 actions= restart/60000/restart/60000//60000'
failureflag='failureflag Horamat 1'
eventkey='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Horamat Jobwache'

# The recorders in place, no service or settings left by another script,
# and one ordinary program running: Wine ends services once none runs.
keeper=
release_start() {
  wine sc stop Horamat >/dev/null 2>&1
  wine sc delete Horamat >/dev/null 2>&1
  wine reg delete "$regkey" /f /reg:64 >/dev/null 2>&1
  rm -rf "$drive/ProgramData/Horamat" "$calls"
  [ -f "$sys32/icacls_builtin.exe" ] || cp "$sys32/icacls.exe" "$sys32/icacls_builtin.exe"
  [ -f "$sys32/sc_builtin.exe" ] || cp "$sys32/sc.exe" "$sys32/sc_builtin.exe"
  cp "$bin/call_recorder.exe" "$sys32/icacls.exe"
  cp "$bin/call_recorder.exe" "$sys32/sc.exe"
  setsid wine "$bin/idle_wait.exe" 900 </dev/null >/dev/null 2>&1 &
  keeper=$!
}
release_cleanup() {
  wine sc stop Horamat >/dev/null 2>&1
  wine sc delete Horamat >/dev/null 2>&1
  wine reg delete "$regkey" /f /reg:64 >/dev/null 2>&1
  [ -n "$keeper" ] && kill "$keeper" 2>/dev/null
  [ -f "$sys32/sc_builtin.exe" ] && mv -f "$sys32/sc_builtin.exe" "$sys32/sc.exe"
  [ -f "$sys32/icacls_builtin.exe" ] && mv -f "$sys32/icacls_builtin.exe" "$sys32/icacls.exe"
  rm -rf "$drive/ProgramData/Horamat" "$calls"
}
# recording <command...>: with the recorders loaded in place of Wine's
# own; icacls only notes, sc goes on (HORAMAT_CALL_FORWARD) to Wine's.
recording() {
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES;icacls.exe,sc.exe=n" HORAMAT_CALL_LOG='C:\calls.log' \
    HORAMAT_CALL_FORWARD='C:\windows\system32' "$@"
}
recorded() { [ ! -f "$calls" ] || tr -d '\r' < "$calls"; }
# The calls that protect folder <1> (quoted by Windows' rules: when it
# holds a blank), as the recorder notes them: owner and list, then all
# below it gets the list again, unless <2> is "new" (an empty folder has
# nothing below it).
quoted() { if [[ $1 == *" "* ]]; then printf '"%s"' "$1"; else printf '%s' "$1"; fi; }
protect_calls() {
  local f
  f=$(quoted "$1")
  printf 'icacls %s %s\nicacls %s %s\n' "$f" "$owner" "$f" "$grant"
  [ "${2:-}" = new ] || printf 'icacls %s %s\n' "$(quoted "$1\\*")" "$reset"
}
# The calls of a whole installation into folder <1> (<2>: "new" for a
# folder made by the installation), with the service; the data folder
# always holds Jobs.
install_calls() {
  protect_calls "$1" "${2:-}"
  protect_calls 'C:\ProgramData\Horamat'
  printf 'sc description Horamat "%s"\nsc %s\nsc %s\n' "$description" "$failure" "$failureflag"
}
# The event source of Jobwache: the program whose message table the event
# log reads, or nothing when the source is not registered.
event_message_file() {
  wine reg query "$eventkey" /v EventMessageFile /reg:64 2>/dev/null | tr -d '\r' |
    sed -n 's/.*REG_EXPAND_SZ *//p'
}

image_path() {  # the service's program as registered
  wine reg query "$servicekey" /v ImagePath /reg:64 2>/dev/null |
    tr -d '\r' | sed -n 's/.*REG_EXPAND_SZ *//p; s/.*REG_SZ *//p'
}
reg_value() {  # reg_value <name> [view]: the string value, or nothing
  wine reg query "$regkey" /v "$1" "/reg:${2:-64}" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 *REG_SZ *//p"
}
key_exists() { wine reg query "$1" /reg:64 >/dev/null 2>&1; }
description_of_service() {
  wine reg query "$servicekey" /v Description /reg:64 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p'
}
# The description that sc stored, looked for up to 10 s: once on CI the
# value was not yet to be read right after the installation.
expect_description() {
  has_description() { [ "$(description_of_service)" = "$description" ]; }
  wait_for 10 has_description
  expect_eq "Beschreibung des Dienstes" "$description" "$(description_of_service)"
}
state_of() { wine sc query Horamat 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $3}'; }
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
# add_job_at_next_minute <table file> <marker name> <word> [<in front>]:
# appends a line that runs marker_job from the jobs folder at the next
# minute (the one after, when this one has less than 10 s left, so that
# the line is surely in place before the scan), writing to <marker name>
# in the jobs folder; <in front> comes before the job (Jobwache). Sets
# job_stamp ("HH:MM:") and job_wait (seconds to wait at most).
add_job_at_next_minute() {
  local ahead=1 minute hour
  [ "$(date +%-S)" -ge 50 ] && ahead=2
  read -r minute hour <<< "$(date -d "+$ahead min" '+%-M %-H')"
  printf '%d %d * * * %s%s\\marker_job %s\\%s %s\r\n' "$minute" "$hour" "${4:+$4 }" "$wjobs" "$wjobs" "$2" "$3" >> "$1"
  job_stamp=$(printf '%02d:%02d:' "$hour" "$minute")
  job_wait=$((ahead * 60 + 30))
}
