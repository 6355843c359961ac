#!/usr/bin/env python3
"""Runs the programs of the windows build under Wine, one scenario at a time.

  run_e2e.py --windows-build DIR --work DIR --source DIR --make-template
  run_e2e.py --windows-build DIR --work DIR --source DIR --scenario NAME [--scenario NAME ...]
  run_e2e.py --list

A booted 32-bit Wine prefix (the template, with Wine's virtual desktop so that boxes have title
bars without a window manager) is copied for every scenario. The scenario sets the Windows
version and the user locale, writes registry entries with `wine reg add`, lays out the host
folder, optionally starts the stand-in host, and runs its program under Xvfb while boxhelper.exe
answers every message box from the scenario's script and a screenshot of each box is taken.
Scenarios are the dictionaries of SCENARIOS; see `Scenario fields` below.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

# ---- Scenario fields -----------------------------------------------------------------------------
#   name       CTest name is e2e.<name>
#   program    "updater" (ZelmSoundUpdate.exe), "boxdemo" or "host_check" (the stand-in host)
#   windows    "win7" | "win10"                      (wine winecfg -v)
#   locale     "en" | "ru"                           (LC_ALL of every Wine process)
#   registry   [(key, value, type, data)]: `wine reg add`; "{host}" in key or data is the host
#              folder with its final backslash
#   host       None, or {"languages": [file names from tests/data/host/language] (default all),
#              "bank": None | "carried" | {"version": N, "size": bytes}, "exe": True,
#              "running": False, "release_delay_ms": 0, "never_quit": False,
#              "extra_files": {relative path: size in bytes}}
#   args       command-line arguments of the program
#   answers    the box helper's script: "yes", "no", "ok" or "cancel" for each box in turn
#   expect     {"exit_code": N,
#               "boxes": [{"caption": .., "text": .., "buttons": [labels]}] (omit to not check),
#               "bank": "carried" | "unchanged" | "absent",
#               "estimated_size": True (equals the folder's size in KiB) | False (absent),
#               "host_starts": number of starts of the host by the program under test,
#               "demo_results": [results boxdemo.exe got]}
HOST_FOLDER = "C:\\Program Files\\Zelm\\"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelm"
PROG_KEY = "HKCU\\Software\\Orvek\\Zelm"

INSTALLED_HOST_REGISTRY = [
    (UNINSTALL_KEY, "UninstallString", "REG_SZ", "{host}unins000.exe"),
    (PROG_KEY, "TheLastRunFolder", "REG_SZ", "{host}"),
]

EN_INSTALL_ASK = {
    "caption": "Zelm sound update",
    "text": "Zelm Live Update is ready to install Bellwick Sounds 5.\r\n"
            "Zelm will be closed while the sounds are being updated.\r\nInstall now?",
    "buttons": ["&Yes", "&No"],
}
EN_INSTALL_DONE = {
    "caption": "Zelm Live Update",
    "text": "Zelm Live Update (Bellwick Sounds 5) has been installed successfully.\r\n\r\n"
            "Would you like to start Zelm now?",
    "buttons": ["&Yes", "&No"],
}
RU_INSTALL_ASK = {
    "caption": "Обновление звуков «Зелм»",
    "text": "Онлайн-обновление «Зелм» готово установить набор звуков «Беллвик» 5.\r\n"
            "На время обновления звуков «Зелм» будет закрыт.\r\nУстановить сейчас?",
    "buttons": ["&Да", "&Нет"],
}
RU_INSTALL_DONE = {
    "caption": "Онлайн-обновление «Зелм»",
    "text": "Онлайн-обновление «Зелм» (набор звуков «Беллвик» 5) успешно установлено.\r\n\r\n"
            "Запустить «Зелм» сейчас?",
    "buttons": ["&Да", "&Нет"],
}

SCENARIOS = [
    {
        "name": "exe_exits_zero",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": [],
        "host": None,
        "args": [],
        "answers": ["ok"],
        "expect": {
            "exit_code": 0,
            "boxes": [{"caption": "Zelm update",
                       "text": "There's no Zelm installed.\r\nPlease install the program first.",
                       "buttons": ["OK"]}],
        },
    },
    {
        "name": "install_english_win10",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": None},
        "answers": ["yes", "no"],
        "expect": {"exit_code": 0, "boxes": [EN_INSTALL_ASK, EN_INSTALL_DONE], "bank": "carried",
                   "estimated_size": True, "host_starts": 0},
    },
    {
        "name": "install_russian_win7_running_host",
        "program": "updater",
        "windows": "win7",
        "locale": "ru",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 4, "size": 2048}, "running": True, "release_delay_ms": 1500},
        "answers": ["yes", "yes"],
        "expect": {"exit_code": 0, "boxes": [RU_INSTALL_ASK, RU_INSTALL_DONE], "bank": "carried",
                   "estimated_size": True, "host_starts": 1},
    },
    {
        "name": "quiet_runapp_win10",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 3, "size": 100}},
        "args": ["MODEST", "RunApp"],
        "answers": [],
        "expect": {"exit_code": 0, "boxes": [], "bank": "carried", "estimated_size": True,
                   "host_starts": 1},
    },
    {
        "name": "newer_bank_kept",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 6, "size": 100}},
        "answers": ["no"],
        "expect": {
            "exit_code": 0,
            "boxes": [{"caption": "Zelm sound update",
                       "text": "The installed sound bank zorv.3bs is newer than the one in this "
                               "update.\r\nDo you want to replace it with the older version "
                               "anyway?",
                       "buttons": ["&Yes", "&No"]}],
            "bank": "unchanged", "estimated_size": False, "host_starts": 0,
        },
    },
    {
        "name": "host_never_releases_bank",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 4, "size": 100}, "running": True, "never_quit": True},
        "answers": ["ok"],
        "expect": {
            "exit_code": 0,
            "boxes": [{"caption": "Zelm",
                       "text": "Can't open the file\r\nC:\\Program Files\\Zelm\\zorv.3bs\r\n"
                               "Please close Zelm and try again.",
                       "buttons": ["OK"]}],
            "bank": "unchanged", "estimated_size": False, "host_starts": 0,
        },
    },
    {
        "name": "box_demo",
        "program": "boxdemo",
        "windows": "win7",
        "locale": "ru",
        "answers": ["no", "yes", "ok"],
        "expect": {
            "exit_code": 0,
            "boxes": [
                {"caption": "Обновление программы \"Зелм\"",
                 "text": "Установить звуки?\r\nВторая строка: ёЁ №",
                 "buttons": ["&Да", "&Нет"]},
                {"caption": "Оновлення", "text": "Встановити звуки?",
                 "buttons": ["&Так", "&Ні"]},
                {"caption": "Zelm update",
                 "text": "There's no Zelm installed.\r\nPlease install the program first.",
                 "buttons": ["OK"]},
            ],
            "demo_results": [7, 6, 1],
        },
    },
    {
        "name": "stand_in_host",
        "program": "host_check",
        "windows": "win10",
        "locale": "en",
        "host": {"bank": {"version": 4, "size": 4096}, "release_delay_ms": 2000},
    },
    {
        "name": "stand_in_host_never_quit",
        "program": "host_check",
        "windows": "win10",
        "locale": "en",
        "host": {"bank": {"version": 4, "size": 4096}, "never_quit": True},
    },
]

LOCALES = {"en": "en_US.UTF-8", "ru": "ru_RU.UTF-8"}
E2E_FOLDER = "C:\\e2e\\"
TEMPLATE_RECIPE = "win32 prefix, virtual desktop 1024x768, v2"


class Failure(Exception):
    pass


def log(message):
    print(f"[{time.strftime('%H:%M:%S')}] {message}", flush=True)


# ---- X display -----------------------------------------------------------------------------------

class Xvfb:
    """One virtual X server for the whole invocation; -displayfd picks a free display."""

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten",
             "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise Failure("Xvfb did not start")
        self.display = f":{number}"
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait(timeout=10)


# ---- Wine ----------------------------------------------------------------------------------------

class Wine:
    def __init__(self, prefix, display, locale="en"):
        self.prefix = Path(prefix)
        self.env = dict(os.environ, WINEPREFIX=str(prefix), WINEARCH="win32", WINEDEBUG="-all",
                        DISPLAY=display, LC_ALL=LOCALES[locale], LANG=LOCALES[locale],
                        WINEDLLOVERRIDES="mscoree,mshtml=")

    def run(self, *args, timeout=120, check=True):
        # Output goes through files, not pipes: a program that the command starts (the host
        # through ShellExecuteA) inherits them and would hold a pipe open until it ends.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run(["wine", *args], env=self.env, stdout=out, stderr=err,
                                  timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            result = subprocess.CompletedProcess(args, code, out.read().decode(errors="replace"),
                                                 err.read().decode(errors="replace"))
        if check and result.returncode != 0:
            raise Failure(f"wine {' '.join(args)} exited {result.returncode}: "
                          f"{result.stdout}{result.stderr}")
        return result

    def start(self, *args):
        return subprocess.Popen(["wine", *args], env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def server(self, flag):
        subprocess.run(["wineserver", flag], env=self.env, timeout=60)

    def unix_path(self, windows_path):
        assert windows_path[1:3] == ":\\", windows_path
        return self.prefix / "drive_c" / windows_path[3:].replace("\\", "/")

    def reg_add(self, key, value, kind, data):
        self.run("reg", "add", key, "/v", value, "/t", kind, "/d", str(data), "/f")

    def reg_query(self, key, value):
        """(type, data as text) of the value, or None when it is missing."""
        result = self.run("reg", "query", key, "/v", value, check=False)
        for line in result.stdout.splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[0].lower() == value.lower():
                return parts[1], parts[2]
        return None


def make_template(work, display):
    template = work / "template"
    shutil.rmtree(template, ignore_errors=True)
    work.mkdir(parents=True, exist_ok=True)
    started = time.monotonic()
    wine = Wine(template, display)
    subprocess.run(["wineboot", "-i"], env=wine.env, capture_output=True, timeout=300,
                   check=True)
    wine.reg_add("HKCU\\Software\\Wine\\Explorer", "Desktop", "REG_SZ", "Default")
    wine.reg_add("HKCU\\Software\\Wine\\Explorer\\Desktops", "Default", "REG_SZ", "1024x768")
    wine.server("-w")
    (template / "e2e-template").write_text(TEMPLATE_RECIPE + "\n")
    log(f"template prefix booted in {time.monotonic() - started:.1f} s")


def template_ready(work):
    stamp = work / "template" / "e2e-template"
    return stamp.exists() and stamp.read_text().strip() == TEMPLATE_RECIPE


# Files that Wine only reads are hard-linked (the prefix is ~600 MB of DLLs); everything else,
# the registry above all, is copied, so no scenario can change the template.
SHARED_SUFFIXES = {".dll", ".exe", ".drv", ".sys", ".acm", ".ocx", ".cpl", ".tlb", ".nls",
                   ".ttf", ".fon", ".msstyles", ".ax", ".ds", ".mui", ".com", ".vxd", ".sh"}


def copy_prefix(template, target):
    shutil.rmtree(target, ignore_errors=True)

    def copy(source, destination):
        if Path(source).suffix.lower() in SHARED_SUFFIXES:
            os.link(source, destination)
        else:
            shutil.copy2(source, destination)

    shutil.copytree(template, target, symlinks=True, copy_function=copy)


# ---- Host folder ---------------------------------------------------------------------------------

def bank_bytes(spec, source):
    if spec == "carried":
        return (source / "res" / "zorv.3bs").read_bytes()
    data = bytearray(b"3BS\x1a" + bytes(max(spec.get("size", 64), 6) - 4))
    data[5] = spec["version"]
    return bytes(data)


def lay_out_host(wine, host, paths):
    folder = wine.unix_path(HOST_FOLDER)
    language = folder / "language"
    language.mkdir(parents=True)
    source_languages = paths.source / "tests" / "data" / "host" / "language"
    names = host.get("languages") or sorted(p.name for p in source_languages.glob("*.lng"))
    for name in names:
        shutil.copy(source_languages / name, language / name)
    if host.get("exe", True):
        shutil.copy(paths.windows_build / "zelm.exe", folder / "zelm.exe")
    if host.get("bank"):
        (folder / "zorv.3bs").write_bytes(bank_bytes(host["bank"], paths.source))
    for relative, size in host.get("extra_files", {}).items():
        (folder / relative).parent.mkdir(parents=True, exist_ok=True)
        (folder / relative).write_bytes(bytes(size))
    return folder


def host_log_size_before_start(folder, starts):
    """Bytes of the host's log before its start number `starts` + 1: a host that the updater
    starts appends to the log after the updater has measured the folder."""
    size = 0
    path = folder / "zelm-starts.log"
    for line in path.read_bytes().splitlines(keepends=True) if path.exists() else []:
        if json.loads(line)["event"] == "start":
            if starts == 0:
                break
            starts -= 1
        size += len(line)
    return size


def folder_size_kib(folder, host_starts_before):
    """The folder's size as the updater measured it: 32-bit total of files, in KiB."""
    total = 0
    for path in folder.rglob("*"):
        if path == folder / "zelm-starts.log":
            total += host_log_size_before_start(folder, host_starts_before)
        elif path.is_file():
            total += path.stat().st_size & 0xFFFFFFFF
    return (total & 0xFFFFFFFF) >> 10


def read_json_lines(path):
    if not path.exists():
        return []
    return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines() if line]


def host_events(folder, event):
    return [e for e in read_json_lines(folder / "zelm-starts.log") if e["event"] == event]


def wait_for(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.05)
    raise Failure(f"timed out waiting for {what}")


def new_host_starts(folder, before, expected):
    """Starts logged since `before`. A host started through ShellExecuteA logs its start a moment
    after the updater has ended, so wait for the expected count, or a while for a stray one."""
    def count():
        return len(host_events(folder, "start")) - before
    try:
        wait_for(lambda: count() >= max(expected, 1), 30 if expected else 2, "host starts")
    except Failure:
        pass
    return count()


def start_host(wine, folder, host):
    args = ["--release-delay-ms", str(host.get("release_delay_ms", 0))]
    if host.get("never_quit"):
        args.append("--never-quit")
    before = len(host_events(folder, "start"))
    process = wine.start(HOST_FOLDER + "zelm.exe", *args)
    wait_for(lambda: len(host_events(folder, "start")) > before, 30, "the stand-in host to start")
    return process


# ---- Running a program with the box helper -------------------------------------------------------

class BoxSession:
    """boxhelper.exe answering the boxes of one program run, with a screenshot of each box."""

    def __init__(self, wine, display, answers, shots):
        self.wine, self.display, self.shots = wine, display, shots
        self.signals = wine.unix_path(E2E_FOLDER + "signals")
        self.signals.mkdir(parents=True)
        self.log_path = wine.unix_path(E2E_FOLDER + "boxes.log")
        self.helper = wine.start(E2E_FOLDER + "boxhelper.exe", "--log", E2E_FOLDER + "boxes.log",
                                 "--answers", ",".join(answers), "--signal-dir",
                                 E2E_FOLDER + "signals", "--stop-file", E2E_FOLDER + "stop",
                                 "--timeout-ms", "180000")
        self.screenshots = []

    def serve(self, process, timeout=150):
        """Acknowledges boxes until the process ends; returns its exit code."""
        deadline = time.monotonic() + timeout
        while process.poll() is None:
            if time.monotonic() > deadline:
                process.kill()
                raise Failure("the program did not end")
            self.acknowledge_ready_boxes()
            time.sleep(0.05)
        return process.returncode

    def acknowledge_ready_boxes(self):
        for ready in sorted(self.signals.glob("box-*.ready")):
            ack = ready.with_suffix(".ack")
            if ack.exists():
                continue
            shot = self.shots / f"{ready.stem}.png"
            subprocess.run(["import", "-display", self.display, "-window", "root", str(shot)],
                           capture_output=True, timeout=30)
            if shot.exists():
                self.screenshots.append(shot)
            ack.write_text("ok\n")

    def finish(self):
        self.acknowledge_ready_boxes()
        self.wine.unix_path(E2E_FOLDER + "stop").write_text("stop\n")
        try:
            self.helper.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.helper.kill()
            raise Failure("boxhelper.exe did not end")
        records = read_json_lines(self.log_path)
        return [r for r in records if r["kind"] == "box"]


# ---- Checks --------------------------------------------------------------------------------------

def check_boxes(expected, boxes, screenshots, faults):
    for i, box in enumerate(boxes):
        labels = [b["label"] for b in box["buttons"]]
        log(f"box {i + 1} ({box['process']}): caption={box['caption']!r} text={box['text']!r} "
            f"buttons={labels} answer={box['answer']!r} pressed={box['pressed']}")
        if not box["asScripted"]:
            faults.append(f"box {i + 1}: the script's answer {box['answer']!r} was not possible")
    if expected is None:
        return
    if len(boxes) != len(expected):
        faults.append(f"{len(boxes)} boxes, expected {len(expected)}")
    for i, (want, got) in enumerate(zip(expected, boxes)):
        for field in ("caption", "text"):
            if field in want and got[field] != want[field]:
                faults.append(f"box {i + 1} {field}: {got[field]!r}, expected {want[field]!r}")
        labels = [b["label"] for b in got["buttons"]]
        if "buttons" in want and labels != want["buttons"]:
            faults.append(f"box {i + 1} buttons: {labels}, expected {want['buttons']}")
    if len(screenshots) < len(boxes):
        faults.append(f"{len(screenshots)} screenshots for {len(boxes)} boxes")
    for shot in screenshots:
        if not shot.read_bytes().startswith(b"\x89PNG"):
            faults.append(f"{shot} is not a PNG image")


def check_host_folder(wine, folder, expect, original_bank, starts_before, source, faults):
    bank = folder / "zorv.3bs"
    want = expect.get("bank")
    if want == "carried" and (not bank.exists() or
                              bank.read_bytes() != (source / "res" / "zorv.3bs").read_bytes()):
        faults.append("zorv.3bs is not byte-identical to res/zorv.3bs")
    if want == "unchanged" and (bank.read_bytes() if bank.exists() else None) != original_bank:
        faults.append("zorv.3bs changed")
    if want == "absent" and bank.exists():
        faults.append("zorv.3bs exists")
    if "estimated_size" in expect:
        data = wine.reg_query(UNINSTALL_KEY, "EstimatedSize")
        if expect["estimated_size"]:
            size = folder_size_kib(folder, starts_before)
            if data is None or data[0] != "REG_DWORD" or int(data[1], 16) != size:
                faults.append(f"EstimatedSize is {data!r}, expected REG_DWORD {size} (KiB)")
        elif data is not None:
            faults.append(f"EstimatedSize is {data!r}, expected none")


# ---- Scenarios -----------------------------------------------------------------------------------

def prepare(scenario, paths, display):
    directory = paths.work / scenario["name"]
    shutil.rmtree(directory, ignore_errors=True)
    (directory / "screenshots").mkdir(parents=True)
    started = time.monotonic()
    copy_prefix(paths.work / "template", directory / "prefix")
    wine = Wine(directory / "prefix", display, scenario.get("locale", "en"))
    wine.run("winecfg", "-v", scenario.get("windows", "win10"))
    e2e = wine.unix_path(E2E_FOLDER)
    e2e.mkdir(parents=True)
    for program in ("ZelmSoundUpdate.exe", "boxhelper.exe", "boxdemo.exe", "hostctl.exe"):
        shutil.copy(paths.windows_build / program, e2e / program)
    for key, value, kind, data in scenario.get("registry", []):
        wine.reg_add(key.format(host=HOST_FOLDER), value, kind, str(data).format(host=HOST_FOLDER))
    log(f"prefix ready in {time.monotonic() - started:.1f} s")
    return directory, wine


def run_with_boxes(wine, display, directory, scenario, program_args):
    session = BoxSession(wine, display, scenario.get("answers", []), directory / "screenshots")
    process = wine.start(*program_args)
    exit_code = session.serve(process)
    return exit_code, session.finish(), session.screenshots


def run_updater(scenario, wine, display, directory, paths, faults):
    expect = scenario.get("expect", {})
    host = scenario.get("host")
    folder = lay_out_host(wine, host, paths) if host is not None else None
    original_bank = (folder / "zorv.3bs").read_bytes() if folder and (
        folder / "zorv.3bs").exists() else None
    if host and host.get("running"):
        start_host(wine, folder, host)
    starts_before = len(host_events(folder, "start")) if folder else 0
    exit_code, boxes, shots = run_with_boxes(
        wine, display, directory, scenario, [E2E_FOLDER + "ZelmSoundUpdate.exe",
                                             *scenario.get("args", [])])
    log(f"ZelmSoundUpdate.exe exited with {exit_code}")
    if "exit_code" in expect and exit_code != expect["exit_code"]:
        faults.append(f"exit code {exit_code}, expected {expect['exit_code']}")
    check_boxes(expect.get("boxes"), boxes, shots, faults)
    if folder:
        # The registry first, while Wine's own processes still run: the start count may wait.
        check_host_folder(wine, folder, expect, original_bank, starts_before, paths.source,
                          faults)
        if "host_starts" in expect:
            starts = new_host_starts(folder, starts_before, expect["host_starts"])
            if starts != expect["host_starts"]:
                faults.append(f"host started {starts} times, expected {expect['host_starts']}")


def run_boxdemo(scenario, wine, display, directory, paths, faults):
    expect = scenario["expect"]
    results = E2E_FOLDER + "demo-results.log"
    exit_code, boxes, shots = run_with_boxes(wine, display, directory, scenario,
                                             [E2E_FOLDER + "boxdemo.exe", results])
    if exit_code != expect["exit_code"]:
        faults.append(f"boxdemo.exe exited with {exit_code}")
    check_boxes(expect["boxes"], boxes, shots, faults)
    got = [r["result"] for r in read_json_lines(wine.unix_path(results))]
    if got != expect["demo_results"]:
        faults.append(f"boxdemo.exe got {got}, expected {expect['demo_results']}")


def hostctl(wine, *args):
    return wine.run(E2E_FOLDER + "hostctl.exe", *args, check=False).stdout.strip()


def expect_output(faults, what, got, want):
    log(f"{what}: {got}")
    if got != want:
        faults.append(f"{what}: {got!r}, expected {want!r}")


def run_host_check(scenario, wine, display, directory, paths, faults):
    host = scenario["host"]
    folder = lay_out_host(wine, host, paths)
    bank = HOST_FOLDER + "zorv.3bs"
    process = start_host(wine, folder, host)
    start = host_events(folder, "start")[0]
    if not (start["mapping"] and start["window"] and start["holdsBank"]):
        faults.append(f"the host did not set itself up: {start}")
    expect_output(faults, "probe while running", hostctl(wine, "probe"),
                  "mapping=present window=found")
    expect_output(faults, "bank while running", hostctl(wine, "locked", bank), "locked")
    expect_output(faults, "quit request", hostctl(wine, "quit"), "posted")
    if host.get("never_quit"):
        wait_for(lambda: host_events(folder, "quit"), 10, "the host to see WM_QUIT")
        expect_output(faults, "quit ignored", host_events(folder, "quit")[0]["ignored"], True)
        expect_output(faults, "probe after the quit request", hostctl(wine, "probe"),
                      "mapping=present window=found")
        expect_output(faults, "bank after the quit request", hostctl(wine, "locked", bank),
                      "locked")
        return
    # The release delay (2 s) is far longer than one hostctl run, so the bank is still held.
    expect_output(faults, "bank during the release delay", hostctl(wine, "locked", bank),
                  "locked")
    expect_output(faults, "bank after the release delay",
                  hostctl(wine, "wait-free", bank, "20000"), "free")
    process.wait(timeout=20)
    expect_output(faults, "host exit code", process.returncode, 0)
    events = [e["event"] for e in read_json_lines(folder / "zelm-starts.log")]
    expect_output(faults, "host log", events, ["start", "quit", "released"])
    expect_output(faults, "probe after the host ended", hostctl(wine, "probe"),
                  "mapping=absent window=missing")
    expect_output(faults, "ShellExecuteA open", hostctl(wine, "start", HOST_FOLDER + "zelm.exe"),
                  "started")
    wait_for(lambda: len(host_events(folder, "start")) == 2, 30, "the second start")
    second = host_events(folder, "start")[1]
    expect_output(faults, "second start's folder", second["currentFolder"].rstrip("\\") + "\\",
                  HOST_FOLDER)
    expect_output(faults, "quit the second start", hostctl(wine, "quit"), "posted")
    wait_for(lambda: len(host_events(folder, "released")) == 2, 30, "the second host to end")


RUNNERS = {"updater": run_updater, "boxdemo": run_boxdemo, "host_check": run_host_check}


def run_scenario(scenario, paths, display):
    log(f"scenario {scenario['name']}")
    started = time.monotonic()
    faults = []
    directory, wine = prepare(scenario, paths, display)
    try:
        RUNNERS[scenario["program"]](scenario, wine, display, directory, paths, faults)
    except (Failure, subprocess.TimeoutExpired) as error:
        faults.append(str(error))
    finally:
        wine.server("-k")
    for fault in faults:
        log(f"FAIL {scenario['name']}: {fault}")
    log(f"scenario {scenario['name']}: {'FAILED' if faults else 'passed'} in "
        f"{time.monotonic() - started:.1f} s (screenshots in {directory / 'screenshots'})")
    return not faults


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--windows-build", type=Path)
    parser.add_argument("--work", type=Path)
    parser.add_argument("--source", type=Path, default=Path(__file__).resolve().parents[2])
    parser.add_argument("--make-template", action="store_true")
    parser.add_argument("--scenario", action="append", default=[])
    parser.add_argument("--list", action="store_true", help="print the scenario names")
    paths = parser.parse_args()
    if paths.list:
        print(";".join(s["name"] for s in SCENARIOS), end="")
        return 0
    if not paths.windows_build or not paths.work:
        parser.error("--windows-build and --work are required")
    if not (paths.windows_build / "ZelmSoundUpdate.exe").exists():
        log(f"no ZelmSoundUpdate.exe in {paths.windows_build}: build the windows preset first")
        return 1
    paths.work = paths.work.resolve()
    paths.windows_build = paths.windows_build.resolve()
    by_name = {s["name"]: s for s in SCENARIOS}
    unknown = [n for n in paths.scenario if n not in by_name]
    if unknown:
        parser.error(f"unknown scenarios: {unknown}")
    with Xvfb() as x:
        if paths.make_template or not template_ready(paths.work):
            make_template(paths.work, x.display)
        results = [run_scenario(by_name[n], paths, x.display) for n in paths.scenario]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
