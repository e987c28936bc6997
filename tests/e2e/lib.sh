# Shared by the end-to-end scripts: checks that count, and waiting with a limit.
failures=0
checks=0
pass() { checks=$((checks + 1)); echo "ok: $*"; }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); echo "FEHLER: $*"; }
expect_eq() {  # expect_eq <what> <expected> <actual>
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: expected [$2], got [$3]"; fi
}
expect_true() {  # expect_true <what> <command...>
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
# wait_for <seconds> <command...>: true once the command succeeds.
wait_for() {
  local limit=$1; shift
  local end=$((SECONDS + limit))
  while [ $SECONDS -lt $end ]; do
    "$@" && return 0
    sleep 0.2
  done
  "$@"
}
finish() {
  echo "$((checks - failures)) passed, $failures failed"
  [ "$failures" -eq 0 ]
}
# The native service tests' common start, after "bin=$1": a work folder
# ($work, from the tag), the stand-in's root in it, the installation
# folder $install named by the settings key, Zyklant and the marker job
# copied in, service_ctl as $ctl, and cleanup on exit (a script may
# redefine cleanup and call cleanup_service in it).
native_service_setup() {  # <tag>
  work=$(mktemp -d "/tmp/hm_$1_XXXXXX")
  chmod 755 "$work"
  export HORAMAT_PLATFORM_ROOT=$work/root
  install=$work/install
  ctl="$bin/service_ctl"
  mkdir -p "$install"
  chmod 755 "$install"
  "$ctl" set Path "$install" && "$ctl" set Version 1.0.0
  cp "$bin/Zyklant" "$install/Zyklant.exe"
  cp "$bin/marker_job" "$install/marker_job.exe"
  trap cleanup EXIT
}
# The service runs on a fake clock. faketime stays up (a shell under it
# sleeps) until the service has stopped: every process that gets the fake
# clock shares faketime's semaphore and memory in /dev/shm, and a job
# started after faketime has ended would leave a pair of its own there.
clock=
start_clocked() {  # <faketime time>: starts the service; its answer in $work/clock.out
  rm -f "$work/clock.pid" "$work/clock.rc" "$work/clock.out"
  faketime -f "$1" bash -c 'echo $$ > "$1/clock.pid"; "$0" start Horamat > "$1/clock.out"; echo $? > "$1/clock.rc"; exec sleep infinity' \
    "$ctl" "$work" 2>>"$work/clock.err" &
  clock=$!
  wait_for 40 test -s "$work/clock.rc"
  [ "$(cat "$work/clock.rc" 2>/dev/null)" = 0 ]
}
stop_clock() {
  [ -n "$clock" ] || return 0
  kill "$(cat "$work/clock.pid" 2>/dev/null)" 2>/dev/null
  wait "$clock" 2>/dev/null
  clock=
}
cleanup_service() { "$ctl" stop Horamat >/dev/null 2>&1; stop_clock; "$ctl" delete Horamat >/dev/null 2>&1; rm -rf "$work"; }
cleanup() { cleanup_service; }
service_pid() { "$ctl" pid Horamat; }
pid_gone() { ! kill -0 "$1" 2>/dev/null; }
# faketime leaves a shared-memory pair (/dev/shm/faketime_shm_<pid> and its
# semaphore sem.faketime_sem_<pid>) behind when a process it clocked
# outlives the wrapper, as a started service does; enough of them make a
# later faketime fail at random. Removes the pairs of wrappers gone for
# over 20 minutes: a younger pair may still serve a service of a test
# that runs beside this one.
clean_faketime_shm() {
  local f pid
  for f in $(find /dev/shm -maxdepth 1 \( -name 'faketime_shm_*' -o -name 'sem.faketime_sem_*' \) -mmin +20 2>/dev/null); do
    pid=${f##*_}
    kill -0 "$pid" 2>/dev/null || rm -f "$f"
  done
}
# The project's version, from project(VERSION) in the top CMakeLists.txt.
project_version() { sed -n 's/^project(Horamat VERSION \([0-9.]*\).*/\1/p' "$1/CMakeLists.txt"; }
# Under Wine: the prefix of the run, quiet, without Wine's .NET and Gecko.
wine_environment() {
  : "${WINEPREFIX:?WINEPREFIX must name the prefix of the run}"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}
# Under Wine: a fresh installation folder C:\<name> with the given
# programs of the build, and the settings naming it. Sets install (the
# folder as Linux sees it) and winstall (as Windows does).
wine_installation() {  # <name> <bin> <program>...
  local name=$1 from=$2 key='HKLM\Software\Pexa\Horamat' program
  shift 2
  install=$WINEPREFIX/drive_c/$name winstall="C:\\$name"
  rm -rf "$install"; mkdir -p "$install"
  for program in "$@"; do cp "$from/$program" "$install/"; done
  wine reg add "$key" /v Path /t REG_SZ /d "$winstall" /f /reg:64 >/dev/null
  wine reg add "$key" /v Version /t REG_SZ /d 1.0.0 /f /reg:64 >/dev/null
}
# The state number Wine's sc gives for the service Horamat (1 stopped, 4 running).
wine_service_state() { wine sc query Horamat 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $3}'; }
# Under Wine: the service Horamat stopped and deleted, the settings gone.
wine_drop_service() {
  wine sc stop Horamat >/dev/null 2>&1
  wine sc delete Horamat >/dev/null 2>&1
  wine reg delete 'HKLM\Software\Pexa\Horamat' /f /reg:64 >/dev/null 2>&1
}
