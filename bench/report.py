#!/usr/bin/env python3
"""Writes docs/benchmarks.md's tables from what scripts/bench.sh measured.

  report.py BENCH_DIR... [--notes NOTES.md] > docs/benchmarks.md

Each BENCH_DIR holds results.tsv (shape, contender, run, metric, seconds) and machine.txt
(key=value lines) of one scripts/bench.sh run; runs of several are pooled. NOTES.md, when given,
is appended as it stands (the analysis)."""
import collections
import statistics
import sys

SHAPES = {"a": "(a) 5,000 files of 4 KiB in 100 folders",
          "b": "(b) 20 files of 32 MiB in 2 folders",
          "c": "(c) 50,000 files of 1 KiB in 500 folders"}
NAMES = {"setup-plain": "setup.exe, no SizeN", "setup-sized": "setup.exe, with SizeN",
         "limit": "limit: CreateDirectoryA + CopyFileA", "nsis": "NSIS /S (compression off)",
         "msi": "MSI (wixl) msiexec /qn", "xcopy": "xcopy /E"}
ORDER = list(NAMES)


def main():
    args = sys.argv[1:]
    notes = None
    if "--notes" in args:
        notes = args[args.index("--notes") + 1]
        args = args[:args.index("--notes")]
    values = collections.defaultdict(list)
    machine = {}
    commands, loads = [], []
    for bench in args:
        for line in open(bench + "/results.tsv"):
            shape, who, run, metric, value = line.rstrip("\n").split("\t")
            values[(shape, who, metric)].append(float(value))
        this = dict(l.rstrip("\n").split("=", 1) for l in open(bench + "/machine.txt") if "=" in l)
        commands.append("`%s` (%s)" % (this.get("command"), this.get("date")))
        loads.append("%s before, %s after" % (this.get("load_before"), this.get("load_after", "?")))
        for key, value in this.items():
            machine.setdefault(key, value)

    def med(shape, who, metric):
        v = values.get((shape, who, metric))
        return statistics.median(v) if v else None

    def runs(shape, who, metric="total"):
        return len(values.get((shape, who, metric), []))

    def fmt(x, digits=2):
        return "-" if x is None else "%.*f" % (digits, x)

    def ratio(x, y):
        return "-" if x is None or not y else "%.2fx" % (x / y)

    out = ["# Benchmarks", "",
           "Measured by " + ", then ".join(commands) + ".",
           "Every figure below is the median of the runs counted in its row; times in seconds.", "",
           "## Machine", "",
           "- %s cores (%s); load average (1, 5, 15 min) %s. Whatever else runs on the machine"
           % (machine.get("cpus"), machine.get("cpu"), "; ".join(loads)),
           "  meanwhile is noise that the medians absorb only in part.",
           "- %s, private prefix, Xvfb. The 32-bit Wine programs run through qemu-user (%s) registered"
           % (machine.get("wine"), machine.get("qemu")),
           "  in binfmt_misc: every 32-bit instruction is translated, so CPU-bound work (drawing, Wine's",
           "  own code) costs several times what it costs on Windows, while the file system work happens",
           "  in the (native) Linux kernel.",
           "- Sources on drive Z: (the Linux file system, in the page cache), destinations on C: (the",
           "  prefix), both on the same disk; each destination is removed and `sync`ed before each run.", ""]

    out += ["## Whole installs", "",
            "Contenders alternate within each run (the order rotates from run to run). `total` is from",
            "the start of the process to its end as the driver (a Win32 program in the same Wine",
            "session) sees it; setup.exe's total includes the driver's three clicks. `copy` is setup.exe's",
            "copy phase (Next on the options page to \"Completing installation...\") and the limit",
            "program's own copy loop.", ""]
    for shape in ("a", "b", "c"):
        if not any(k[0] == shape for k in values):
            continue
        limit_total, limit_copy = med(shape, "limit", "total"), med(shape, "limit", "copy")
        out += ["### " + SHAPES[shape], "",
                "| contender | runs | total | total / limit total | copy | copy / limit copy |",
                "|---|---|---|---|---|---|"]
        for who in ORDER:
            if not runs(shape, who):
                continue
            total, copy = med(shape, who, "total"), med(shape, who, "copy")
            out.append("| %s | %d | %s | %s | %s | %s |" % (
                NAMES[who], runs(shape, who), fmt(total), ratio(total, limit_total), fmt(copy),
                ratio(copy, limit_copy) if who != "limit" else "1.00x" if copy else "-"))
        out += ["", "setup.exe's phases:", "",
                "| variant | to the first page | checking | copy | completing | closing | total |",
                "|---|---|---|---|---|---|---|"]
        for who in ("setup-plain", "setup-sized"):
            if runs(shape, who):
                out.append("| %s | %s |" % (NAMES[who], " | ".join(
                    fmt(med(shape, who, m)) for m in
                    ("first_page", "checking", "copy", "completing", "closing", "total"))))
        out.append("")

    checks = sorted({int(k[0][6:]) for k in values if k[0].startswith("check-")})
    if checks:
        out += ["## The checking step against the number of files", "",
                "setup.exe driven to the options page and left through Cancel; 1 KiB files, 100 to a",
                "folder, nothing at the destination. `checking` runs from Next on the first page to the",
                "options page: the \"Checking for installed files...\" window, the free-space query and the",
                "estimate of both groups, and the options page's creation.", "",
                "| files | runs | no SizeN | per file (ms) | with SizeN | per file (ms) |",
                "|---|---|---|---|---|---|"]
        for n in checks:
            shape = "check-%d" % n
            plain, sized = med(shape, "setup-plain", "checking"), med(shape, "setup-sized", "checking")
            out.append("| %d | %d | %s | %s | %s | %s |" % (
                n, runs(shape, "setup-plain", "checking"), fmt(plain),
                fmt(plain * 1000 / n if plain else None, 3), fmt(sized),
                fmt(sized * 1000 / n if sized else None, 3)))
        out.append("")

    steps = {k[2]: med(*k) for k in values if k[0] == "steps"}
    if steps:
        out += ["## The copy loop's window work", "",
                "`bench/step_costs.exe` on the real progress window (dialog 108 of setup.exe), 300 times",
                "each, in milliseconds per call, at the end of each benchmark command (the median):", "",
                "| step | ms |", "|---|---|"]
        labels = {"set_text_ms": "lower text line set (the static control repaints at once)",
                  "bar_step_ms": "PBM_SETPOS alone (the bar repaints at once)",
                  "bar_step_and_pump_ms": "PBM_SETPOS, then the message pump",
                  "empty_pump_ms": "the message pump with nothing waiting",
                  "attributes_ms": "SetFileAttributesA on a missing file",
                  "unpainted_step_and_pump_ms": "PBM_SETPOS without its repaint (WM_SETREDRAW), then the pump"}
        out += ["| %s | %s |" % (labels.get(k, k), fmt(v, 3)) for k, v in steps.items()]
        out.append("")

    out += ["## Size", "",
            "| program | bytes |", "|---|---|",
            "| setup.exe | %s |" % machine.get("setup_bytes"),
            "| NSIS stub (the script in bench/peer.nsi with no files) | %s |" % machine.get("nsis_stub_bytes"),
            ""]
    if notes:
        out.append(open(notes).read().rstrip("\n"))
        out.append("")
    sys.stdout.write("\n".join(out))


if __name__ == "__main__":
    main()
