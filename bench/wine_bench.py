#!/usr/bin/env python3
"""The quiet update under Wine against its floor, in one warm Wine session; peak memory of both.

  wine_bench.py --windows-build DIR [--windows-x64-build DIR] --work DIR --trivial-exe FILE
                --trivial-dlls-exe FILE
                [--runs N] [--json FILE]

The prefix, its registry and the host folder come from the e2e driver (tests/e2e/run_e2e.py):
the host installed in the registry, the stand-in zelm.exe, the language files, and an older
sound bank (the carried one with version byte 4) put back before every update. Wine runs as an
administrator, so the quiet update ("modest") shows no box.

One round runs these, in an order shuffled per round so that the machine's load falls on all:
  update   ZelmSoundUpdate.exe modest
  trivial  trivial.exe, a GUI program that ends at once       \
  ver      cmd /c ver                                          > the floor, their sum
  copy     cmd /c copy of the 5.4 MB bank                     /
  trivial_dlls  trivial.exe importing the updater's DLLs too (user32, shell32, advapi32)
The wineserver is persistent for the whole session, so Wine's boot is paid once, before timing.
Peak memory: VmHWM of the Windows process (the wine-preloader that runs the exe), sampled from
/proc until it ends, for the updater and both trivial programs. A few more updates run
with Wine's relay trace of a few calls, time-stamped, to show where the time goes.
"""
import argparse
import json
import random
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(SOURCE / "tests" / "e2e"))
import run_e2e as e2e  # noqa: E402  (the e2e driver is not a package)
import scenarios  # noqa: E402

E2E = e2e.E2E_FOLDER
BANK_COPY_SOURCE = E2E + "zorv.3bs"
BANK_COPY_TARGET = E2E + "copy\\zorv.3bs"
COMMANDS = {
    "update": [E2E + "ZelmSoundUpdate.exe", "modest"],  # where e2e.install_updater puts it
    "trivial": [E2E + "trivial.exe"],
    "trivial_dlls": [E2E + "trivial-dlls.exe"],
    "ver": ["cmd", "/c", "ver"],
    "copy": ["cmd", "/c", "copy", "/y", "/b", BANK_COPY_SOURCE, BANK_COPY_TARGET],
}
FLOOR = ("trivial", "ver", "copy")
TRACED_RUNS = 5  # the breakdown is the median of each phase over these traced updates
# Calls whose time stamps split one update into its phases (see phases()).
TRACED_CALLS = ("kernel32.GetModuleFileNameA", "kernel32.CreateProcessA",
                "kernel32.WaitForSingleObject", "kernel32.FindResourceA",
                "kernel32.FlushFileBuffers", "kernel32.MoveFileExA", "advapi32.RegSetValueExA",
                "kernel32.ExitProcess")


def read_vm_hwm_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def timed_run(wine, command):
    """Seconds from launch to exit and the process's peak resident set in KiB. `wine` execs the
    preloader, which runs the Windows program in the same process."""
    started = time.monotonic()
    process = subprocess.Popen(["wine", *command], env=wine.env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    peak = 0
    while process.poll() is None:
        peak = max(peak, read_vm_hwm_kib(process.pid) or 0)
        time.sleep(0.002)
    elapsed = time.monotonic() - started
    if process.returncode != 0:
        raise e2e.Failure(f"wine {' '.join(command)} exited {process.returncode}")
    return elapsed, peak


class Session:
    def __init__(self, wine, folder, bank):
        self.wine, self.folder, self.bank = wine, folder, bank
        self.older_bank = bank[:5] + bytes([bank[5] - 1]) + bank[6:]

    def reset(self):
        (self.folder / "zorv.3bs").write_bytes(self.older_bank)
        self.wine.unix_path(BANK_COPY_TARGET).unlink(missing_ok=True)

    def run(self, name):
        self.reset()
        return timed_run(self.wine, COMMANDS[name])

    def check_update(self):
        self.reset()
        self.wine.run(*COMMANDS["update"])
        if (self.folder / "zorv.3bs").read_bytes() != self.bank:
            raise e2e.Failure("the quiet update did not install the carried bank")
        if self.wine.reg_query(scenarios.UNINSTALL_KEY, "EstimatedSize") is None:
            raise e2e.Failure("the quiet update did not write EstimatedSize")


def prepare_session(paths, display):
    scenario = {"name": "bench_quiet_update", "windows": "win10", "locale": "en",
                "registry": scenarios.INSTALLED_HOST_REGISTRY}
    _, wine = e2e.prepare(scenario, paths, display)
    e2e.install_updater(wine, {}, paths)
    folder = e2e.lay_out_host(wine, {"bank": None}, paths, scenario["locale"])
    bank = (paths.source / "res" / "zorv.3bs").read_bytes()
    shutil.copy(paths.trivial_exe, wine.unix_path(E2E + "trivial.exe"))
    shutil.copy(paths.trivial_dlls_exe, wine.unix_path(E2E + "trivial-dlls.exe"))
    wine.unix_path(BANK_COPY_SOURCE).write_bytes(bank)
    wine.unix_path(BANK_COPY_TARGET).parent.mkdir()
    return Session(wine, folder, bank)


def measure(session, runs):
    times = {name: [] for name in COMMANDS}
    peaks = {name: [] for name in COMMANDS}
    order = list(COMMANDS)
    for round_number in range(runs):
        random.Random(round_number).shuffle(order)
        for name in order:
            elapsed, peak = session.run(name)
            times[name].append(elapsed)
            peaks[name].append(peak)
        e2e.log(f"round {round_number + 1}/{runs}: " +
                ", ".join(f"{n} {times[n][-1] * 1000:.0f} ms" for n in COMMANDS))
    return times, peaks


def traced_update(session):
    """One update with the traced calls time-stamped by Wine: the updater process's events as
    [(milliseconds, "Call" | "Ret" | "Entry" | "First", name)], and the whole run's length as
    the launching side saw it."""
    wine = session.wine
    wine.reg_add("HKCU\\Software\\Wine\\Debug", "RelayInclude", "REG_SZ",
                 ";".join(TRACED_CALLS))
    session.reset()
    env = dict(wine.env, WINEDEBUG="+timestamp,+pid,+relay")
    launched = time.monotonic()
    result = subprocess.run(["wine", *COMMANDS["update"]], env=env, capture_output=True,
                            text=True, errors="replace", timeout=120)
    total_ms = (time.monotonic() - launched) * 1000
    wine.run("reg", "delete", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/f")
    events = []
    updater_pid = None
    for line in result.stderr.splitlines():
        parts = line.split(":", 3)  # time stamp, process, thread, message
        if len(parts) < 4:
            continue
        updater_pid = updater_pid or parts[1]
        if parts[1] != updater_pid:
            continue  # the command interpreter's own lines
        stamp, message = float(parts[0]) * 1000, parts[3]
        if not events:
            events.append((stamp, "First", ""))
        if message.startswith("Starting thread proc"):
            events.append((stamp, "Entry", ""))
        elif message.startswith(("Call ", "Ret ")):
            kind, name = message.split(None, 2)[:2]
            events.append((stamp, kind, name.split("(", 1)[0].split(".")[-1]))
    return events, total_ms


def phases(events, total_ms):
    """Milliseconds of each phase of one update, from its time-stamped events."""
    def at(kind, name="", after=0.0):
        return next(t for t, k, n in events if k == kind and n == name and t >= after)

    first, entry = at("First"), at("Entry")
    spawn = at("Call", "CreateProcessA", entry)
    ver_done = at("Ret", "WaitForSingleObject", spawn)
    verify = at("Call", "GetModuleFileNameA", ver_done)
    install = at("Call", "FindResourceA", verify)
    flush, flushed = at("Call", "FlushFileBuffers", install), at("Ret", "FlushFileBuffers", install)
    installed = at("Ret", "MoveFileExA", install)
    recorded = at("Ret", "RegSetValueExA", installed)
    leave = at("Call", "ExitProcess", recorded)
    return {
        "outside the process's own trace: exec of the loader, and the end after ExitProcess":
            total_ms - (leave - first),
        "Wine's start of the process: loader, DLLs, up to the updater's entry": entry - first,
        "start-up up to the version check": spawn - entry,
        "cmd /c ver, started and waited for": ver_done - spawn,
        "discovery, language files, rights, host probe": verify - ver_done,
        "self-check (SHA-256 over the own executable)": install - verify,
        "InstallFile: resource copy and write": flush - install,
        "InstallFile: FlushFileBuffers": flushed - flush,
        "InstallFile: rename over the old bank": installed - flushed,
        "FolderSize and EstimatedSize": recorded - installed,
        "up to ExitProcess": leave - recorded,
    }


def summarize(times, peaks, breakdown):
    median = {name: statistics.median(values) * 1000 for name, values in times.items()}
    floor = sum(median[name] for name in FLOOR)
    summary = {
        "runs": len(times["update"]),
        "median_ms": median,
        "min_ms": {name: min(values) * 1000 for name, values in times.items()},
        "floor_ms": floor,
        "ratio": median["update"] / floor,
        "ratio_to_floor_with_dlls": median["update"] /
        (floor - median["trivial"] + median["trivial_dlls"]),
        "peak_rss_kib": {name: max(peaks[name]) for name in ("update", "trivial", "trivial_dlls")},
        "breakdown_ms": breakdown,
    }
    return summary


def report(summary, bank_size):
    median, least = summary["median_ms"], summary["min_ms"]
    print(f"Wine, {summary['runs']} rounds in one warm session (median, min):")
    for name, command in COMMANDS.items():
        print(f"  {name:12} {median[name]:7.0f} ms {least[name]:7.0f} ms   {' '.join(command)}")
    print(f"  floor        {summary['floor_ms']:7.0f} ms            trivial + ver + copy")
    print(f"  ratio update / floor: {summary['ratio']:.2f} (aim: under 1.5)")
    print(f"Where the time of one update goes (median of {TRACED_RUNS} traced updates):")
    for phase, ms in summary["breakdown_ms"].items():
        print(f"  {ms:7.0f} ms  {phase}")
    print(f"  ratio with trivial-dlls.exe in the floor instead: "
          f"{summary['ratio_to_floor_with_dlls']:.2f}")
    peak = summary["peak_rss_kib"]
    aim = (2 * bank_size) // 1024 + 4096
    print(f"Peak resident set (VmHWM, KiB): updater {peak['update']}, trivial.exe "
          f"{peak['trivial']}, trivial-dlls.exe {peak['trivial_dlls']}")
    print(f"  the updater's own share: {peak['update'] - peak['trivial']} KiB above trivial.exe, "
          f"{peak['update'] - peak['trivial_dlls']} KiB above trivial-dlls.exe "
          f"(aim: under {aim} KiB, two banks plus 4 MiB)")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--windows-build", type=Path, required=True)
    parser.add_argument("--windows-x64-build", type=Path)
    parser.add_argument("--work", type=Path, required=True)
    parser.add_argument("--trivial-exe", type=Path, required=True)
    parser.add_argument("--trivial-dlls-exe", type=Path, required=True)
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--json", type=Path)
    paths = parser.parse_args()
    paths.source = SOURCE
    paths.work = paths.work.resolve()
    if not e2e.choose_runtime(paths):
        return 1
    with e2e.Xvfb() as x:
        if not e2e.template_ready(paths.work, paths.runtime.arch):
            e2e.make_template_prefix(paths.work, x.display, paths.runtime.arch)
        session = prepare_session(paths, x.display)
        wine = session.wine
        wine.server("-w")
        subprocess.run(["wineserver", "-p"], env=wine.env, timeout=60, check=True)
        try:
            session.check_update()
            for name in COMMANDS:  # warm the page cache and Wine's own files
                session.run(name)
            times, peaks = measure(session, paths.runs)
            traced = [phases(*traced_update(session)) for _ in range(TRACED_RUNS)]
            breakdown = {phase: statistics.median(run[phase] for run in traced)
                         for phase in traced[0]}
        finally:
            wine.server("-k")
    summary = summarize(times, peaks, breakdown)
    report(summary, len(session.bank))
    if paths.json:
        paths.json.write_text(json.dumps(summary, indent=2) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
