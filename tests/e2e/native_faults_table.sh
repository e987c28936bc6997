#!/usr/bin/env bash
# CronTab.txt under abuse, with the real Zyklant as a service of the POSIX
# stand-in and a clock running 20 times fast (a minute in 3 s). One run of
# the service goes through every case; the job of the table's last line
# (tick.txt) tells when a scan has read the whole table.
# - Odd lines in one table: a UTF-8 byte-order mark on the first line,
#   CRLF, lines of 255, 256, 511 and 512 characters, a NUL in a line,
#   bytes above 127 and control bytes, random binary bytes, no final
#   newline.
# - 100,000 lines; the table replaced by another file (rename) again and
#   again while scans read it, then rewritten in place while scans read it.
# - The table deleted, and a folder of that name.
set -u
bin=$1 src=$2
. "$src/tests/e2e/lib.sh"

native_service_setup ftab
# Sanitizer reports of the service and its jobs land in files: a service
# has no console.
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0:log_path=$work/sanitizer
export UBSAN_OPTIONS=print_stacktrace=1:log_path=$work/sanitizer
swapper=
cleanup() {
  [ -n "$swapper" ] && kill "$swapper" 2>/dev/null
  "$ctl" stop Horamat >/dev/null 2>&1; stop_clock; "$ctl" delete Horamat >/dev/null 2>&1; rm -rf "$work"
}
trap cleanup EXIT

table=$install/CronTab.txt
log=$install/Horamat.log
count() { local n; n=$(grep -c -a -- "$1" "$2" 2>/dev/null); echo "${n:-0}"; }
entries() { count '^Job gestartet am' "$log"; }
ticks() { count "${1:-tick.txt}" "$install/tick.txt"; }
ticks_at_least() { [ "$(ticks "$2")" -ge "$1" ]; }
# wait_scans <n> [<tag>]: until n more scans have read the table to its end.
wait_scans() { local from; from=$(ticks "${2:-}"); wait_for 30 ticks_at_least $((from + $1)) "${2:-}"; }
alive() { kill -0 "$pid" 2>/dev/null && [ "$("$ctl" query Horamat)" = "state=4" ]; }
# Replaces the table in one step, as an editor saving it does.
put_table() { cp "$1" "$table.neu" && mv -f "$table.neu" "$table"; }

# --- Odd lines
python3 - "$install" "$work/odd.txt" <<'PY'
import random, sys
d, out = sys.argv[1], sys.argv[2]
job = lambda marker: "* * * * * %s/marker_job.exe %s/%s" % (d, d, marker)
def padded(head, n, fill):
    assert len(head) < 255
    return head + fill * (n - len(head))
lines = [
    b"\xef\xbb\xbf" + (job("bom.txt")).encode() + b"\r\n",
    (job("crlf.txt") + " eins zwei\r\n").encode(),
]
for n in (255, 256, 511, 512):
    lines.append(padded(job("l%d.txt " % n), n, "A").encode() + b"\n")
# The second 255-character piece of an overlong line is a table line of its own.
middle = padded(job("mitte.txt "), 255, "B")
lines.append((padded(job("l511a.txt "), 255, "A") + middle + "C\n").encode())
lines.append((job("nul.txt") + " vor").encode() + b"\0nach\n")
lines.append((job("bin.txt") + " ").encode() + b"\x80\xfe\xff\x01\x7f\n")
lines.append(bytes(b for b in range(1, 256) if b != 10) + b"\n")
lines.append(random.Random(6).randbytes(4096) + b"\n")
lines.append(job("tick.txt").encode())  # no final newline
open(out, "wb").write(b"".join(lines))
PY
put_table "$work/odd.txt"
"$ctl" create Horamat "$install\\Zyklant.exe" >/dev/null
expect_true "Dienst startet" start_clocked '@2026-12-07 10:00:50 x20'
pid=$(service_pid)
expect_true "seltsame Zeilen: zwei Durchlaeufe bis zum Ende" wait_scans 2
python3 - "$install" <<'PY' && pass "seltsame Zeilen: jede wie erwartet" || fail "seltsame Zeilen"
import os, sys
d = sys.argv[1]
def runs(marker):
    path = os.path.join(d, marker)
    return open(path, "rb").read().split(b"\n")[:-1] if os.path.exists(path) else []
def args(marker):
    r = runs(marker)
    assert r, marker + " never ran"
    return r[0].split(b"\t")[0].split(b" ")[2:]
head = lambda marker: len("* * * * * %s/marker_job.exe %s/%s " % (d, d, marker))
log = open(os.path.join(d, "Horamat.log"), "rb").read()
# The UTF-8 byte-order mark is skipped where the table is opened: the first
# line runs like any other.
assert runs("bom.txt"), "the line behind a byte-order mark never ran"
# CR LF reads as LF: no CR reaches the job or the log.
assert args("crlf.txt") == [b"eins", b"zwei"], args("crlf.txt")
assert b"zwei>\n" in log and b"\r" not in log
# A line is read in pieces of 255 characters: 255 runs whole; 256, 511 and
# 512 run cut to their first 255, and the rest, one word each, are no lines.
for n in (255, 256, 511, 512):
    assert args("l%d.txt" % n) == [b"A" * (255 - head("l%d.txt" % n))], n
assert args("l511a.txt") == [b"A" * (255 - head("l511a.txt"))]
assert args("mitte.txt") == [b"B" * (255 - head("mitte.txt"))], "the middle piece ran as its own line"
# A NUL ends the line for everything after the reading.
assert args("nul.txt") == [b"vor"], args("nul.txt")
assert b"nul.txt vor>\n" in log
# Bytes above 127 and control bytes are ordinary characters.
assert args("bin.txt") == [b"\x80\xfe\xff\x01\x7f"], args("bin.txt")
# The last line has no newline and runs.
assert runs("tick.txt")
PY
expect_true "seltsame Zeilen: Dienst laeuft" alive

# --- 100,000 lines, the first and the last of them matching.
python3 - "$install" "$work" <<'PY'
import sys
d, w = sys.argv[1], sys.argv[2]
for tag in "AB":
    with open("%s/gross_%s.txt" % (w, tag), "w") as f:
        f.write("* * * * * %s/marker_job.exe %s/erste.txt %s-erste\n" % (d, d, tag))
        f.write("0 0 1 1 * nie\n" * 99998)
        f.write("* * * * * %s/marker_job.exe %s/tick.txt %s-letzte\n" % (d, d, tag))
PY
expect_eq "100000 Zeilen" 100000 "$(wc -l < "$work/gross_A.txt")"
put_table "$work/gross_A.txt"
expect_true "100000 Zeilen: drei Durchlaeufe bis zum Ende" wait_scans 3 A-letzte

# Replaced by the other file every 50 ms, scans reading all the while.
mark=$(entries)
touch "$work/swapping"
( while [ -e "$work/swapping" ]; do
    put_table "$work/gross_B.txt"; sleep 0.05
    put_table "$work/gross_A.txt"; sleep 0.05
  done ) &
swapper=$!
wait_scans 5
rm "$work/swapping"; wait "$swapper"; swapper=
expect_true "ersetzt beim Lesen: Dienst laeuft" alive
# Every scan read one file whole: its first and last line, of one version.
python3 - "$log" "$mark" <<'PY' && pass "ersetzt beim Lesen: jeder Durchlauf las eine Fassung ganz" || fail "ersetzt beim Lesen: Fassungen gemischt"
import re, sys
lines = open(sys.argv[1], "rb").read().decode("latin-1").split("\n")[:-1]
body = [l for l in lines if not l.startswith("Horamat gestartet")]
pairs = list(zip(body[0::2], body[1::2]))[int(sys.argv[2]):]
by_minute = {}
for stamp, fields in pairs:
    assert stamp.startswith("Job gestartet am "), stamp
    m = re.search(r" ([AB])-(erste|letzte)>$", fields)
    assert m, fields
    by_minute.setdefault(stamp, []).append(m.group(1) + m.group(2))
complete = list(by_minute.values())[:-1]  # the last scan may still be reading
assert len(complete) >= 3, by_minute
for minute in complete:
    assert minute in (["Aerste", "Aletzte"], ["Berste", "Bletzte"]), minute
print("scans:", " ".join(m[0][0] for m in complete))
minutes = [int(s[-13:-11]) * 60 + int(s[-10:-8]) for s in by_minute]
assert minutes == list(range(minutes[0], minutes[0] + len(minutes))), ("a minute skipped", minutes)
PY

# Rewritten in place, scans reading all the while: a scan may see the
# end of one version after the start of the other, or stop early, but the
# scheduler goes on, and each entry is whole.
touch "$work/swapping"
( while [ -e "$work/swapping" ]; do
    cat "$work/gross_B.txt" > "$table"; sleep 0.02
    cat "$work/gross_A.txt" > "$table"; sleep 0.02
  done ) &
swapper=$!
sleep 9
rm "$work/swapping"; wait "$swapper"; swapper=
expect_true "im Lesen ueberschrieben: Dienst laeuft" alive
expect_true "im Lesen ueberschrieben: danach wieder ganze Durchlaeufe" wait_scans 2 A-letzte

# --- Deleted, then a folder of that name: nothing runs, nothing is
# logged, the scheduler goes on and picks the table up again.
small=$work/klein.txt
printf '* * * * * %s/marker_job.exe %s/tick.txt klein\n' "$install" "$install" > "$small"
for kind in geloescht Ordner; do
  rm -f "$table"
  [ $kind = Ordner ] && mkdir "$table"
  before=$(entries)
  sleep 7  # more than two minutes
  expect_eq "$kind: nichts gestartet" "$before" "$(entries)"
  expect_true "$kind: Dienst laeuft" alive
  rm -rf "$table"
  put_table "$small"
  expect_true "$kind: danach laeuft die Tabelle wieder" wait_scans 2 klein
done

expect_eq "Stopp" "state=1" "$("$ctl" stop Horamat)"
python3 - "$log" <<'PY' && pass "jeder Eintrag ganz" || fail "zerrissener Eintrag im Log"
import sys
text = open(sys.argv[1], "rb").read()
assert text.endswith(b"\n")
lines = text.split(b"\n")[:-1]
assert lines[0].startswith(b"Horamat gestartet am: ")
body = lines[1:]
assert len(body) % 2 == 0
for stamp, fields in zip(body[0::2], body[1::2]):
    assert stamp.startswith(b"Job gestartet am "), stamp
    assert fields.startswith(b"  <") and fields.endswith(b">"), fields
PY
expect_eq "keine Meldung der Sanitizer" "" "$(cat "$work"/sanitizer* 2>/dev/null | head -20)"

finish
