#!/usr/bin/env python3
"""The quiet update under Wine against its floor and an NSIS installer, timed exactly; peak memory.

  wine_bench.py --windows-build DIR [--windows-x64-build DIR] --work DIR --programs DIR
                [--runs N] [--also-updater NAME=EXE ...] [--json FILE]

--programs holds what scripts/bench.sh builds for the runtime that scripts/wine-runtime chooses:
  benchrunner.exe   starts each program, waits for its exit without a timeout and times it on the
                    performance counter (BenchRunner.cpp)
  floor.exe         the floor: "ver" on the Windows 10 path, its own file read once, the bank
                    written from its resource, one registry value (FloorWin.cpp)
  dropbank.exe      an NSIS installer that drops the same bank and sets one value (nsis/)
  trivial.exe, trivial-dlls.exe   programs that end at once, plain and importing user32,
                    shell32 and advapi32: timed beside the others, and the peak-memory baseline
--also-updater times another build of ZelmSoundUpdate.exe beside this one, in the same rounds.

The prefix, its registry and the host folder come from the e2e driver (tests/e2e/run_e2e.py):
the host installed, the stand-in zelm.exe, the language files, and an older bank (the carried one
with version byte 4) put back before every run. Wine runs as an administrator, so the quiet update
("modest") shows no box. The rounds run twice: on the Windows 10 path (winecfg -v win10, where the
updater runs "ver") and on the Windows 7 path (win7, no "ver"; the floor runs none either). Each
round runs every contender once, interleaved by benchrunner.exe inside one Wine process, under one
wineserver kept for the whole session so that Wine's boot is paid once, before timing.
Peak memory: VmHWM of the Windows process (the wine-preloader that runs the exe), sampled from
/proc until it ends, for the updater and both trivial programs. A 32-bit program in a WoW64 prefix
runs in a child of the 64-bit loader that was started, so the process sampled is the deepest one
of the started tree that names the program. A few more updates run with Wine's relay trace of a
few calls, time-stamped, to show where the time goes; there too the updater's process is found by
its own calls, not taken to be the first that writes.
"""
import argparse
import json
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
HOST_BANK = scenarios.BANK_PATH
OLDER_BANK = E2E + "older.3bs"
UPDATER = E2E + "ZelmSoundUpdate.exe"  # where e2e.install_updater puts it
PATHS = {  # name: (winecfg -v, whether the updater runs "ver" there)
    "Windows 10": ("win10", True),
    "Windows 7": ("win7", False),
}
# path: {the ratio of the updater to this contender: at most this, judged on the medians}
AIMS = {"Windows 10": {"floor": 1.10}, "Windows 7": {"floor": 1.2, "nsis": 0.5}}
# Before every timed run, untimed: the last process's end and the bank's copy are done by then.
SETTLE_MS = 200
MEMORY_RUNS = 5
MEMORY_PROGRAMS = {"update": [UPDATER, "modest"], "trivial": [E2E + "trivial.exe"],
                   "trivial_dlls": [E2E + "trivial-dlls.exe"]}
TRACED_RUNS = 5  # the breakdown is the median of each phase over these traced updates
# Calls whose time stamps split one update into its phases (see phases()).
TRACED_CALLS = ("kernel32.GetModuleFileNameW", "kernel32.CreateProcessA",
                "kernel32.WaitForSingleObject", "kernel32.FindResourceA",
                "kernel32.FlushFileBuffers", "kernel32.MoveFileExW", "advapi32.RegSetValueExA",
                "kernel32.ExitProcess")


def contenders(ver, variants):
    """{name: Windows command line} for one path, the updater first."""
    commands = {"update": f'"{UPDATER}" modest'}
    for name in variants:
        commands[name] = f'"{E2E}{name}\\ZelmSoundUpdate.exe" modest'
    commands["floor"] = f'"{E2E}floor.exe" {"--ver " if ver else ""}"{HOST_BANK}"'
    # NSIS takes the folder after /D= as the rest of the line, unquoted.
    commands["nsis"] = f'"{E2E}dropbank.exe" /S /D={scenarios.HOST_FOLDER.rstrip(chr(92))}'
    # Their difference is what loading user32, shell32 and advapi32 costs a process.
    commands["trivial"] = f'"{E2E}trivial.exe"'
    commands["trivial_dlls"] = f'"{E2E}trivial-dlls.exe"'
    return commands


def read_vm_hwm_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def process_tree(root):
    """{pid: depth} of `root` and every process below it."""
    parents = {}
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                # The parent is the second field after the parenthesised command name.
                parents[int(entry.name)] = int((entry / "stat").read_text().rsplit(")", 1)[1]
                                               .split()[1])
            except (OSError, IndexError, ValueError):
                pass
    depths, pending = {root: 0}, [root]
    while pending:
        parent = pending.pop()
        for pid, ppid in parents.items():
            if ppid == parent and pid not in depths:
                depths[pid] = depths[parent] + 1
                pending.append(pid)
    return depths


def names_program(pid, program):
    try:
        return program in Path(f"/proc/{pid}/cmdline").read_bytes().decode(errors="replace").lower()
    except OSError:
        return False


def peak_rss_kib(wine, command):
    """The Windows process's peak resident set. `wine` execs the preloader, which runs a program
    of its own bitness in the same process; a 32-bit program under the 64-bit loader runs in a
    child, which the parent waits for. So the process measured is the deepest of the tree that
    names the program. VmHWM only grows, so sampling it until the end misses at most the last few
    milliseconds; this loop times nothing."""
    program = command[0].rsplit("\\", 1)[-1].lower()
    process = subprocess.Popen([wine.loader, *command], env=wine.env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    peaks, depths = {}, {}
    while process.poll() is None:
        for pid, depth in process_tree(process.pid).items():
            if pid == process.pid or names_program(pid, program):
                depths[pid] = depth
                peaks[pid] = max(peaks.get(pid, 0), read_vm_hwm_kib(pid) or 0)
        time.sleep(0.002)
    if process.returncode != 0:
        raise e2e.Failure(f"wine {' '.join(command)} exited {process.returncode}")
    return peaks[max(depths, key=depths.get)] if peaks else 0


class Session:
    def __init__(self, wine, folder, bank):
        self.wine, self.folder, self.bank = wine, folder, bank

    def reset(self):
        shutil.copy(self.wine.unix_path(OLDER_BANK), self.folder / "zorv.3bs")

    def check(self, path, name, command_line):
        """One run of the contender delivers the carried bank and sets EstimatedSize (the trivial
        programs only end)."""
        self.wine.run("reg", "delete", scenarios.UNINSTALL_KEY, "/v", "EstimatedSize", "/f",
                      check=False)
        self.time_rounds(path, {name: command_line}, 1)
        if name.startswith("trivial"):
            return
        if (self.folder / "zorv.3bs").read_bytes() != self.bank:
            raise e2e.Failure(f"{name} did not deliver the carried bank")
        if self.wine.reg_query(scenarios.UNINSTALL_KEY, "EstimatedSize") is None:
            raise e2e.Failure(f"{name} did not write EstimatedSize")

    def time_rounds(self, path, commands, rounds):
        """{name: [ms of round 0, 1, ...]} from benchrunner.exe."""
        plan = [f"rounds {rounds}", f"reset {OLDER_BANK} {HOST_BANK}", f"settle {SETTLE_MS}"]
        plan += [f"run {name} {line}" for name, line in commands.items()]
        plan_file, results = E2E + "plan.txt", E2E + "results.jsonl"
        self.wine.unix_path(plan_file).write_text("\r\n".join(plan) + "\r\n")
        started = time.monotonic()
        self.wine.run(E2E + "benchrunner.exe", plan_file, results,
                      timeout=60 + rounds * len(commands) * 10)
        times = {name: [None] * rounds for name in commands}
        for record in e2e.read_json_lines(self.wine.unix_path(results)):
            if record["exit_code"] != 0:
                raise e2e.Failure(f"{path} path, round {record['round']}: {record['name']} "
                                  f"exited {record['exit_code']}")
            times[record["name"]][record["round"]] = record["ms"]
        if any(None in values for values in times.values()):
            raise e2e.Failure(f"{path} path: benchrunner.exe left runs out")
        e2e.log(f"{path} path: {rounds} rounds of {', '.join(commands)} in "
                f"{time.monotonic() - started:.0f} s")
        return times


def prepare_session(paths, display, variants):
    scenario = {"name": "bench_quiet_update", "windows": "win10", "locale": "en",
                "registry": scenarios.INSTALLED_HOST_REGISTRY}
    _, wine = e2e.prepare(scenario, paths, display)
    e2e.install_updater(wine, {}, paths)
    folder = e2e.lay_out_host(wine, {"bank": None}, paths, scenario["locale"])
    bank = (paths.source / "res" / "zorv.3bs").read_bytes()
    wine.unix_path(OLDER_BANK).write_bytes(bank[:5] + bytes([bank[5] - 1]) + bank[6:])
    for program in ("benchrunner.exe", "floor.exe", "dropbank.exe", "trivial.exe",
                    "trivial-dlls.exe"):
        shutil.copy(paths.programs / program, wine.unix_path(E2E + program))
    for name, exe in variants.items():
        target = wine.unix_path(f"{E2E}{name}\\ZelmSoundUpdate.exe")
        target.parent.mkdir()
        shutil.copy(exe, target)
    return Session(wine, folder, bank)


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
    result = subprocess.run([wine.loader, UPDATER, "modest"], env=env, capture_output=True,
                            text=True, errors="replace", timeout=120)
    total_ms = (time.monotonic() - launched) * 1000
    wine.run("reg", "delete", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/f")
    lines = [parts for parts in (line.split(":", 3) for line in result.stderr.splitlines())
             if len(parts) == 4]  # time stamp, process, thread, message
    # The process that renames the bank is the updater's: a 32-bit updater under the 64-bit
    # loader runs in a child of the first process that writes, and "ver" runs in another one.
    updater_pid = next((parts[1] for parts in lines if "MoveFileExW" in parts[3]),
                       lines[0][1] if lines else None)
    events = []
    for parts in lines:
        if parts[1] != updater_pid:
            continue
        stamp, message = float(parts[0]) * 1000, parts[3]
        if not events:
            events.append((stamp, "First", ""))
        if message.startswith("Starting thread proc"):
            events.append((stamp, "Entry", ""))
        elif message.startswith(("Call ", "Ret ")):
            kind, name = message.split(None, 2)[:2]
            events.append((stamp, kind, name.split("(", 1)[0].split(".")[-1]))
    return events, total_ms


class MissingEvent(Exception):
    pass


def phases(events, total_ms):
    """Milliseconds of each phase of one update, from its time-stamped events; MissingEvent names
    the first event that the trace lacks."""
    def at(kind, name="", after=0.0):
        found = next((t for t, k, n in events if k == kind and n == name and t >= after), None)
        if found is None:
            raise MissingEvent(f"{kind} {name}".strip())
        return found

    first, entry = at("First"), at("Entry")
    spawn = at("Call", "CreateProcessA", entry)
    ver_done = at("Ret", "WaitForSingleObject", spawn)
    verify = at("Call", "GetModuleFileNameW", ver_done)
    install = at("Call", "FindResourceA", verify)
    flush, flushed = at("Call", "FlushFileBuffers", install), at("Ret", "FlushFileBuffers", install)
    installed = at("Ret", "MoveFileExW", install)
    recorded = at("Ret", "RegSetValueExA", installed)
    leave = at("Call", "ExitProcess", recorded)
    return {
        "outside the process's own trace: exec of the loader, and the end after ExitProcess":
            total_ms - (leave - first),
        "Wine's start of the process: loader, imported DLLs, up to the updater's entry":
            entry - first,
        "start-up up to the version check": spawn - entry,
        "cmd /c ver, started and waited for": ver_done - spawn,
        "the \"ver\" text, discovery, language files, rights, host probe":
            verify - ver_done,
        "self-check (SHA-256 over the own executable)": install - verify,
        "InstallFile: resource copy and write": flush - install,
        "InstallFile: FlushFileBuffers": flushed - flush,
        "InstallFile: rename over the old bank": installed - flushed,
        "FolderSize and EstimatedSize": recorded - installed,
        "up to ExitProcess": leave - recorded,
    }


def breakdown(session):
    """The median of each phase over the traced updates, or why the trace could not give it."""
    try:
        traced = [phases(*traced_update(session)) for _ in range(TRACED_RUNS)]
    except MissingEvent as missing:
        return {"unavailable": f"the updater's relay trace under this Wine shows no \"{missing}\""}
    return {phase: statistics.median(run[phase] for run in traced) for phase in traced[0]}


def summarize_path(times, variants):
    """Medians, minima, and each updater's ratios to the floor and to NSIS: of the medians, and
    the median of the ratios of the runs of one round."""
    summary = {"rounds": len(times["update"]),
               "median_ms": {name: statistics.median(values) for name, values in times.items()},
               "min_ms": {name: min(values) for name, values in times.items()},
               "times_ms": times, "ratios": {}}
    for updater in ("update", *variants):
        for base in ("floor", "nsis"):
            per_round = [u / b for u, b in zip(times[updater], times[base])]
            summary["ratios"][f"{updater}/{base}"] = {
                "of_medians": summary["median_ms"][updater] / summary["median_ms"][base],
                "median_per_round": statistics.median(per_round),
                "per_round": per_round,
            }
    return summary


def report(summary, bank_size):
    for path, result in summary["paths"].items():
        median, least = result["median_ms"], result["min_ms"]
        print(f"{path} path, {result['rounds']} interleaved rounds (median, min):")
        for name, line in result["commands"].items():
            print(f"  {name:14} {median[name]:7.1f} ms {least[name]:7.1f} ms   {line}")
        for pair, ratio in result["ratios"].items():
            updater, base = pair.split("/")
            aim = AIMS[path].get(base) if updater == "update" else None
            note = f"  (aim: at most {aim})" if aim is not None else ""
            per_round = ratio["per_round"]
            # One round (the test's run) has no quartiles.
            low, _, high = (statistics.quantiles(per_round, n=4) if len(per_round) > 1
                            else per_round * 3)
            print(f"  {pair:20} {ratio['of_medians']:.3f} of the medians; per round: median "
                  f"{ratio['median_per_round']:.3f}, quartiles {low:.2f} to {high:.2f}, range "
                  f"{min(per_round):.2f} to {max(per_round):.2f}{note}")
        print(f"  loading user32, shell32 and advapi32 (trivial-dlls.exe over trivial.exe): "
              f"{median['trivial_dlls'] - median['trivial']:.1f} ms of the medians")
    print(f"Where the time of one update goes, Windows 10 path (median of {TRACED_RUNS} traced "
          "updates):")
    for phase, ms in summary["breakdown_ms"].items():
        print(f"  {ms}" if phase == "unavailable" else f"  {ms:7.0f} ms  {phase}")
    peak = summary["peak_rss_kib"]
    aim = (2 * bank_size) // 1024 + 4096
    print(f"Peak resident set (VmHWM, KiB, most of {MEMORY_RUNS} runs): updater {peak['update']}, "
          f"trivial.exe {peak['trivial']}, trivial-dlls.exe {peak['trivial_dlls']}")
    print(f"  the updater's own share: {peak['update'] - peak['trivial']} KiB above trivial.exe, "
          f"{peak['update'] - peak['trivial_dlls']} KiB above trivial-dlls.exe "
          f"(aim: under {aim} KiB, two banks plus 4 MiB)")


def variant_argument(text):
    name, _, exe = text.partition("=")
    taken = contenders(False, [])
    if not name.isidentifier() or name in taken or not Path(exe).is_file():
        raise argparse.ArgumentTypeError(f"{text!r} is not NAME=EXE with an existing EXE")
    return name, Path(exe)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--windows-build", type=Path, required=True)
    parser.add_argument("--windows-x64-build", type=Path)
    parser.add_argument("--work", type=Path, required=True)
    parser.add_argument("--programs", type=Path, required=True)
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--also-updater", type=variant_argument, action="append", default=[])
    parser.add_argument("--json", type=Path)
    paths = parser.parse_args()
    paths.source = SOURCE
    paths.work = paths.work.resolve()
    variants = dict(paths.also_updater)
    if not e2e.choose_runtime(paths, quick=True):
        return 1
    if paths.runtime.in_guest:
        print("The benchmarks time Wine on this machine; under the guest's emulation the figures "
              "would be the emulator's. Use ZELM_WINE_RUNTIME=native or vehicle.")
        return 1
    summary = {"runtime": paths.runtime.describe(), "paths": {}}
    with e2e.Xvfb() as x:
        # The updater as most users run it: on 64-bit Windows (the product under WoW64).
        if not e2e.template_ready(paths.work, "win64"):
            e2e.make_template_prefix(paths.work, x.display, "win64")
        # The e2e driver's prepare has made this prefix's wineserver persistent already, so
        # that Wine's boot is paid once, before timing: waiting for it to end would never return.
        session = prepare_session(paths, x.display, variants)
        wine = session.wine
        try:
            for path, (version, ver) in PATHS.items():
                wine.run("winecfg", "-v", version)
                commands = contenders(ver, variants)
                for name, line in commands.items():  # also warms the page cache and Wine's files
                    session.check(path, name, line)
                result = summarize_path(session.time_rounds(path, commands, paths.runs),
                                        variants)
                summary["paths"][path] = dict(result, commands=commands)
                if version == "win10":
                    summary["breakdown_ms"] = breakdown(session)
            peaks = {}
            for name, command in MEMORY_PROGRAMS.items():
                peaks[name] = 0
                for _ in range(MEMORY_RUNS):
                    session.reset()
                    peaks[name] = max(peaks[name], peak_rss_kib(wine, command))
            summary["peak_rss_kib"] = peaks
        finally:
            wine.server("-k")
    print(summary["runtime"])
    report(summary, len(session.bank))
    if paths.json:
        paths.json.write_text(json.dumps(summary, indent=2) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
