#!/usr/bin/env python3
"""The benches of a Linux build and of a Windows build, run one after the other in one run, with
the figures of both side by side and their ratio (Windows / Linux).

    tools/bench-compare.py LINUX_BUILD WINDOWS_BUILD [--only NAME]... [--args NAME=ARGS]...

Every bench_* program that both builds have is run: first the Linux one, then the Windows one
under Wine (tools/wine-run.sh). The two runs follow each other closely so that both see the same
machine; the figures are still only as quiet as the machine is. A line of output is matched with
the other platform's line that reads the same up to its first colon (numbers aside); each number
of it is then shown for both platforms with the ratio. A line that differs in words (a figure
"not measured" on one side) is shown as each platform wrote it.

    --only bench_psplugin               run that bench alone (may be given more than once)
    --args bench_psplugin="8000 6000 5" its arguments, the same on both platforms
    --timeout SECONDS                   for each run of a program (default 1800)
"""

import argparse
import os
import re
import shlex
import subprocess
import sys
import time

NUMBER = re.compile(r"(?<![\w.])-?\d+(?:,\d{3})*(?:\.\d+)?(?:e[-+]?\d+)?")
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def programs(linux_bin, windows_bin):
    """The benches that both builds have, by name."""
    names = []
    for entry in sorted(os.listdir(linux_bin)):
        path = os.path.join(linux_bin, entry)
        if entry.startswith("bench_") and os.access(path, os.X_OK) and not entry.endswith(".exe"):
            if os.path.exists(os.path.join(windows_bin, entry + ".exe")):
                names.append(entry)
    return names


def run(command, timeout):
    """Output, exit code and seconds of one run; standard error is kept apart."""
    start = time.monotonic()
    try:
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              errors="replace", timeout=timeout)
        code, out, err = done.returncode, done.stdout, done.stderr
    except subprocess.TimeoutExpired as expired:
        code, err = "timeout", ""
        out = expired.stdout.decode(errors="replace") if isinstance(expired.stdout, bytes) else (expired.stdout or "")
    return out.replace("\r\n", "\n"), err, code, time.monotonic() - start


def key_of(line):
    """What a line is about: its text up to the first colon, numbers left out."""
    head = line.strip().split(":", 1)[0]
    return NUMBER.sub("#", head)


def figures(output):
    """The output's lines, keyed, the n-th line of a key kept apart from the others."""
    lines = {}
    order = []
    seen = {}
    for line in output.splitlines():
        if not line.strip():
            continue
        key = key_of(line)
        seen[key] = seen.get(key, 0) + 1
        full = (key, seen[key])
        lines[full] = line
        order.append(full)
    return order, lines


def number(text):
    return float(text.replace(",", ""))


def ratio(linux, windows):
    if linux == 0:
        return "-" if windows == 0 else "inf"
    return "%.2f" % (windows / linux)


def template(line, differing):
    """The line with each number that differs between the platforms shown as '#'."""
    index = iter(range(len(NUMBER.findall(line))))
    return NUMBER.sub(lambda m: "#" if next(index) in differing else m.group(0), line.strip())


def compare_line(linux_line, windows_line):
    """Rows for one pair of lines: the template, then each platform's numbers and the ratios. A
    number that both platforms give alike (a target, the image size) stays in the template."""
    linux_numbers = NUMBER.findall(linux_line)
    windows_numbers = NUMBER.findall(windows_line)
    if NUMBER.sub("#", linux_line) != NUMBER.sub("#", windows_line) or linux_line == windows_line:
        if linux_line == windows_line:
            return ["  " + linux_line.strip()]
        return ["  Linux:   " + linux_line.strip(), "  Windows: " + windows_line.strip()]
    differing = [i for i, (a, b) in enumerate(zip(linux_numbers, windows_numbers)) if a != b]
    linux_values = [linux_numbers[i] for i in differing]
    windows_values = [windows_numbers[i] for i in differing]
    ratios = [ratio(number(a), number(b)) for a, b in zip(linux_values, windows_values)]
    width = max(len(n) for n in linux_values + windows_values + ratios) + 1
    cells = lambda values: " |".join(v.rjust(width) for v in values)
    return ["  " + template(linux_line, differing),
            "      Linux   " + cells(linux_values),
            "      Windows " + cells(windows_values),
            "      W / L   " + cells(ratios)]


def report(name, linux, windows):
    linux_order, linux_lines = figures(linux)
    windows_order, windows_lines = figures(windows)
    rows = []
    for key in linux_order:
        if key in windows_lines:
            rows += compare_line(linux_lines[key], windows_lines[key])
        else:
            rows.append("  Linux only:   " + linux_lines[key].strip())
    for key in windows_order:
        if key not in linux_lines:
            rows.append("  Windows only: " + windows_lines[key].strip())
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("linux_build")
    parser.add_argument("windows_build")
    parser.add_argument("--only", action="append", default=[])
    parser.add_argument("--args", action="append", default=[])
    parser.add_argument("--timeout", type=float, default=1800)
    options = parser.parse_args()

    linux_bin = os.path.join(options.linux_build, "bin")
    windows_bin = os.path.join(options.windows_build, "bin")
    arguments = dict(item.split("=", 1) for item in options.args)
    names = [n for n in programs(linux_bin, windows_bin) if not options.only or n in options.only]
    if not names:
        sys.exit("bench-compare: no bench_* program in both %s and %s" % (linux_bin, windows_bin))

    wine_run = os.path.join(ROOT, "tools", "wine-run.sh")
    failed = False
    for name in names:
        extra = shlex.split(arguments.get(name, ""))
        linux = run([os.path.join(linux_bin, name)] + extra, options.timeout)
        windows = run(["bash", wine_run, options.windows_build, os.path.join(windows_bin, name + ".exe")] + extra,
                      options.timeout)
        print("== %s %s" % (name, " ".join(extra)))
        print("  exit code: Linux %s in %.0f s, Windows %s in %.0f s" % (linux[2], linux[3], windows[2], windows[3]))
        for side, result in (("Linux", linux), ("Windows", windows)):
            if result[2] not in (0, 1):  # 1: the program ran and reports a target not met
                failed = True
                print("  %s standard error, last lines:" % side)
                for line in result[1].strip().splitlines()[-5:]:
                    print("    " + line)
        print("\n".join(report(name, linux[0], windows[0])))
        print(flush=True)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
