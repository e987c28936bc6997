# What the installer prints, for byte-for-byte comparisons. Needs $bin (the
# build's program folder, whose CMakeCache.txt holds the maker's texts).
cache=$bin/../CMakeCache.txt
notice=$(sed -n 's/^HORAMAT_MAKER_NOTICE:STRING=//p' "$cache")
mail=$(sed -n 's/^HORAMAT_SUPPORT_MAIL:STRING=//p' "$cache")
web=$(sed -n 's/^HORAMAT_WEB_ADDRESS:STRING=//p' "$cache")

# diag <path>: the settings' diagnostic line after a successful read.
diag() { printf '0 %s 256 %d\n' "$1" $(( ${#1} + 1 )); }
banner() { printf 'Horamat %s - %s\n' "$1" "$notice"; }
usage() {
  banner 1.0.0; printf 'Horamat ist Freeware.\n\n'
  printf 'Aufruf: Horamat <Kommando> [<Benutzername> <Passwort>]\n\nKommandos:\n'
  printf '  i  Horamat als Dienst installieren und starten\n  d  Dienst Horamat stoppen und deinstallieren\n\n'
  printf 'Ohne Benutzername und Passwort wird der Dienst unter dem Systemkonto eingerichtet.\n'
}
# work_head <path> installieren|deinstallieren: everything before the result.
work_head() { diag "$1"; banner 1.0.0; printf 'Horamat ist Freeware.\n\nEs wird versucht, Horamat zu %s...\n' "$2"; }
error_report() { printf '\nFehlertext: %s\nFehlercode: %d\n\nBitte melden Sie den aufgetretenen Fehler.\nmailto:%s\n%s\n' "$1" "$2" "$mail" "$web"; }
warning_report() { printf '\nWarnung: %s\nNummer: %d\n' "$1" "$2"; }
