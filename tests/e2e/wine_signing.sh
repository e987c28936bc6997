#!/usr/bin/env bash
# Signing. A build without a certificate leaves every file unsigned; one
# given a throw-away certificate (PKCS#12, its password only in the
# environment) signs Zyklant.exe, Horamat.exe, CronCheck.exe, the setup
# and the uninstaller the setup writes, each verified with osslsigncode
# against that certificate; a signed program still runs.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"
wine_environment

version=$(project_version "$src")
work=$(mktemp -d)
drive=$WINEPREFIX/drive_c
wfolder='C:\HoramatSigniert' folder=$drive/HoramatSigniert
cleanup() {
  wine reg delete 'HKLM\Software\Pexa\Horamat' /f /reg:64 >/dev/null 2>&1
  wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Horamat' /f /reg:64 >/dev/null 2>&1
  rm -rf "$work" "$folder" "$drive/ProgramData/Horamat"
}
trap cleanup EXIT

verify() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.log" 2>&1; }

# --- unsigned is the default
for f in Zyklant.exe Horamat.exe CronCheck.exe "Horamat-Setup-$version.exe"; do
  expect_true "ohne Zertifikat unsigniert: $f" eval '! osslsigncode verify -in "$bin/$f" >/dev/null 2>&1'
done

# --- a throw-away certificate for code signing
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Horamat Test/O=Pexa" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/test.p12" \
  -passout pass:geheim-123 >/dev/null 2>&1
expect_true "Zertifikat erzeugt" test -s "$work/test.p12"

# --- a signed build of the release files
build=$work/build
start=$SECONDS
if cmake --preset windows -S "$src" -B "$build" -DHORAMAT_SIGN_PKCS12="$work/test.p12" >"$work/build.log" 2>&1 &&
   HORAMAT_SIGN_PASSWORD=geheim-123 cmake --build "$build" -j"$(nproc)" \
     --target Zyklant Horamat CronCheck setup >>"$work/build.log" 2>&1; then
  pass "signierter Build ($((SECONDS - start)) s)"
else
  fail "signierter Build"; tail -30 "$work/build.log"
fi
expect_true "das Passwort steht nicht im Cache" eval '! grep -q geheim-123 "$build/CMakeCache.txt"'
for f in Zyklant.exe Horamat.exe CronCheck.exe "Horamat-Setup-$version.exe"; do
  if verify "$build/bin/$f"; then pass "signiert: $f"; else fail "signiert: $f"; cat "$work/verify.log"; fi
done
expect_true "SHA-256" grep -qi 'sha256' "$work/verify.log"

# --- the uninstaller, as the signed setup writes it
wine "$build/bin/Horamat-Setup-$version.exe" /S /NOSERVICE "/D=$wfolder"; rc=$?
expect_eq "signiertes Setup: Exitcode" 0 "$rc"
if verify "$folder/Entfernen.exe"; then pass "signiert: Entfernen.exe"; else fail "signiert: Entfernen.exe"; cat "$work/verify.log"; fi
out=$(wine "$folder/Horamat.exe" x 2>&1 | tr -d '\r')
expect_true "signiertes Horamat.exe laeuft" grep -q 'Horamat ist Freeware' <<<"$out"
wine "$folder/Entfernen.exe" /S "_?=$wfolder"

finish
