#!/usr/bin/env python3
"""Writes docs/benchmarks.md's tables, and a chart per shape, from what scripts/bench.sh measured.

  report.py BENCH_DIR... [--notes NOTES.md] [--images DIR] > docs/benchmarks.md

Each BENCH_DIR holds results.tsv (shape, contender, run, metric, seconds) and machine.txt
(key=value lines) of one scripts/bench.sh run in one mode (i386=native or qemu: how 32-bit
programs ran); runs of the same mode are pooled, modes are reported side by side. NOTES.md, when
given, is appended as it stands (the analysis). With --images, bench-<shape>.png is drawn into
DIR for every shape (matplotlib) and shown from the report as images/bench-<shape>.png."""
import collections
import os
import statistics
import sys

SHAPES = {"a": "(a) 5,000 files of 4 KiB in 100 folders",
          "b": "(b) 20 files of 32 MiB in 2 folders",
          "c": "(c) 50,000 files of 1 KiB in 500 folders"}
NAMES = {"setup-plain": "setup.exe, no SizeN", "setup-sized": "setup.exe, with SizeN",
         "limit": "limit: CreateDirectoryA + CopyFileA", "nsis": "NSIS /S (compression off)",
         "nsis-shown": "NSIS, window shown (compression off)",
         "msi": "MSI (wixl) msiexec /qn", "xcopy": "xcopy /E"}
ORDER = list(NAMES)
MODES = {"native": "32-bit programs run natively",
         "qemu": "32-bit programs run through qemu-i386"}


def mode_of(machine):
    if "i386" in machine:
        return machine["i386"]
    # Results from before the mode was recorded: qemu when a binfmt_misc entry was named.
    return "qemu" if machine.get("binfmt", "none") != "none" else "native"


def shape_label(shape):
    return SHAPES.get(shape, "(%s)" % shape)


def draw_chart(path, shape, modes, med, runs):
    """Horizontal bars: each contender's median total, its copy phase drawn over it."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    contenders = [w for w in ORDER if any(runs(m, shape, w) for m in modes)]
    height = 0.8 / len(modes)
    figure, axes = plt.subplots(figsize=(8, 0.45 * len(contenders) * len(modes) + 1.4))
    colours = {"native": "#4878a8", "qemu": "#d08838"}
    for k, mode in enumerate(modes):
        for i, who in enumerate(contenders):
            y = len(contenders) - 1 - i + (len(modes) - 1 - k) * height - 0.4 + height / 2
            total, copy = med(mode, shape, who, "total"), med(mode, shape, who, "copy")
            if total is None:
                continue
            axes.barh(y, total, height * 0.9, color=colours.get(mode, "#888888"),
                      label=MODES.get(mode, mode) if i == 0 else None)
            if copy is not None:
                axes.barh(y, copy, height * 0.45, color="#303030",
                          label="copy phase" if i == 0 and k == 0 else None)
            axes.text(total, y, " %.2f s" % total, va="center", fontsize=8)
    axes.set_yticks(range(len(contenders)))
    axes.set_yticklabels([NAMES[w] for w in reversed(contenders)], fontsize=8)
    axes.set_xlabel("seconds, median of the runs (whole install; dark: copy phase)")
    axes.set_title(shape_label(shape), fontsize=10)
    axes.set_xlim(0, axes.get_xlim()[1] * 1.12)
    axes.legend(fontsize=8, loc="lower right")
    figure.tight_layout()
    figure.savefig(path, dpi=96, metadata={"Software": None})
    plt.close(figure)


def main():
    args = sys.argv[1:]
    notes = images = None
    for option in ("--notes", "--images"):
        if option in args:
            value = args[args.index(option) + 1]
            del args[args.index(option):args.index(option) + 2]
            if option == "--notes":
                notes = value
            else:
                images = value
    values = collections.defaultdict(list)
    machines = collections.OrderedDict()  # mode -> first machine.txt of that mode
    commands, loads = [], []
    for bench in args:
        this = dict(l.rstrip("\n").split("=", 1) for l in open(bench + "/machine.txt") if "=" in l)
        mode = mode_of(this)
        for line in open(bench + "/results.tsv"):
            shape, who, run, metric, value = line.rstrip("\n").split("\t")
            values[(mode, shape, who, metric)].append(float(value))
        commands.append("`%s` (%s, %s)" % (this.get("command"), this.get("date"), mode))
        loads.append("%s before, %s after" % (this.get("load_before"), this.get("load_after", "?")))
        machines.setdefault(mode, this)
    modes = list(machines)
    first = machines[modes[0]] if modes else {}

    def med(mode, shape, who, metric):
        v = values.get((mode, shape, who, metric))
        return statistics.median(v) if v else None

    def runs(mode, shape, who, metric="total"):
        return len(values.get((mode, shape, who, metric), []))

    def fmt(x, digits=2):
        return "-" if x is None else "%.*f" % (digits, x)

    def ratio(x, y):
        return "-" if x is None or not y else "%.2fx" % (x / y)

    out = ["# Benchmarks", "",
           "Measured by " + ", then ".join(commands) + ".",
           "Every figure below is the median of the runs counted in its row; times in seconds.", "",
           "## Machine", "",
           "- %s cores (%s); load average (1, 5, 15 min) %s. Whatever else runs on the machine"
           % (first.get("cpus"), first.get("cpu"), "; ".join(loads)),
           "  meanwhile is noise that the medians absorb only in part.",
           "- %s, private prefix, Xvfb." % first.get("wine")]
    for mode in modes:
        if mode == "qemu":
            out += ["- Tables marked *qemu*: the 32-bit Wine programs ran through qemu-user (%s)"
                    % machines[mode].get("qemu", "?"),
                    "  registered in binfmt_misc: every 32-bit instruction is translated, so CPU-bound",
                    "  work (drawing, Wine's own code) costs several times what it costs natively,",
                    "  while the file system work happens in the (native) Linux kernel."]
        else:
            out += ["- Tables marked *native*: the 32-bit Wine programs ran natively (the kernel's",
                    "  own 32-bit support)."]
    out += ["- Sources on drive Z: (the Linux file system, in the page cache), destinations on C: (the",
            "  prefix), both on the same disk; each destination is removed and `sync`ed before each run.",
            ""]

    out += ["## Whole installs", "",
            "Contenders alternate within each run (the order rotates from run to run). `total` is from",
            "the start of the process to its end as the driver (a Win32 program in the same Wine",
            "session) sees it; setup.exe's total includes the driver's three clicks. `copy` is setup.exe's",
            "copy phase (Next on the options page to \"Completing installation...\") and the limit",
            "program's own copy loop. NSIS runs twice: silently (`/S`), and with its window shown (its",
            "install-files page alone, with the details list and the progress bar, closing itself).",
            ""]
    shapes = sorted({k[1] for k in values if k[1] in SHAPES or k[1] == "smoke"})
    for shape in shapes:
        out += ["### " + shape_label(shape), ""]
        for mode in modes:
            if not any(k[0] == mode and k[1] == shape for k in values):
                continue
            limit_total = med(mode, shape, "limit", "total")
            limit_copy = med(mode, shape, "limit", "copy")
            out += ["*%s* (%s):" % (mode, MODES.get(mode, mode)), "",
                    "| contender | runs | total | total / limit total | copy | copy / limit copy |",
                    "|---|---|---|---|---|---|"]
            for who in ORDER:
                if not runs(mode, shape, who):
                    continue
                total, copy = med(mode, shape, who, "total"), med(mode, shape, who, "copy")
                out.append("| %s | %d | %s | %s | %s | %s |" % (
                    NAMES[who], runs(mode, shape, who), fmt(total), ratio(total, limit_total),
                    fmt(copy),
                    ratio(copy, limit_copy) if who != "limit" else "1.00x" if copy else "-"))
            out += ["", "setup.exe's phases (*%s*):" % mode, "",
                    "| variant | to the first page | checking | copy | completing | closing | total |",
                    "|---|---|---|---|---|---|---|"]
            for who in ("setup-plain", "setup-sized"):
                if runs(mode, shape, who):
                    out.append("| %s | %s |" % (NAMES[who], " | ".join(
                        fmt(med(mode, shape, who, m)) for m in
                        ("first_page", "checking", "copy", "completing", "closing", "total"))))
            out.append("")
        if images:
            os.makedirs(images, exist_ok=True)
            name = "bench-%s.png" % shape
            draw_chart(os.path.join(images, name), shape,
                       [m for m in modes if any(k[0] == m and k[1] == shape for k in values)],
                       med, runs)
            out += ["![%s](images/%s)" % (shape_label(shape), name), ""]

    checks = sorted({int(k[1][6:]) for k in values if k[1].startswith("check-")})
    if checks:
        out += ["## The checking step against the number of files", "",
                "setup.exe driven to the options page and left through Cancel; 1 KiB files, 100 to a",
                "folder, nothing at the destination. `checking` runs from Next on the first page to the",
                "options page: the \"Checking for installed files...\" window, the free-space query and the",
                "estimate of both groups, and the options page's creation.", ""]
        for mode in modes:
            out += ["*%s*:" % mode, "",
                    "| files | runs | no SizeN | per file (ms) | with SizeN | per file (ms) |",
                    "|---|---|---|---|---|---|"]
            for n in checks:
                shape = "check-%d" % n
                plain = med(mode, shape, "setup-plain", "checking")
                sized = med(mode, shape, "setup-sized", "checking")
                out.append("| %d | %d | %s | %s | %s | %s |" % (
                    n, runs(mode, shape, "setup-plain", "checking"), fmt(plain),
                    fmt(plain * 1000 / n if plain else None, 3), fmt(sized),
                    fmt(sized * 1000 / n if sized else None, 3)))
            out.append("")

    labels = {"set_text_ms": "lower text line set (the static control repaints at once)",
              "bar_step_ms": "PBM_SETPOS alone (the bar repaints at once)",
              "bar_step_and_pump_ms": "PBM_SETPOS, then the message pump",
              "empty_pump_ms": "the message pump with nothing waiting",
              "attributes_ms": "SetFileAttributesA on a missing file",
              "unpainted_step_and_pump_ms": "PBM_SETPOS without its repaint (WM_SETREDRAW), then the pump",
              "unpainted_text_ms": "a text set without its repaint (DefWindowProcA WM_SETTEXT), control looked up",
              "unpainted_text_by_handle_ms": "the same on the control's handle, as setup.exe sets it",
              "shown_text_ms": "a text set that repaints, then a look for messages that shows it",
              "line_ms": "setup.exe's window work per copied line between frames (text set, step, pump)",
              "frame_ms": "one frame: the two text lines and the bar painted and shown"}
    steps_modes = [m for m in modes if any(k[0] == m and k[1] == "steps" for k in values)]
    if steps_modes:
        out += ["## The copy loop's window work", "",
                "`bench/step_costs.exe` on the real progress window (dialog 108 of setup.exe), 300 times",
                "each, and `bench/copy_profile.exe` with setup.exe's own progress window on shape (a)'s",
                "main group (the last two rows), in milliseconds per call, at the end of each benchmark",
                "command:", "",
                "| step | " + " | ".join("ms, *%s*" % m for m in steps_modes) + " |",
                "|---|" + "---|" * len(steps_modes)]
        metrics = []
        for k in values:
            if k[1] == "steps" and k[3] not in metrics:
                metrics.append(k[3])
        out += ["| %s | %s |" % (labels.get(m, m), " | ".join(
            fmt(med(mode, "steps", "step_costs", m), 3) for mode in steps_modes)) for m in metrics]
        out.append("")

    out += ["## Size", "",
            "| program | bytes |", "|---|---|",
            "| setup.exe | %s |" % first.get("setup_bytes"),
            "| NSIS stub (the script in bench/peer.nsi with no files) | %s |" % first.get("nsis_stub_bytes"),
            ""]
    if notes:
        out.append(open(notes).read().rstrip("\n"))
        out.append("")
    sys.stdout.write("\n".join(out))


if __name__ == "__main__":
    main()
