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
