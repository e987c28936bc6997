#!/usr/bin/env python3
"""The figures of bench/run: drawn from the stamps and the benchmark output,
and printed as one table. Figures go to standard output as key=value lines,
which bench/run collects in its figures file.

  figures.py lateness <stamp file> <rate> <from> <to> <prefix>
      stamps whose minute boundary lies in [from, to) (all when both are
      0); lateness = stamp - boundary, in the stamp's own seconds (faked
      seconds under faketime)
  figures.py burst <stamp file> <boundary> <prefix>
  figures.py micro <cron_table_bench JSON>
  figures.py table <figures file>
"""
import json
import sys


def lateness(path, rate, lo, hi, prefix):
    stamps = []
    try:
        for line in open(path):
            parts = line.split()
            if parts:
                stamps.append(float(parts[0]))
    except OSError:
        pass
    rows = []
    for t in stamps:
        boundary = (t // 60) * 60
        if lo == 0 and hi == 0 or lo <= boundary < hi:
            rows.append((boundary, t - boundary))
    late = sorted(r[1] for r in rows)
    minutes = sorted(set(r[0] for r in rows))
    out = {"n": len(late), "dup": len(rows) - len(minutes)}
    if late:
        out["med"] = late[len(late) // 2] if len(late) % 2 else (late[len(late) // 2 - 1] + late[len(late) // 2]) / 2
        out["max"] = late[-1]
        out["min"] = late[0]
        out["p90"] = late[min(len(late) - 1, int(0.9 * len(late)))]
        if lo == 0 and hi == 0:
            lo, hi = minutes[0], minutes[-1] + 60
        out["missed"] = int(round((hi - lo) / 60)) - len(minutes)
    for k, v in out.items():
        print(f"{prefix}_{k}={v}")


def burst(path, boundary, prefix):
    stamps = []
    try:
        stamps = sorted(float(l.split()[0]) for l in open(path) if l.strip())
    except OSError:
        pass
    print(f"{prefix}_n={len(stamps)}")
    if stamps:
        print(f"{prefix}_first={stamps[0] - boundary}")
        print(f"{prefix}_last={stamps[-1] - boundary}")
        print(f"{prefix}_spread={stamps[-1] - stamps[0]}")


def micro(path):
    data = json.load(open(path))
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    def secs(b, key):
        return b[key] * scale[b.get("time_unit", "ns")]
    line_cpu = line_wall = 0.0
    for b in data["benchmarks"]:
        name = b["name"]
        if name.startswith("oneLine/"):
            line_cpu = max(line_cpu, secs(b, "cpu_time") * 1e9)
            line_wall = max(line_wall, secs(b, "real_time") * 1e9)
        for kind in ("tableScan", "fileScan"):
            for n in ("10000", "100000"):
                if name == f"{kind}/{n}":
                    print(f"micro_{kind}_{n}_cpu_ms={secs(b, 'cpu_time') * 1e3}")
                    print(f"micro_{kind}_{n}_wall_ms={secs(b, 'real_time') * 1e3}")
                    print(f"micro_{kind}_{n}_ns_per_line_cpu={secs(b, 'cpu_time') * 1e9 / int(n)}")
    print(f"micro_line_cpu_ns={line_cpu}")
    print(f"micro_line_wall_ns={line_wall}")


def table(path):
    f = {}
    for line in open(path):
        if "=" in line:
            k, v = line.rstrip("\n").split("=", 1)
            f[k] = v

    def num(k):
        try:
            return float(f[k])
        except (KeyError, ValueError):
            return None

    def fmt(v, digits=3):
        if v is None:
            return "-"
        if abs(v) >= 100 or digits == 0:
            return f"{v:.0f}"
        return f"{v:.{digits}f}".rstrip("0").rstrip(".")

    def ratio(a, b):
        if a is None or b is None or b == 0:
            return "-"
        return f"{a / b:.2f}"

    def verdict(ok):
        return "-" if ok is None else ("yes" if ok else "**no**")

    rows = []
    def row(figure, z, c, r="-", target="-", met="-"):
        rows.append((figure, z, c, r, target, met))

    notes = []

    # --- micro benchmarks
    if "micro_line_cpu_ns" in f:
        lc, lw = num("micro_line_cpu_ns"), num("micro_line_wall_ns")
        row("one table line: split, five fields, match; slowest of 5 sample lines, ns CPU (wall)",
            f"{fmt(lc, 0)} ({fmt(lw, 0)})",
            "not measurable the same way: cron parses its table once, when it loads it, inside the daemon",
            "n/a", "< 1000 ns", verdict(max(lc, lw) < 1000))
        for kind, what in (("tableScan", "table from memory"), ("fileScan", "scheduler::scanTable, CronTab.txt on disk")):
            for n, label in (("10000", "10,000"), ("100000", "100,000")):
                c, w = num(f"micro_{kind}_{n}_cpu_ms"), num(f"micro_{kind}_{n}_wall_ms")
                per = num(f"micro_{kind}_{n}_ns_per_line_cpu")
                target, met = "-", "-"
                if n == "100000":
                    target, met = "< 100 ms", verdict(None if c is None else max(c, w) < 100)
                elif per is not None:
                    target, met = "< 1000 ns per line", verdict(per < 1000)
                row(f"{what}, {label} lines: ms CPU (wall); ns per line",
                    f"{fmt(c, 2)} ({fmt(w, 2)}); {fmt(per, 0)}", "n/a (as above)", "n/a", target, met)

    # --- start lateness
    def lat_cell(p):
        n = num(p + "_n")
        if not n:
            return "no job ran"
        s = f"{fmt(num(p + '_med'))} / {fmt(num(p + '_max'))} (n={int(n)}"
        if num(p + "_missed"):
            s += f", {int(num(p + '_missed'))} minutes without a job"
        if num(p + "_dup"):
            s += f", {int(num(p + '_dup'))} minutes twice"
        return s + ")"

    def lat_ok(p):
        mx = num(p + "_max")
        return None if mx is None else (mx <= 1.1 and not num(p + "_missed") and not num(p + "_dup"))

    if "acc_rate" in f:
        rate = num("acc_rate")
        row(f"start lateness, {f['acc_minutes']} minutes on a clock x{rate:g} (faketime): median / max, faked s",
            lat_cell("acc_z"), lat_cell("acc_c"),
            f"{ratio(num('acc_z_med'), num('acc_c_med'))} / {ratio(num('acc_z_max'), num('acc_c_max'))}",
            "every job <= 1.1 faked s", verdict(lat_ok("acc_z")))
        def real_of(p):
            if num(p + "_max") is None:
                return "-"
            return f"{fmt(num(p + '_med') / rate)} / {fmt(num(p + '_max') / rate)}"
        zmax = num("acc_z_max")
        row(f"  the same in real seconds (faked s / {rate:g})", real_of("acc_z"), real_of("acc_c"), "as above",
            "every job <= 1.1 s",
            verdict(None if zmax is None else zmax / rate <= 1.1 and not num("acc_z_missed") and not num("acc_z_dup")))

    def running(p):
        return f" after {f[p + '_settle']} minutes of running" if num(p + "_settle") else ""

    if "real_minutes" in f:
        zmed, zmax = num("real_z_med"), num("real_z_max")
        row(f"start lateness, {f['real_minutes']} real minute(s){running('real')}: median / max, s",
            lat_cell("real_z"), lat_cell("real_c"),
            f"{ratio(zmed, num('real_c_med'))} / {ratio(zmax, num('real_c_max'))}",
            "median <= 0.05 s, every job <= 0.1 s",
            verdict(None if zmax is None else lat_ok("real_z") and zmed <= 0.05 and zmax <= 0.1))

    # --- burst
    def burst_cell(p):
        n = num(p + "_n")
        if not n:
            return "no job ran"
        per = num(p + "_spread") * 1000 / (n - 1) if n > 1 else None
        return f"{fmt(num(p + '_spread'))} (n={int(n)}; {fmt(per, 1)} ms per job)"

    if "burst_jobs" in f:
        jobs = num("burst_jobs")
        bz, bc = num("burst_z_spread"), num("burst_c_spread")
        row(f"burst, {int(jobs)} lines for one minute: first to last job running, s",
            burst_cell("burst_z"), burst_cell("burst_c"), ratio(bz, bc), "< 1 s",
            verdict(None if bz is None else bz < 1 and num("burst_z_n") == jobs))
        row("burst: minute boundary to the first / the last job running, s",
            f"{fmt(num('burst_z_first'))} / {fmt(num('burst_z_last'))}",
            f"{fmt(num('burst_c_first'))} / {fmt(num('burst_c_last'))}",
            f"{ratio(num('burst_z_first'), num('burst_c_first'))} / {ratio(num('burst_z_last'), num('burst_c_last'))}")
        if "floor_burst_s" in f:
            fl = num("floor_burst_s")
            row(f"burst against its floor: {int(jobs)} of the same job started and waited for one after the other "
                "by a shell loop in the same run, s", f"{fmt(bz)} against {fmt(fl)} (x{ratio(bz, fl)})",
                "n/a", "n/a", "<= 1.15 x the shell loop", verdict(None if bz is None or not fl else bz <= 1.15 * fl))

    # --- idle cost
    if "idle_window_s" in f:
        win = num("idle_window_s")
        zh = num("idle_z_cpu_ns") / 1e9 * 3600 / win
        ch = num("idle_c_cpu_ns") / 1e9 * 3600 / win
        row(f"idle, 1,000 lines that never match: CPU s per hour (measured by turns over {fmt(win, 0)} s each, "
            f"x{3600 / win:.1f})",
            fmt(zh, 4), fmt(ch, 4), ratio(zh, ch), "<= cron", verdict(zh <= ch))
        if "idle_floor_cpu_ns" in f:
            fh = num("idle_floor_cpu_ns") / 1e9 * 3600 / win
            row("idle against its floor: bench/idle_floor, a bare loop that wakes once a second and reads the clock, "
                f"by turns with it: CPU s per hour (minute by minute x{f.get('idle_round_ratios', '?').strip()})",
                f"{fmt(zh, 4)} against {fmt(fh, 4)} (x{ratio(zh, fh)})",
                "n/a", "n/a", "<= 1.15 x the floor", verdict(None if not fh else zh <= 1.15 * fh))
        for key, target in (("VmRSS", "<= cron"), ("RssAnon", "< 256 KiB and <= cron"), ("RssFile", "-"),
                            ("VmHWM", "-")):
            z, c = num(f"idle_z_{key}"), num(f"idle_c_{key}")
            ok = None
            if z is not None and c is not None and target != "-":
                ok = z <= c if key == "VmRSS" else (z < 256 and z <= c)
            row(f"idle: {key}, KiB", fmt(z, 0), fmt(c, 0), ratio(z, c), target, verdict(ok))
    if "post_z_VmRSS" in f:
        for key in ("VmRSS", "RssAnon", "RssFile", "VmHWM"):
            z, c = num(f"post_z_{key}"), num(f"post_c_{key}")
            row(f"after its burst: {key}, KiB", fmt(z, 0), fmt(c, 0), ratio(z, c))
    if num("never_ran"):
        notes.append(f"WARNING: {int(num('never_ran'))} never-matching lines ran natively.")

    # --- Wine
    if "wine_skipped" in f:
        row("Windows build under Wine", f"not measured: {f['wine_skipped']}", "n/a", "n/a", "none")
    elif "wine_minutes" in f:
        cron_na = "n/a: Debian's cron does not run under Wine"
        row(f"Wine: start lateness, {f['wine_minutes']} minute(s){running('wine')}: median / max, s", lat_cell("wine_lat"),
            cron_na, "n/a", "none (Wine is not Windows)")
        if "wine_burst_n" in f:
            row(f"Wine: burst, {f.get('burst_jobs', '1000')} lines for one minute: first to last job running, s",
                burst_cell("wine_burst"), cron_na, "n/a", "none")
            row("Wine: burst: minute boundary to the first / the last job running, s",
                f"{fmt(num('wine_burst_first'))} / {fmt(num('wine_burst_last'))}", cron_na, "n/a", "none")
        if num("wine_never_ran"):
            notes.append(f"WARNING: {int(num('wine_never_ran'))} never-matching lines ran under Wine.")

    # --- Jobwache
    if "jw_minutes" in f:
        na = "n/a: Jobwache stands in front of Zyklant's jobs"
        dmed, wmed, dmax, wmax = num("jw_d_med"), num("jw_w_med"), num("jw_d_max"), num("jw_w_max")
        start_ms = num("jw_loop_direct_ms")
        row(f"Jobwache: start lateness, {f['jw_minutes']} real minute(s), stamp_job directly and as "
            "\"Jobwache /Parallel stamp_job\" in the same minutes (order swapped every minute): median / max, s",
            f"directly {lat_cell('jw_d')}; through Jobwache {lat_cell('jw_w')}", na,
            f"{ratio(wmed, dmed)} / {ratio(wmax, dmax)} (Jobwache / directly)")
        diff = None if dmed is None or wmed is None else (wmed - dmed) * 1000
        diff_max = None if dmax is None or wmax is None else (wmax - dmax) * 1000
        row("Jobwache: extra time from the minute's start to the job's first instruction, difference of the "
            "medians (of the maxima), ms", f"{fmt(diff, 2)} ({fmt(diff_max, 2)})", na, "n/a",
            f"at most one process start ({fmt(start_ms, 2)} ms, shell loop below)",
            verdict(None if diff is None or start_ms is None else diff <= start_ms))
        if "jw_loop_n" in f:
            wache_ms, bare_ms = num("jw_loop_wache_ms"), num("jw_loop_bare_ms")
            more = None if wache_ms is None or start_ms is None else wache_ms - start_ms
            row(f"one process start: a shell loop that starts a program and waits for it, {f['jw_loop_n']} times "
                "by turns: stamp_job / Jobwache alone (no program: starts and ends) / "
                "Jobwache /Parallel stamp_job, ms per run",
                f"{fmt(start_ms, 2)} / {fmt(bare_ms, 2)} / {fmt(wache_ms, 2)} "
                f"(Jobwache's whole run {fmt(more, 2)} ms more than the job's)", na, "n/a")
    if "jw_mem_runs" in f:
        na = "n/a: Jobwache stands in front of Zyklant's jobs"
        procs = num("jw_processes")
        row("Jobwache in front of a job that sleeps: processes below it while the job runs",
            f"{fmt(procs, 0)}: the job itself ({f.get('jw_child_comm', '?')}), no shell between", na, "n/a",
            "at most one extra process start (Jobwache)", verdict(None if procs is None else procs == 1))
        pd, pc = num("jw_mem_Private_Dirty"), num("jw_mem_Private_Clean")
        row(f"Jobwache while its job runs (most of {f['jw_mem_runs']} runs): Private_Dirty / Private_Clean / "
            "Rss / Pss (smaps_rollup), KiB",
            f"{fmt(pd, 0)} / {fmt(pc, 0)} / {fmt(num('jw_mem_Rss'), 0)} / {fmt(num('jw_mem_Pss'), 0)}", na, "n/a",
            "Private_Dirty well under 1024 KiB", verdict(None if pd is None else pd < 1024))
        ra = num("jw_mem_RssAnon")
        row(f"Jobwache while its job runs (most of {f['jw_mem_runs']} runs): RssAnon / VmRSS / VmHWM (status), KiB",
            f"{fmt(ra, 0)} / {fmt(num('jw_mem_VmRSS'), 0)} / {fmt(num('jw_mem_VmHWM'), 0)}", na, "n/a",
            "RssAnon well under 1024 KiB", verdict(None if ra is None else ra < 1024))
        if f.get("jw_mem_rcs", "").split() != ["0"] * int(num("jw_mem_runs")):
            notes.append(f"WARNING: Jobwache in front of the sleeping job ended with {f.get('jw_mem_rcs')}.")
    if "jw_log_ok" in f and f.get("jw_log_ok") != f.get("jw_w_all"):
        notes.append(f"WARNING: {f.get('jw_w_all')} jobs ran through Jobwache, but Jobwache.log has "
                     f"{f.get('jw_log_ok')} lines \"beendet 0\" for them.")

    print()
    print(f"Horamat benchmarks, {f.get('mode')} mode, {f.get('date')}; {f.get('machine')}; "
          f"Debian cron {f.get('cron_version')}; load average at the start {f.get('load_start')}, "
          f"at the end {f.get('load_end')}")
    print()
    print("| figure | Zyklant | Debian cron | Zyklant / cron | target | met |")
    print("|---|---|---|---|---|---|")
    for r in rows:
        print("| " + " | ".join(str(x) for x in r) + " |")
    for n in notes:
        print()
        print(n)
    rate = f.get("acc_rate", "10")
    print(f"""
How measured:
- Zyklant: the optimised native build (preset native-release) as a service of the POSIX stand-in,
  started through its Service Control Manager (service_ctl). Debian cron: "cron -f" in a mount
  namespace of its own (unshare -m) whose spool folder, /etc/cron.d, /etc/crontab and /run are
  folders of the scratch area: it reads only the bench's crontab, the system's are never touched.
  Both run as root. cron logs through syslog, which has no listener here.
- Every job is stamp_job (bench/stamp_job.cpp); its first act is to append the wall-clock time to a
  file. Start lateness is that stamp less the minute's boundary. Zyklant starts the program itself;
  cron starts it, as every job, through a child, its PAM session and "/bin/sh -c": the same stamp,
  each daemon's own way to the job.
- Tables: both daemons get the same 1,000 lines that can never match (day 30/31 of February, six
  shapes), for start lateness with one "* * * * *" job as the last line. The first minute after a
  start is left out (Zyklant begins at second 0 of a minute).
- Faster clock: faketime "x{rate}" with FAKETIME_DONT_RESET and one faketime process kept alive per
  daemon, so the daemon and its jobs read the same faked clock (cron's jobs get it through
  environment lines in the crontab). Lateness is first given in faked seconds: both daemons' sleeps
  run {rate} times as fast, but every process start costs {rate} times as many faked seconds, so that
  figure is pessimistic; divided by {rate} it is in real seconds, where the start costs are right but
  the one-second rhythm counts only a tenth. The real-time row needs neither correction.
- Real time: lateness in the same minutes for two pairs side by side (one pair with the lateness
  table, one with the 1,000 lines alone), after the settling time given in the row.
- Idle cost, after that: CPU time of all threads (/proc/<pid>/task/*/schedstat) of the second pair
  and of the floor, scaled to an hour; VmRSS, RssAnon, RssFile and VmHWM from /proc/<pid>/status
  at the end. The floor, bench/idle_floor, does what Zyklant's loop does between scans (read the
  clock, sleep until the next second) and nothing else. They are measured by turns, one minute
  each, every other daemon stopped (SIGSTOP) meanwhile: loops that wake in the same instant on a
  machine of few cores share the cost of waking a core unevenly.
- Burst: Zyklant's minute first, cron's the minute after, so they never compete for the CPUs. Its
  floor: a shell loop that starts the same job as often and waits for each, after both bursts.
- Micro benchmarks (Google Benchmark, cron_table_bench): CPU time, wall time in brackets (other
  work may share the machine). Debian's libbenchmark warns that it is a debug build: that is the
  harness; the code measured is optimised.
- Wine: the Windows build of Zyklant as a Wine service (sc create/start), a Wine program idling to
  keep the session up, the same tables with Windows paths.
- Jobwache: one native Zyklant in real time, two lines every minute, stamp_job directly and as
  "Jobwache /Parallel stamp_job" with stamp files of their own; the order of the lines swapped
  half a minute before every minute, the start-up minute left out. Real time, not faketime: on a
  faster clock each process start counts several times over, and that start is what is measured.
  Memory: Jobwache in front of a copy of /bin/sleep, started with the installation's stand-in
  root while that Zyklant still runs (it shares the C++ library's pages), /proc/<pid>/smaps_rollup
  and /proc/<pid>/status of Jobwache read a second into the run, its children and theirs counted
  then. Private_Dirty is what the run costs; Private_Clean is file pages that no other process
  maps at the moment and that the kernel can drop.""")


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    if command == "lateness":
        lateness(args[0], float(args[1]), float(args[2]), float(args[3]), args[4])
    elif command == "burst":
        burst(args[0], float(args[1]), args[2])
    elif command == "micro":
        micro(args[0])
    elif command == "table":
        table(args[0])
    else:
        sys.exit(f"figures.py: unknown command {command}")
