#!/usr/bin/env python3
"""Runs the programs of the windows build under Wine, one scenario at a time.

  run_e2e.py --windows-build DIR --work DIR --source DIR --make-template
  run_e2e.py --windows-build DIR --work DIR --source DIR --scenario NAME [--scenario NAME ...]
  run_e2e.py --list

  run_e2e.py --source DIR --finish

A scenario named NAME@TAG is NAME run under its own folder NAME@TAG, so that one scenario can run
many times at once (a stress run: NAME@1 NAME@2 ...).

The Wine runtime is the one scripts/wine-runtime names. "native" and "guest" run the i686 product
of --windows-build as a 32-bit process in a 64-bit (WoW64) prefix, as most users run it, and in a
32-bit prefix the scenarios that only 32-bit Windows shows; "guest" does so inside the test guest
(scripts/guest/), where --make-template boots the guest, each scenario is a request to its agent
and --finish powers it off. "vehicle" runs the x86_64 build of --windows-x64-build (default: the
same folder name with "-x64") in a 64-bit prefix under wine64, and skips (exit code 77) what only
a 32-bit process can show. A booted prefix (the template, with Wine's virtual desktop so that
boxes have title bars without a window manager) is copied for every scenario, or overlaid in the
test guest. The scenario sets the Windows version and the user locale, writes registry entries
with `wine reg add`, lays out the host folder, optionally starts the stand-in host, and runs its
program under Xvfb while boxhelper.exe answers every message box from the scenario's script and a
screenshot of each box is taken.
Scenarios are the dictionaries of SCENARIOS in scenarios.py; see `Scenario fields` there.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

from scenarios import HOST_FOLDER, SCENARIOS, UNINSTALL_KEY

# The release test's throwaway certificates and timestamp authority sign the updater here too.
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "release"))
from authority import TimestampAuthority, make_certificates  # noqa: E402

LOCALES = {"en": "en_US.UTF-8", "ru": "ru_RU.UTF-8"}
E2E_FOLDER = "C:\\e2e\\"
# The test guest's image keeps booted templates: its recipe holds this line, so that a change here
# makes the image anew.
TEMPLATE_RECIPE = "{arch} prefix, virtual desktop 1024x768, Wine's fonts, v4"
PE_MACHINES = {0x14C: "PE32 i386", 0x8664: "PE32+ x86-64"}
SKIPPED = 77  # CTest's SKIP_RETURN_CODE for these tests
# How many times slower than natively Wine runs here: the test guest's emulation sets it. Every
# wait for a program is that much longer.
SLOWDOWN = float(os.environ.get("ZELM_E2E_SLOWDOWN", "1"))
# The system DLLs that the updater imports or loads itself.
DECIDED_DLLS = {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll",
                "ole32.dll", "oleaut32.dll"}


class Failure(Exception):
    pass


class Hung(Failure):
    """A program that did not end, with what it was doing when the driver gave up on it."""

    def __init__(self, message, diagnosis):
        super().__init__(message)
        self.diagnosis = diagnosis


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

class Runtime:
    """The Wine runtime that scripts/wine-runtime chooses for this machine, with its build."""

    def __init__(self, source, windows_build, windows_x64_build, quick=False):
        command = [str(source / "scripts" / "wine-runtime")] + (["--quick"] if quick else [])
        words = subprocess.run(command, capture_output=True, text=True,
                               check=True).stdout.split(None, 1)
        self.name, self.why = words[0], words[1].strip()
        self.is_vehicle = self.name == "vehicle"
        self.in_guest = self.name == "guest"
        self.build = (windows_x64_build if self.is_vehicle else windows_build).resolve()
        self.arches = ["win64"] if self.is_vehicle else ["win64", "win32"]

    def prefix_arch(self, scenario):
        """A 64-bit prefix, but for what only 32-bit Windows shows, where the product runs."""
        return "win32" if scenario.get("needs_32bit") and not self.is_vehicle else "win64"

    def describe(self):
        exe = self.build / "ZelmSoundUpdate.exe"
        machine = pe_machine(exe) if exe.exists() else "not built"
        if self.is_vehicle:
            what = f"the x86_64 test vehicle {exe} ({machine}) under wine64 in a 64-bit prefix"
        else:
            where = "the test guest's" if self.in_guest else "this machine's"
            what = (f"the product {exe} ({machine}) under {where} Wine, a 32-bit process in a "
                    f"64-bit (WoW64) prefix, in a 32-bit prefix where 32-bit Windows is needed")
        return f"{what} ({self.name}: {self.why})"


def pe_machine(exe):
    """The machine type that the PE header of `exe` names."""
    image = exe.read_bytes()[:4096]
    header = int.from_bytes(image[0x3C:0x40], "little")
    machine = int.from_bytes(image[header + 4:header + 6], "little")
    return PE_MACHINES.get(machine, f"machine 0x{machine:04x}")


# In a 64-bit prefix Wine's own tools (reg above all) must be the 64-bit ones, as on 64-bit
# Windows: where wine32 is installed, Debian's "wine" is its 32-bit loader, and a 32-bit reg.exe
# reads and writes the 32-bit registry view. The 64-bit loader starts a 32-bit program as such.
WINE64_LOADER = Path("/usr/lib/wine/wine64")
WINE_FONTS = Path("/usr/share/wine/fonts")


class Wine:
    def __init__(self, prefix, display, arch, locale="en"):
        self.prefix = Path(prefix)
        self.loader = str(WINE64_LOADER) if arch == "win64" and WINE64_LOADER.exists() else "wine"
        self.env = dict(os.environ, WINEPREFIX=str(prefix), WINEARCH=arch, WINEDEBUG="-all",
                        DISPLAY=display, LC_ALL=LOCALES[locale], LANG=LOCALES[locale],
                        WINEDLLOVERRIDES="mscoree,mshtml=")

    def run(self, *args, timeout=120, check=True):
        # Output goes through files, not pipes: a program that the command starts (the host
        # through ShellExecuteA) inherits them and would hold a pipe open until it ends.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run([self.loader, *args], env=self.env, stdout=out, stderr=err,
                                  timeout=timeout * SLOWDOWN).returncode
            out.seek(0)
            err.seek(0)
            result = subprocess.CompletedProcess(args, code, out.read().decode(errors="replace"),
                                                 err.read().decode(errors="replace"))
        if check and result.returncode != 0:
            raise Failure(f"wine {' '.join(args)} exited {result.returncode}: "
                          f"{result.stdout}{result.stderr}")
        return result

    def start(self, *args, trace_to=None):
        """Starts a program; with `trace_to`, Wine's trace of process creation and of the DLLs
        loaded goes to that file, each line headed by its process."""
        if trace_to is None:
            return subprocess.Popen([self.loader, *args], env=self.env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        with open(trace_to, "wb") as trace:
            return subprocess.Popen([self.loader, *args],
                                    env=dict(self.env, WINEDEBUG="+pid,trace+process,+loaddll"),
                                    stdout=subprocess.DEVNULL, stderr=trace)

    def server(self, flag):
        subprocess.run(["wineserver", flag], env=self.env, timeout=60 * SLOWDOWN)

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


def template_of(work, arch):
    return work / f"template-{arch}"


def make_template_prefix(work, display, arch):
    template = template_of(work, arch)
    shutil.rmtree(template, ignore_errors=True)
    work.mkdir(parents=True, exist_ok=True)
    started = time.monotonic()
    wine = Wine(template, display, arch)
    subprocess.run(["wineboot", "-i"], env=wine.env, capture_output=True,
                   timeout=300 * SLOWDOWN, check=True)
    # Windows keeps its fonts in C:\Windows\Fonts, and Debian's Wine loads its own (Tahoma, and
    # Marlett, whose glyphs draw the title bar's buttons) only from there.
    fonts = wine.unix_path("C:\\windows\\Fonts")
    for font in WINE_FONTS.glob("*.ttf"):
        shutil.copy(font, fonts / font.name)
    wine.reg_add("HKCU\\Software\\Wine\\Explorer", "Desktop", "REG_SZ", "Default")
    wine.reg_add("HKCU\\Software\\Wine\\Explorer\\Desktops", "Default", "REG_SZ", "1024x768")
    wine.server("-w")
    (template / "e2e-template").write_text(TEMPLATE_RECIPE.format(arch=arch) + "\n")
    log(f"template prefix booted in {time.monotonic() - started:.1f} s")


def template_ready(work, arch):
    stamp = template_of(work, arch) / "e2e-template"
    return stamp.exists() and stamp.read_text().strip() == TEMPLATE_RECIPE.format(arch=arch)


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


def make_prefix(template, directory):
    """directory/prefix for one scenario. Under emulation, where a copy of thousands of files costs
    many seconds, an overlay of the template (the guest's agent runs as root); elsewhere a copy,
    which stays there to be looked at after the run. Returns how it was made."""
    target, upper, work = (directory / name for name in ("prefix", "prefix-upper", "prefix-work"))
    for folder in (target, upper, work):
        folder.mkdir()
    if SLOWDOWN > 1 and os.geteuid() == 0 and subprocess.run(
            ["mount", "-t", "overlay", "overlay", "-o",
             f"lowerdir={template},upperdir={upper},workdir={work}", str(target)],
            capture_output=True).returncode == 0:
        return "an overlay of the template"
    for folder in (target, upper, work):
        folder.rmdir()
    copy_prefix(template, target)
    return "a copy of the template"


def release_prefix(directory):
    prefix = directory / "prefix"
    if prefix.is_mount():
        subprocess.run(["umount", str(prefix)], check=True)


# ---- Host folder ---------------------------------------------------------------------------------

CODE_PAGES = {"en": "cp1252", "ru": "cp1251"}


def host_folder_of(scenario):
    return (scenario.get("host") or {}).get("folder", HOST_FOLDER)


def bank_bytes(bank, source):
    if bank == "carried":
        return (source / "res" / "zorv.3bs").read_bytes()
    data = bytearray(b"3BS\x1a" + bytes(max(bank.get("size", 64), 6) - 4))
    data[5] = bank["version"]
    return bytes(data)


def lay_out_host(wine, host, paths, locale):
    folder = wine.unix_path(host.get("folder", HOST_FOLDER))
    language = folder / "language"
    language.mkdir(parents=True)
    source_languages = paths.source / "tests" / "data" / "host" / "language"
    names = host.get("languages")
    if names is None:
        names = sorted(p.name for p in source_languages.glob("*.lng"))
    for name in names:
        shutil.copy(source_languages / name, language / name)
    for name, text in host.get("language_files", {}).items():
        (language / name).write_bytes(text.encode(CODE_PAGES[locale]))
    if host.get("exe", True):
        shutil.copy(paths.windows_build / "zelm.exe", folder / "zelm.exe")
    if host.get("bank") == "folder":
        (folder / "zorv.3bs").mkdir()
    elif host.get("bank"):
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


def bank_state(path):
    """The bank's bytes, "folder" when a folder stands in its place, or None."""
    if path.is_dir():
        return "folder"
    return path.read_bytes() if path.exists() else None


def file_identity(path):
    """Changes whenever the file is written anew, even with the same bytes."""
    if not path.is_file():
        return None
    status = path.stat()
    return status.st_ino, status.st_mtime_ns


def read_json_lines(path):
    if not path.exists():
        return []
    return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines() if line]


def host_events(folder, event):
    return [e for e in read_json_lines(folder / "zelm-starts.log") if e["event"] == event]


def host_quits(folder):
    return len([e for e in host_events(folder, "quit") if not e["ignored"]])


def wait_for(condition, timeout, what):
    deadline = time.monotonic() + timeout * SLOWDOWN
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
    process = wine.start(host.get("folder", HOST_FOLDER) + "zelm.exe", *args)
    wait_for(lambda: len(host_events(folder, "start")) > before, 30, "the stand-in host to start")
    return process


# ---- The updater under test ----------------------------------------------------------------------

def alter_bank_byte(image, source):
    """The updater's image with one byte inside its embedded sound bank changed."""
    bank = (source / "res" / "zorv.3bs").read_bytes()
    offset = image.find(bank[:64])
    if offset < 0 or image.find(bank[:64], offset + 1) >= 0:
        raise Failure("the embedded sound bank is not found exactly once in the updater")
    if image[offset:offset + len(bank)] != bank:
        raise Failure("the updater does not carry res/zorv.3bs byte for byte")
    altered = bytearray(image)
    altered[offset + len(bank) // 2] ^= 0x01
    return bytes(altered)


def signed_updater(paths):
    """The build's updater signed as scripts/release.sh signs it: a SHA-1 signature with a nested
    SHA-256 one, each timestamped, by throwaway certificates and a timestamp authority on
    127.0.0.1. Kept in the build folder, where the test guest (which has no osslsigncode) finds
    it, and made again when the build's exe is newer."""
    exe = paths.windows_build / "ZelmSoundUpdate.exe"
    signed = paths.windows_build / "signed" / "ZelmSoundUpdate.exe"
    if signed.exists() and signed.stat().st_mtime >= exe.stat().st_mtime:
        return signed
    signed.parent.mkdir(exist_ok=True)
    with tempfile.TemporaryDirectory(dir=signed.parent) as scratch:
        keys = make_certificates(Path(scratch) / "keys")
        current = exe
        with TimestampAuthority(keys) as authority:
            for number, digest in enumerate([["-h", "sha1"], ["-nest", "-h", "sha256"]], 1):
                target = Path(scratch) / f"signed-{number}.exe"
                said = subprocess.run(
                    ["osslsigncode", "sign", "-certs", str(keys / "chain.pem"), "-key",
                     str(keys / "signer-key.pem"), *digest, "-ts", authority.url,
                     "-in", str(current), "-out", str(target)], capture_output=True, text=True)
                if said.returncode != 0:
                    raise Failure(f"osslsigncode could not sign the updater:\n{said.stdout}"
                                  f"{said.stderr}")
                current = target
        ca = str(keys / "ca-cert.pem")
        said = subprocess.run(["osslsigncode", "verify", "-in", str(current), "-CAfile", ca,
                               "-TSA-CAfile", ca], capture_output=True, text=True)
        if said.returncode != 0 or said.stdout.count(
                "Timestamp Server Signature verification: ok") != 2:
            raise Failure(f"the signed updater lacks two verified timestamps:\n{said.stdout}")
        os.replace(current, signed)  # whole: scenarios of other drivers may read it meanwhile
    log(f"signed {exe} as a release is signed: {signed}")
    return signed


def install_updater(wine, updater, paths):
    """Copies the updater (signed or altered when the scenario asks) into the prefix; its Windows
    path."""
    folder = updater.get("folder", E2E_FOLDER)
    target = wine.unix_path(folder + "ZelmSoundUpdate.exe")
    target.parent.mkdir(parents=True, exist_ok=True)
    source = signed_updater(paths) if updater.get("signed") else (
        paths.windows_build / "ZelmSoundUpdate.exe")
    image = source.read_bytes()
    if updater.get("alter_bank_byte"):
        image = alter_bank_byte(image, paths.source)
    target.write_bytes(image)
    return folder + "ZelmSoundUpdate.exe"


def started(trace, program):
    """Whether Wine's process trace shows a process created with `program` (a file name) in its
    application name or command line."""
    text = trace.read_text(errors="replace") if trace.exists() else ""
    return re.search(r'CreateProcessInternalW .*' + re.escape(program), text, re.I) is not None


def updater_started_host(trace):
    """Whether the updater's own process created the host (ShellExecuteA does; the desktop's
    shell creates it in Explorer, which may itself be in the trace when the updater's request
    started it as a COM server, so only the updater's own process counts)."""
    text = trace.read_text(errors="replace") if trace.exists() else ""
    loaded = re.search(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L".*?\\\\'
                       r'ZelmSoundUpdate\.exe"', text, re.M | re.I)
    if loaded is None:
        return False
    return re.search(rf'^{loaded.group(1)}:[0-9a-f]+:trace:process:CreateProcessInternalW .*'
                     r'zelm\.exe', text, re.M | re.I) is not None


def loaded_dlls(trace, program):
    """The file names (lower case) of the DLLs that the process of `program` (the exe's file name)
    loaded, by Wine's trace; the programs it started have their own process."""
    text = trace.read_text(errors="replace") if trace.exists() else ""
    process, dlls = None, set()
    for pid, path in re.findall(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L"(.*?)"', text,
                                re.M):
        name = path.replace("\\\\", "\\").rsplit("\\", 1)[-1].lower()
        if process is None and name == program.lower():
            process = pid
        elif pid == process:
            dlls.add(name)
    return sorted(dlls)


def ver_command_lines(trace):
    """The "ver" runs that Wine's process trace shows being started, each as its application
    name (or NULL), a blank and its command line."""
    text = trace.read_text(errors="replace") if trace.exists() else ""
    found = re.findall(r'CreateProcessInternalW app (?:L"(.*?)"|NULL) cmdline L"(.* /c ver\b.*?)"$',
                       text, re.M)
    return [f"{app or 'NULL'} {line}".replace('\\"', '"').replace("\\\\", "\\")
            for app, line in found]


# A Temp that is a link, as an unelevated program of the user can make one: as soon as a file
# appears in the first folder, a file of the same name is put in the second and the link is
# re-pointed there, so that an elevated read and delete of that name would take the other file.
TEMP_LINK = "C:\\ztemp"
TEMP_FIRST = "C:\\ztemp-first"
TEMP_SECOND = "C:\\ztemp-second"


class TempLinkAttack:
    def __init__(self, wine):
        self.link, self.first, self.second = (
            wine.unix_path(p) for p in (TEMP_LINK, TEMP_FIRST, TEMP_SECOND))
        self.first.mkdir()
        self.second.mkdir()
        self.link.symlink_to(self.first, target_is_directory=True)
        self.planted = []
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.watch, daemon=True)
        self.thread.start()

    def watch(self):
        while not self.stop.is_set():
            names = [entry.name for entry in self.first.iterdir()]
            if names:
                for name in names:
                    (self.second / name).write_text("keep")
                    self.planted.append(name)
                repointed = self.link.with_name(self.link.name + ".new")
                repointed.symlink_to(self.second, target_is_directory=True)
                os.replace(repointed, self.link)
                return
            time.sleep(0.005)

    def finish(self, report, faults):
        self.stop.set()
        self.thread.join()
        report["temp_first"] = sorted(entry.name for entry in self.first.iterdir())
        report["temp_planted"] = self.planted
        faults.extend(f"the run left {name} in Temp" for name in report["temp_first"])
        faults.extend(f"{name}, planted in the folder Temp was re-pointed to, was deleted"
                      for name in self.planted if not (self.second / name).exists())


# ---- Running a program with the box helper -------------------------------------------------------

class BoxSession:
    """boxhelper.exe answering the boxes of one program run, with a screenshot of each box."""

    def __init__(self, wine, display, answers, shots, run_folder):
        self.wine, self.display, self.shots = wine, display, shots
        self.run_folder = run_folder
        self.signals = wine.unix_path(run_folder + "signals")
        self.signals.mkdir(parents=True)
        shots.mkdir(parents=True, exist_ok=True)
        self.log_path = wine.unix_path(run_folder + "boxes.log")
        self.helper = wine.start(E2E_FOLDER + "boxhelper.exe", "--log", run_folder + "boxes.log",
                                 "--answers", ",".join(answers), "--signal-dir",
                                 run_folder + "signals", "--stop-file", run_folder + "stop",
                                 "--timeout-ms", str(int(180000 * SLOWDOWN)))
        self.screenshots = []

    def serve(self, process, timeout=150):
        """Acknowledges boxes until the process ends; returns its exit code."""
        deadline = time.monotonic() + timeout * SLOWDOWN
        while process.poll() is None:
            if time.monotonic() > deadline:
                # A hang is a finding: what the program was doing is recorded before it is killed.
                diagnosis = self.diagnose_hang()
                process.kill()
                raise Hung("the program did not end", diagnosis)
            self.acknowledge_ready_boxes()
            time.sleep(0.05)
        return process.returncode

    def diagnose_hang(self):
        """Every thread's backtrace (winedbg attaches to each running Wine process in turn), the
        processes and Wine's window list, a screenshot and the box helper's log so far."""
        diagnosis = {}
        # In a 64-bit prefix a 32-bit process is best read by the 32-bit winedbg, where it exists.
        debuggers = {"winedbg": "winedbg"}
        if self.wine.unix_path("C:\\windows\\syswow64\\winedbg.exe").exists():
            debuggers["winedbg (32-bit)"] = "C:\\windows\\syswow64\\winedbg.exe"
        for label, debugger in debuggers.items():
            for command in ("info proc", "info wnd", "bt all"):
                try:
                    result = self.wine.run(debugger, "--command", command, timeout=120,
                                           check=False)
                    text = result.stdout + result.stderr
                except subprocess.TimeoutExpired:
                    text = "(no answer within its time)"
                diagnosis[f"{label}: {command}"] = text
        shot = self.shots / "hang.png"
        subprocess.run(["import", "-display", self.display, "-window", "root", str(shot)],
                       capture_output=True, timeout=30)
        diagnosis["screenshot"] = str(shot) if shot.exists() else "none could be taken"
        try:
            diagnosis["box helper's log"] = self.log_path.read_text(errors="replace")
        except OSError as error:
            diagnosis["box helper's log"] = f"unreadable: {error}"
        for what, text in diagnosis.items():
            log(f"hang, {what}:\n{text.rstrip()}")
        return diagnosis

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
        self.wine.unix_path(self.run_folder + "stop").write_text("stop\n")
        try:
            self.helper.wait(timeout=30 * SLOWDOWN)
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


class HostState:
    """What the checks compare with: the host folder as it was before one updater run."""

    def __init__(self, folder):
        self.folder = folder
        self.bank = bank_state(folder / "zorv.3bs")
        self.identity = file_identity(folder / "zorv.3bs")
        self.starts = len(host_events(folder, "start"))
        self.quits = host_quits(folder)


def check_bank(before, expect, source, report, faults):
    bank = before.folder / "zorv.3bs"
    now = bank_state(bank)
    carried = (source / "res" / "zorv.3bs").read_bytes()
    report["bank"] = ("absent" if now is None else "a folder" if now == "folder" else
                      f"{len(now)} bytes, " + ("identical to res/zorv.3bs" if now == carried else
                                               "unchanged" if now == before.bank else "other"))
    report["bank_rewritten"] = file_identity(bank) != before.identity
    want = expect.get("bank")
    if want == "carried" and now != carried:
        faults.append("zorv.3bs is not byte-identical to res/zorv.3bs")
    if want == "unchanged" and now != before.bank:
        faults.append("zorv.3bs changed")
    if want == "absent" and now is not None:
        faults.append("zorv.3bs exists")
    if expect.get("bank_rewritten") and not report["bank_rewritten"]:
        faults.append("zorv.3bs was not written anew")


def check_estimated_size(wine, before, expect, report, faults):
    data = wine.reg_query(expect.get("size_key", UNINSTALL_KEY), "EstimatedSize")
    report["estimated_size"] = int(data[1], 16) if data and data[0] == "REG_DWORD" else data
    report["folder_kib"] = folder_size_kib(before.folder, before.starts)
    if "estimated_size" not in expect:
        return
    if expect["estimated_size"]:
        if data is None or data[0] != "REG_DWORD" or int(data[1], 16) != report["folder_kib"]:
            faults.append(f"EstimatedSize is {data!r}, expected REG_DWORD "
                          f"{report['folder_kib']} (KiB)")
    elif data is not None:
        faults.append(f"EstimatedSize is {data!r}, expected none")
    for key in expect.get("absent_keys", []):
        if wine.run("reg", "query", key, check=False).returncode == 0:
            faults.append(f"{key} exists")


def check_host(before, expect, report, faults):
    report["host_quits"] = host_quits(before.folder) - before.quits
    if "host_quits" in expect and report["host_quits"] != expect["host_quits"]:
        faults.append(f"the host quit {report['host_quits']} times, "
                      f"expected {expect['host_quits']}")
    report["host_starts"] = new_host_starts(before.folder, before.starts,
                                            expect.get("host_starts", 0))
    if "host_starts" in expect and report["host_starts"] != expect["host_starts"]:
        faults.append(f"host started {report['host_starts']} times, "
                      f"expected {expect['host_starts']}")


# ---- Scenarios -----------------------------------------------------------------------------------

def prepare(scenario, paths, display):
    directory = paths.work / scenario["name"]
    release_prefix(directory)
    shutil.rmtree(directory, ignore_errors=True)
    (directory / "screenshots").mkdir(parents=True)
    started = time.monotonic()
    arch = paths.runtime.prefix_arch(scenario)
    made = make_prefix(template_of(paths.work, arch), directory)
    log(f"{'32' if arch == 'win32' else '64'}-bit prefix: {made}, "
        f"{time.monotonic() - started:.1f} s")
    wine = Wine(directory / "prefix", display, arch, scenario.get("locale", "en"))
    # One Wine server, with its services, for every program of the scenario: otherwise each
    # pause between two programs may end it, and the next program starts it all again.
    wine.server("-p")
    wine.run("winecfg", "-v", scenario.get("windows", "win10"))
    e2e = wine.unix_path(E2E_FOLDER)
    e2e.mkdir(parents=True)
    for program in ("boxhelper.exe", "boxdemo.exe", "hostctl.exe"):
        shutil.copy(paths.windows_build / program, e2e / program)
    folder = host_folder_of(scenario)
    for target, helper in scenario.get("plant", {}).items():
        shutil.copy(paths.windows_build / helper, wine.unix_path(target))
        # What a 32-bit program on 64-bit Windows sees as system32 is SysWOW64.
        system32 = "C:\\windows\\system32\\"
        if arch == "win64" and target.lower().startswith(system32.lower()):
            shutil.copy(paths.windows_build / helper,
                        wine.unix_path("C:\\windows\\syswow64\\" + target[len(system32):]))
    for link, target in scenario.get("links", {}).items():
        wine.unix_path(link).symlink_to(wine.unix_path(target), target_is_directory=True)
    for key, value, kind, data in scenario.get("registry", []):
        wine.reg_add(key.format(host=folder), value, kind, str(data).format(host=folder))
    log(f"prefix ready in {time.monotonic() - started:.1f} s")
    return directory, wine


def run_with_boxes(wine, display, shots, run_folder, answers, program_args, trace_to=None):
    session = BoxSession(wine, display, answers, shots, run_folder)
    process = wine.start(*program_args, trace_to=trace_to)
    exit_code = session.serve(process)
    return exit_code, session.finish(), session.screenshots


def runs_of(scenario):
    return scenario.get("runs") or [{"args": scenario.get("args", []),
                                     "answers": scenario.get("answers", []),
                                     "expect": scenario.get("expect", {})}]


def run_updater_once(wine, display, directory, paths, updater, folder, run, number, faults):
    """One start of the updater, checked against run["expect"]; returns what was seen."""
    expect = run["expect"]
    before = HostState(folder) if folder else None
    traced = any(field in expect
                 for field in ("ver_run", "ver_line", "never_started", "started_by", "dlls"))
    trace = directory / f"process-trace-{number}.log" if traced else None
    exit_code, boxes, shots = run_with_boxes(
        wine, display, directory / "screenshots" / f"run-{number}", f"{E2E_FOLDER}run-{number}\\",
        run["answers"], [updater, *run["args"]], trace)
    log(f"{' '.join(['ZelmSoundUpdate.exe', *run['args']])} exited with {exit_code}")
    report = {"args": run["args"], "exit_code": exit_code, "boxes": boxes, "screenshots": shots}
    if "exit_code" in expect and exit_code != expect["exit_code"]:
        faults.append(f"exit code {exit_code}, expected {expect['exit_code']}")
    check_boxes(expect.get("boxes"), boxes, shots, faults)
    if "started_by" in expect:
        report["started_by"] = "updater" if updater_started_host(trace) else "desktop shell"
        if report["started_by"] != expect["started_by"]:
            faults.append(f"the host was started by the {report['started_by']}, expected the "
                          f"{expect['started_by']}")
    if "ver_run" in expect:
        report["ver_run"] = bool(ver_command_lines(trace))
        if report["ver_run"] != expect["ver_run"]:
            faults.append(f"\"ver\" run: {report['ver_run']}, expected {expect['ver_run']}")
    if "ver_line" in expect:
        lines = ver_command_lines(trace)
        report["ver_lines"] = lines
        faults.extend(f"\"ver\" ran as {line!r}, expected {expect['ver_line']!r}" for line in lines
                      if not re.fullmatch(expect["ver_line"], line, re.I))
    for program in expect.get("never_started", []):
        if started(trace, program):
            faults.append(f"{program} was started")
    if "dlls" in expect:
        report["dlls"] = loaded_dlls(trace, "ZelmSoundUpdate.exe")
        log(f"DLLs loaded: {' '.join(report['dlls'])}")
        # Only the DLLs the updater's own code decides on are compared; what those load in turn
        # is Wine's (and differs between its 32-bit and 64-bit builds).
        decided = sorted(set(report["dlls"]) & DECIDED_DLLS)
        if decided != sorted(expect["dlls"]):
            faults.append(f"DLLs loaded of {sorted(DECIDED_DLLS)}: {decided}, expected "
                          f"{sorted(expect['dlls'])}")
    if before:
        # The registry first, while Wine's own processes still run: the start count may wait.
        check_bank(before, expect, paths.source, report, faults)
        check_estimated_size(wine, before, expect, report, faults)
        check_host(before, expect, report, faults)
    return report


def hold_file(wine, how, path, ms):
    """hostctl.exe holding `path` ("hold" or "scan", as hostctl describes them) for `ms`
    milliseconds; once it holds it."""
    ready = E2E_FOLDER + f"{how}-ready"
    holder = wine.start(E2E_FOLDER + "hostctl.exe", how, path, ready, str(int(ms)))
    wait_for(lambda: wine.unix_path(ready).exists(), 30, f"hostctl to {how} {path}")
    return holder


def run_updater(scenario, wine, display, directory, paths, faults):
    host = scenario.get("host")
    folder = lay_out_host(wine, host, paths, scenario["locale"]) if host is not None else None
    if host and host.get("running"):
        start_host(wine, folder, host)
    updater = install_updater(wine, scenario.get("updater", {}), paths)
    if scenario.get("updater", {}).get("held_for_deleting"):
        hold_file(wine, "hold", updater, 60000 * SLOWDOWN)
    if host and host.get("scanned_ms"):
        # Not stretched by the emulation: the updater's own wait for it is not either.
        hold_file(wine, "scan", host_folder_of(scenario) + "zorv.3bs", host["scanned_ms"])
    attack = TempLinkAttack(wine) if scenario.get("temp_link") else None
    reports = []
    for number, run in enumerate(runs_of(scenario), 1):
        faults_before = len(faults)
        reports.append(run_updater_once(wine, display, directory, paths, updater, folder, run,
                                        number, faults))
        if len(faults) > faults_before:
            break
    if attack:
        attack.finish(reports[-1], faults)
    return reports


def run_boxdemo(scenario, wine, display, directory, paths, faults):
    expect = scenario["expect"]
    results = E2E_FOLDER + "demo-results.log"
    exit_code, boxes, shots = run_with_boxes(
        wine, display, directory / "screenshots" / "run-1", f"{E2E_FOLDER}run-1\\",
        scenario["answers"], [E2E_FOLDER + "boxdemo.exe", results])
    if exit_code != expect["exit_code"]:
        faults.append(f"boxdemo.exe exited with {exit_code}")
    check_boxes(expect["boxes"], boxes, shots, faults)
    got = [r["result"] for r in read_json_lines(wine.unix_path(results))]
    if got != expect["demo_results"]:
        faults.append(f"boxdemo.exe got {got}, expected {expect['demo_results']}")
    return [{"args": [], "exit_code": exit_code, "boxes": boxes, "screenshots": shots}]


def hostctl(wine, *args):
    return wine.run(E2E_FOLDER + "hostctl.exe", *args, check=False).stdout.strip()


def expect_output(faults, what, got, want):
    log(f"{what}: {got}")
    if got != want:
        faults.append(f"{what}: {got!r}, expected {want!r}")


def run_host_check(scenario, wine, display, directory, paths, faults):
    # The release delay must outlast a hostctl run, which emulation makes that much longer.
    host = dict(scenario["host"])
    host["release_delay_ms"] = int(host.get("release_delay_ms", 0) * SLOWDOWN)
    folder = lay_out_host(wine, host, paths, scenario["locale"])
    host_folder = host_folder_of(scenario)
    bank = host_folder + "zorv.3bs"
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
        return []
    # The release delay (2 s natively) is far longer than one hostctl run: the bank is still held.
    expect_output(faults, "bank during the release delay", hostctl(wine, "locked", bank),
                  "locked")
    expect_output(faults, "bank after the release delay",
                  hostctl(wine, "wait-free", bank, str(int(20000 * SLOWDOWN))), "free")
    process.wait(timeout=20 * SLOWDOWN)
    expect_output(faults, "host exit code", process.returncode, 0)
    events = [e["event"] for e in read_json_lines(folder / "zelm-starts.log")]
    expect_output(faults, "host log", events, ["start", "quit", "released"])
    expect_output(faults, "probe after the host ended", hostctl(wine, "probe"),
                  "mapping=absent window=missing")
    expect_output(faults, "ShellExecuteA open", hostctl(wine, "start", host_folder + "zelm.exe"),
                  "started")
    wait_for(lambda: len(host_events(folder, "start")) == 2, 30, "the second start")
    second = host_events(folder, "start")[1]
    expect_output(faults, "second start's folder", second["currentFolder"].rstrip("\\") + "\\",
                  host_folder)
    expect_output(faults, "quit the second start", hostctl(wine, "quit"), "posted")
    wait_for(lambda: len(host_events(folder, "released")) == 2, 30, "the second host to end")
    return []


RUNNERS = {"updater": run_updater, "boxdemo": run_boxdemo, "host_check": run_host_check}


def run_scenario(scenario, paths, display):
    """Runs one scenario; returns {"name", "faults", "directory", "runs": [what each run saw]}."""
    log(f"scenario {scenario['name']}")
    started = time.monotonic()
    faults = []
    runs = []
    hang = None
    directory, wine = prepare(scenario, paths, display)
    try:
        runs = RUNNERS[scenario["program"]](scenario, wine, display, directory, paths, faults)
    except (Failure, subprocess.TimeoutExpired) as error:
        faults.append(str(error))
        hang = getattr(error, "diagnosis", None)
    finally:
        wine.server("-k")
        release_prefix(directory)
    for fault in faults:
        log(f"FAIL {scenario['name']}: {fault}")
    log(f"scenario {scenario['name']}: {'FAILED' if faults else 'passed'} in "
        f"{time.monotonic() - started:.1f} s (screenshots in {directory / 'screenshots'})")
    result = {"name": scenario["name"], "faults": faults, "directory": directory, "runs": runs}
    if hang:
        result["hang"] = hang
    save_report(result)
    return result


# ---- Reports, and the test guest -----------------------------------------------------------------

def save_report(result):
    """report.json in the scenario's folder, screenshots named relative to it, so that the result
    can be read back where that folder is copied to (from the test guest)."""
    directory = result["directory"]
    runs = [dict(run, screenshots=[str(Path(shot).relative_to(directory))
                                   for shot in run["screenshots"]]) for run in result["runs"]]
    report = {"name": result["name"], "faults": result["faults"], "runs": runs}
    if "hang" in result:
        report["hang"] = result["hang"]
    (directory / "report.json").write_text(json.dumps(report, default=repr, indent=1) + "\n")


def load_report(directory):
    report = json.loads((directory / "report.json").read_text())
    for run in report["runs"]:
        run["screenshots"] = [directory / shot for shot in run["screenshots"]]
    return dict(report, directory=directory)


def guest_script(paths, command):
    return subprocess.run([str(paths.source / "scripts" / "guest" / "run"), command]).returncode


def guest_queue(paths):
    return paths.source / "build" / "guest" / "queue"


def guest_running(paths):
    """Whether the guest's qemu runs and its agent has said that it takes requests."""
    try:
        os.kill(int((paths.source / "build" / "guest" / "qemu.pid").read_text()), 0)
    except (OSError, ValueError):
        return False
    return (guest_queue(paths) / "ready").exists()


def run_in_guest(names, paths):
    """Asks the test guest's agent to run the scenarios, all at once (it runs as many together as
    it has processors); prints each one's log and brings its folder back to --work."""
    queue = guest_queue(paths)
    source = paths.source.resolve()
    if source not in paths.windows_build.parents:
        raise Failure(f"the test guest sees only {source}; {paths.windows_build} is outside it")
    for name in names:
        for leftover in (f"{name}.done", f"{name}.log"):
            (queue / leftover).unlink(missing_ok=True)
        request = queue / f"{name}.request.new"
        request.write_text(f"{paths.windows_build.relative_to(source)}\n")
        request.rename(queue / f"{name}.request")  # whole, or not there, when the agent looks
    results = []
    for name in names:
        done = queue / f"{name}.done"
        while not done.exists():
            if not guest_running(paths):
                raise Failure(f"the test guest stopped before it ran {name} "
                              "(build/guest/console-serve.log)")
            time.sleep(0.2)
        code = int(done.read_text())
        sys.stdout.write((queue / f"{name}.log").read_text(errors="replace"))
        directory = paths.work / name
        shutil.rmtree(directory, ignore_errors=True)
        if (queue / f"{name}.result").exists():
            shutil.move(queue / f"{name}.result", directory)
        try:
            result = load_report(directory)
        except OSError:
            result = {"name": name, "faults": [], "directory": directory, "runs": []}
        if code != 0 and not result["faults"]:
            result["faults"].append(f"the driver in the guest exited with {code}")
        results.append(result)
    return results


def argument_parser(description):
    parser = argparse.ArgumentParser(description=description,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--windows-build", type=Path, help="the windows preset's build folder")
    parser.add_argument("--windows-x64-build", type=Path,
                        help="the windows-x64 preset's build folder (default: --windows-build "
                             "with \"-x64\" appended)")
    parser.add_argument("--work", type=Path)
    parser.add_argument("--source", type=Path, default=Path(__file__).resolve().parents[2])
    return parser


def choose_runtime(paths, quick=False, need_build=True):
    """Sets paths.runtime and points paths.windows_build at its build; False when that build is
    needed and missing. The first line of output says which exe and runtime run, and why. `quick`
    asks for the fastest runtime here, as the demonstration does."""
    if getattr(paths, "runtime", None):
        return True
    x64_build = paths.windows_x64_build or paths.windows_build.with_name(
        paths.windows_build.name + "-x64")
    paths.runtime = Runtime(paths.source, paths.windows_build, x64_build, quick)
    paths.windows_build = paths.runtime.build
    log(f"runtime: {paths.runtime.describe()}")
    if need_build and not (paths.windows_build / "ZelmSoundUpdate.exe").exists():
        preset = "windows-x64" if paths.runtime.is_vehicle else "windows"
        log(f"no ZelmSoundUpdate.exe in {paths.windows_build}: build the {preset} preset first")
        return False
    return True


def scenario_named(name):
    """The scenario of that name; NAME@TAG is NAME under the name NAME@TAG. None when unknown."""
    by_name = {s["name"]: s for s in SCENARIOS}
    scenario = by_name.get(name.split("@", 1)[0])
    return dict(scenario, name=name) if scenario else None


def skip_reason(scenario, runtime):
    """Why the scenario cannot run on this runtime, or None."""
    if scenario.get("needs_32bit") and runtime.is_vehicle:
        return f"needs a 32-bit process: {scenario['needs_32bit']}"
    return None


def run_scenarios(names, paths, make_template=False):
    """Runs the named scenarios under one X server, or in the test guest, which is booted for
    them unless it runs already; their results, or None when the build of the runtime is missing
    or the guest does not come up."""
    if not choose_runtime(paths):
        return None
    paths.work = paths.work.resolve()
    if paths.runtime.in_guest:
        # The guest has no osslsigncode: the signed updater is made here, in the build it sees.
        if any(s["name"] in names and s.get("updater", {}).get("signed") for s in SCENARIOS):
            signed_updater(paths)
        booted_here = make_template or not guest_running(paths)
        if booted_here and guest_script(paths, "start") != 0:
            return None
        try:
            return run_in_guest(names, paths)
        finally:
            if booted_here and not make_template:
                guest_script(paths, "stop")
    with Xvfb() as x:
        for arch in paths.runtime.arches:
            if make_template or not template_ready(paths.work, arch):
                make_template_prefix(paths.work, x.display, arch)
        return [run_scenario(scenario_named(n), paths, x.display) for n in names]


def main():
    parser = argument_parser(__doc__)
    parser.add_argument("--make-template", action="store_true")
    parser.add_argument("--scenario", action="append", default=[])
    parser.add_argument("--list", action="store_true", help="print the scenario names")
    parser.add_argument("--finish", action="store_true",
                        help="power the test guest off, where it runs")
    paths = parser.parse_args()
    if paths.list:
        print(";".join(s["name"] for s in SCENARIOS), end="")
        return 0
    if paths.finish:
        return guest_script(paths, "stop") if guest_running(paths) else 0
    if not paths.windows_build or not paths.work:
        parser.error("--windows-build and --work are required")
    unknown = [n for n in paths.scenario if not scenario_named(n)]
    if unknown:
        parser.error(f"unknown scenarios: {unknown}")
    # Booting the prefixes needs no build: the test guest's image makes them before any.
    if not choose_runtime(paths, need_build=bool(paths.scenario)):
        return 1
    names = []
    for name in paths.scenario:
        reason = skip_reason(scenario_named(name), paths.runtime)
        if reason:
            log(f"scenario {name}: SKIPPED, {reason}")
        else:
            names.append(name)
    if paths.scenario and not names:
        return SKIPPED
    try:
        results = run_scenarios(names, paths, paths.make_template)
    except Failure as error:
        log(f"FAIL: {error}")
        return 1
    return 0 if results is not None and not any(r["faults"] for r in results) else 1


if __name__ == "__main__":
    sys.exit(main())
