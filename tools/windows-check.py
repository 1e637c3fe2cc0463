#!/usr/bin/env python3
"""The Windows check: every translation unit of the project's own targets compiled for Windows,
then the Windows test programs (tests/windows) run under Wine.

    tools/windows-check.py BUILD_DIR [JOBS]

BUILD_DIR is a configured build of this project (make build). The units come from that build
through CMake's file API: every C++ source of every target outside tests/, bench/ and fuzz/,
with the Windows file of each platform pair (foo_win.cpp for foo_unix.cpp or foo_linux.cpp).
They are compiled with the MinGW-w64 cross compiler (POSIX threads) against the installed Qt 6,
OpenCV 4 and Boost headers. Everything lands in BUILD_DIR/windows.
"""

import concurrent.futures
import json
import os
import re
import shutil
import subprocess
import sys
import time

CXX = "x86_64-w64-mingw32-g++-posix"
WINDRES = "x86_64-w64-mingw32-windres"
WARNINGS = ["-Wall", "-Wextra", "-Werror"]
# What Qt's own Windows builds define for their users (Qt6::Platform on win32-g++).
WINDOWS_DEFINES = ["-DUNICODE", "-D_UNICODE", "-DWIN32", "-DWIN64", "-DMINGW_HAS_SECURE_API=1",
                   "-D_ENABLE_EXTENDED_ALIGNED_STORAGE"]
SKIPPED_FOLDERS = ("tests", "bench", "fuzz")
PLATFORM_PAIR = re.compile(r"^(.*)_(unix|linux)\.cpp$")


def fail(message):
    print("windows-check: " + message, file=sys.stderr)
    sys.exit(1)


def code_model(build):
    """The build's code model, asking CMake for it first when this build has none yet."""
    query = os.path.join(build, ".cmake", "api", "v1", "query", "codemodel-v2")
    reply = os.path.join(build, ".cmake", "api", "v1", "reply")
    if not os.path.exists(query) or not os.path.isdir(reply):
        os.makedirs(os.path.dirname(query), exist_ok=True)
        open(query, "w").close()
        subprocess.run(["cmake", build], check=True, stdout=subprocess.DEVNULL)
    indexes = sorted(f for f in os.listdir(reply) if f.startswith("index-"))
    if not indexes:
        fail("CMake wrote no code model into " + reply)
    with open(os.path.join(reply, indexes[-1])) as f:
        index = json.load(f)
    with open(os.path.join(reply, index["reply"]["codemodel-v2"]["jsonFile"])) as f:
        model = json.load(f)
    targets = []
    for ref in model["configurations"][0]["targets"]:
        with open(os.path.join(reply, ref["jsonFile"])) as f:
            targets.append(json.load(f))
    return model["paths"]["source"], targets


def windows_file(path):
    match = PLATFORM_PAIR.match(path)
    if not match:
        return path
    partner = match.group(1) + "_win.cpp"
    if not os.path.exists(partner):
        fail(path + " has no Windows partner " + partner)
    return partner


def include_flags(group, boost_folder):
    flags = []
    for include in group.get("includes", []):
        path = include["path"]
        if path.endswith("/mkspecs/linux-g++"):
            path = path[: -len("linux-g++")] + "win32-g++"
        flags += ["-isystem" if include.get("isSystem") else "-I", path]
    # Boost's headers sit in /usr/include with the Linux C library's; only Boost is let in.
    return flags + ["-isystem", boost_folder]


def units(source, targets, boost_folder):
    """(target, unit, flags) for every C++ unit of the project's own targets, once each."""
    found = {}
    for target in targets:
        folder = target["paths"]["source"]
        if folder.split("/")[0] in SKIPPED_FOLDERS:
            continue
        groups = target.get("compileGroups", [])
        for entry in target.get("sources", []):
            if "compileGroupIndex" not in entry:
                continue
            group = groups[entry["compileGroupIndex"]]
            if group.get("language") != "CXX":
                continue
            path = entry["path"] if os.path.isabs(entry["path"]) else os.path.join(source, entry["path"])
            unit = windows_file(path)
            defines = ["-D" + d["define"] for d in group.get("defines", [])]
            found.setdefault(unit, (target["name"], include_flags(group, boost_folder) + defines))
    return [(name, unit, flags) for unit, (name, flags) in sorted(found.items())]


# A repeated check (and the other worktrees' checks) reuse the objects of unchanged units.
LAUNCHER = [shutil.which("ccache")] if shutil.which("ccache") else []


def compile_unit(job):
    target, unit, flags, out = job
    command = [*LAUNCHER, CXX, "-std=c++17", "-O1", *WARNINGS, *WINDOWS_DEFINES, *flags, "-c", unit, "-o", out]
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return target, unit, result.returncode, result.stdout


def compile_all(source, build, targets, jobs):
    work = os.path.join(build, "windows")
    boost_folder = os.path.join(work, "include")
    os.makedirs(boost_folder, exist_ok=True)
    link = os.path.join(boost_folder, "boost")
    if not os.path.islink(link):
        os.symlink("/usr/include/boost", link)
    listed = units(source, targets, boost_folder)
    # A Windows file that no target reaches through its pair would never be compiled.
    reached = {unit for _, unit, _ in listed}
    for folder, _, files in os.walk(source):
        relative = os.path.relpath(folder, source)
        if relative.split(os.sep)[0] in SKIPPED_FOLDERS + ("build", ".git"):
            continue
        for name in files:
            if name.endswith("_win.cpp") and os.path.join(folder, name) not in reached:
                fail(os.path.join(relative, name) + " belongs to no target")
    jobs_list = []
    for target, unit, flags in listed:
        relative = os.path.relpath(unit, source if unit.startswith(source) else build)
        out = os.path.join(work, "obj", target, relative.replace("/", "_") + ".o")
        os.makedirs(os.path.dirname(out), exist_ok=True)
        jobs_list.append((target, unit, flags, out))
    failed = []
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        for target, unit, code, output in pool.map(compile_unit, jobs_list):
            if code != 0:
                failed.append(unit)
                print("--- {} ({}) does not compile for Windows:\n{}".format(unit, target, output))
    print("{} of {} units compile for Windows".format(len(listed) - len(failed), len(listed)))
    return not failed, boost_folder


# The Windows test programs: each links the named project units, the very files the library and
# tools build from; none of them uses Qt.
PROGRAMS = {
    "wire_host": (["tests/windows/wire_host.cpp", "tools/ovfilterhost/HostPermissions_win.cpp"], ["-ladvapi32"]),
    "wire_app": (["tests/windows/wire_app.cpp", "integrations/psplugin/ChannelLog.cpp",
                  "integrations/psplugin/ChannelLock.cpp", "integrations/psplugin/ThreadId_win.cpp"], []),
    "editor_parent": (["tests/windows/editor_parent.cpp"], []),
    "explorer2": (["tests/windows/editor_parent.cpp", "tests/windows/explorer2.rc"], []),
    "editor_child": (["tests/windows/editor_child.cpp", "integrations/cliplugin/ProcessIdentity_win.cpp"],
                     ["-lole32", "-lshell32", "-luuid", "-lpropsys"]),
    "platform_units": (["tests/windows/platform_units.cpp", "integrations/psplugin/ThreadId_win.cpp",
                        "integrations/psplugin/LargeMemory_win.cpp"], []),
}
PROGRAM_INCLUDES = ["integrations/psplugin", "integrations/cliplugin", "tools/ovfilterhost", "tests/windows"]


def link_program(job):
    source, work, boost_folder, name = job
    files, libraries = PROGRAMS[name]
    includes = [flag for folder in PROGRAM_INCLUDES for flag in ("-I", os.path.join(source, folder))]
    objects = []
    for f in files:
        out = os.path.join(work, "programs", name, os.path.basename(f) + ".o")
        os.makedirs(os.path.dirname(out), exist_ok=True)
        if f.endswith(".rc"):
            command = [WINDRES, os.path.join(source, f), "-O", "coff", "-o", out]
        else:
            command = [*LAUNCHER, CXX, "-std=c++17", "-O1", *WARNINGS, "-isystem", boost_folder, *includes,
                       "-c", os.path.join(source, f), "-o", out]
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if result.returncode != 0:
            return name, result.returncode, result.stdout
        objects.append(out)
    command = [CXX, *objects, "-static", "-o", os.path.join(work, name + ".exe"), *libraries]
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return name, result.returncode, result.stdout


class Wine:
    def __init__(self, work):
        self.binary = shutil.which("wine64") or "/usr/lib/wine/wine64"
        self.env = dict(os.environ, WINEPREFIX=os.path.join(work, "wineprefix"), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("DISPLAY", None)
        self.work = work

    def run(self, *args, timeout=120):
        try:
            result = subprocess.run([self.binary, *args], cwd=self.work, env=self.env, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            # A program stuck in a lock wait would otherwise outlive the check.
            self.stop()
            return -1, "", "{} did not end within {} s".format(args[0], timeout)
        return result.returncode, result.stdout, result.stderr

    def prepare(self):
        self.run("wineboot", "--init", timeout=300)
        # Boost names its shared folder after the BootId that Windows keeps in the registry; a
        # fresh Wine prefix has none, so it is given one (Boost's configuration stays as it is).
        key = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Memory Management\PrefetchParameters"
        code, out, err = self.run("reg", "add", key, "/v", "BootId", "/t", "REG_DWORD", "/d", "1", "/f")
        if code != 0:
            fail("cannot set BootId in the Wine prefix: " + out + err)

    def stop(self):
        server = os.path.join(os.path.dirname(self.binary), "wineserver")
        if os.path.exists(server):
            subprocess.run([server, "-k"], env=self.env)


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def run_programs(source, build, boost_folder, jobs):
    work = os.path.join(build, "windows")
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        built = list(pool.map(link_program, [(source, work, boost_folder, name) for name in PROGRAMS]))
    broken = [(name, output) for name, code, output in built if code != 0]
    for name, output in broken:
        print("--- {} does not build:\n{}".format(name, output))
    if broken:
        return False

    wine = Wine(work)
    wine.prepare()
    passed, not_run, failed = [], [], []

    def judge(label, ok, detail):
        (passed if ok else failed).append(label)
        print("{} {}{}".format("PASS" if ok else "FAIL", label, "" if ok else ": " + detail))

    code, out, err = wine.run("platform_units.exe")
    print(out, end="")
    for line in out.splitlines():
        (passed if line.startswith("PASS") else failed).append(line.split(":")[0][5:])
    if code != 0 and not failed:
        judge("platform units", False, "exit code {} {}".format(code, err))

    code, out, err = wine.run("wire_host.exe", windows_path(os.path.join(work, "wire_app.exe")))
    judge("wire protocol between two processes", code == 0 and "PASS" in out, out + err)

    for parent in ("LightroomClassic.exe", "P1.C1.PluginHostProcess.exe", "EXPLORER.EXE"):
        shutil.copyfile(os.path.join(work, "editor_parent.exe"), os.path.join(work, parent))
    expected = {"LightroomClassic.exe": "Adobe Lightroom Classic", "P1.C1.PluginHostProcess.exe": "Capture One",
                "EXPLORER.EXE": "", "explorer2.exe": "Orvane Explorer Two"}
    child = windows_path(os.path.join(work, "editor_child.exe"))
    for parent, editor in expected.items():
        code, out, err = wine.run(parent, child)
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        label = "editor detection under " + parent
        if "descriptionFailed" in values and values.get("editor") == "External Editor":
            not_run.append(label)
            print("NOT RUN {}: Wine does not serve the file description ({}); the fallback "
                  "\"External Editor\" was chosen".format(label, values["descriptionFailed"]))
            continue
        judge(label + " gives \"{}\"".format(editor), code == 0 and values.get("editor") == editor, out + err)
    wine.stop()
    print("Windows programs under Wine: {} passed, {} not run, {} failed".format(
        len(passed), len(not_run), len(failed)))
    return not failed


def main():
    if len(sys.argv) not in (2, 3):
        fail("usage: windows-check.py BUILD_DIR [JOBS]")
    build = os.path.abspath(sys.argv[1])
    jobs = int(sys.argv[2]) if len(sys.argv) == 3 else os.cpu_count()
    for tool in (CXX, WINDRES):
        if not shutil.which(tool):
            fail(tool + " is missing (tools/setup-deps.sh installs it)")
    started = time.monotonic()
    source, targets = code_model(build)
    compiled, boost_folder = compile_all(source, build, targets, jobs)
    compiled_at = time.monotonic()
    ran = run_programs(source, build, boost_folder, jobs)
    print("windows-check took {:.0f} s ({:.0f} s compiling, {:.0f} s for the Wine programs)".format(
        time.monotonic() - started, compiled_at - started, time.monotonic() - compiled_at))
    sys.exit(0 if compiled and ran else 1)


if __name__ == "__main__":
    main()
