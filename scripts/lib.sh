# What the scripts of scripts/ and bench/ share; sourced, not run.

# The top folder of the source tree.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# install_missing <package>...: installs those of the Debian packages that
# are not installed yet; false when apt-get fails. No service of a package
# starts while it is installed (policy-rc.d): a fresh cron must not begin
# running the system's crontabs here.
install_missing() {
  local missing=() p made_policy=0 rc
  for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}" >&2
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod 755 /usr/sbin/policy-rc.d && made_policy=1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null && apt-get install -y -qq "${missing[@]}" >/dev/null
  rc=$?
  [ $made_policy = 1 ] && rm -f /usr/sbin/policy-rc.d
  [ $rc = 0 ] || echo "apt-get install failed: ${missing[*]}" >&2
  return $rc
}
