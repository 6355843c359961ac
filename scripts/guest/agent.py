#!/usr/bin/env python3
"""Runs inside the test guest (scripts/guest/init starts it), on the host's checkout at SHARE.

  agent.py prepare SHARE   boots the two template prefixes (64-bit WoW64 and 32-bit) into the
                           guest's own disk; writes build/guest/prepared on success
  agent.py serve SHARE     runs end-to-end scenarios on request until asked to stop

The queue is SHARE/build/guest/queue: the host writes NAME.request for the scenario NAME, holding
the build folder to run, relative to SHARE; the agent runs it with tests/e2e/run_e2e.py on the
guest's Wine, with NAME.log as its output, copies
what the scenario left (its logs and screenshots, not its prefix) to NAME.result/ and writes its
exit code to NAME.done. One more scenario runs at once than the guest has processors. A file named
"stop" ends the service. "ready" says that requests are taken.
"""
import os
import shutil
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

WORK = Path("/work/e2e")


# Wine under the guest's emulation starts a process 5 to 7 times slower than natively, and the
# driver's waits have wide margins natively: four times each of them is ample, and a program that
# hangs is reported well before CTest's limit of 900 s ends the test without a word.
ENVIRONMENT = dict(os.environ, ZELM_E2E_SLOWDOWN="4")


def driver(share, build, *args):
    return [sys.executable, str(share / "tests" / "e2e" / "run_e2e.py"), "--windows-build",
            str(share / build), "--work", str(WORK), "--source", str(share), *args]


def prepare(share):
    state = share / "build" / "guest"
    with open(state / "prepare.log", "wb") as out:
        code = subprocess.run(driver(share, "build/windows", "--make-template"),
                              env=ENVIRONMENT, stdout=out, stderr=subprocess.STDOUT).returncode
    if code == 0:
        (state / "prepared").write_text("templates booted\n")
    return code


def run_request(share, queue, name, build):
    """Runs one scenario; NAME.done is written whatever happens, so the host never waits in vain."""
    code = 1
    try:
        result = queue / f"{name}.result"
        shutil.rmtree(result, ignore_errors=True)
        with open(queue / f"{name}.log", "wb") as out:
            code = subprocess.run(driver(share, build, "--scenario", name), env=ENVIRONMENT,
                                  stdout=out, stderr=subprocess.STDOUT).returncode
        scenario = WORK / name
        if scenario.exists():
            shutil.copytree(scenario, result, ignore=shutil.ignore_patterns("prefix*"))
            if (scenario / "prefix").is_mount():  # left mounted by a driver that failed
                subprocess.run(["umount", str(scenario / "prefix")])
            shutil.rmtree(scenario)
    except Exception as error:  # reported in the log that the host prints
        with open(queue / f"{name}.log", "a") as out:
            out.write(f"agent: {error!r}\n")
        code = code or 1
    finally:
        # Whole or not there: the host may look at any moment.
        done = queue / f"{name}.done.new"
        done.write_text(f"{code}\n")
        done.rename(queue / f"{name}.done")


def serve(share):
    queue = share / "build" / "guest" / "queue"
    queue.mkdir(parents=True, exist_ok=True)
    # A scenario spends part of its time waiting (for a box, a host, a process's end): one more
    # than there are processors keeps them all busy.
    workers = (os.cpu_count() or 1) + 1
    with ThreadPoolExecutor(max_workers=workers) as pool:
        (queue / "ready").write_text(f"{os.cpu_count()} processors, {workers} scenarios at once\n")
        # The folder is listed, never the name looked up: the guest's 9p client keeps a name
        # that was missing as missing, and would not see "stop" appear.
        while "stop" not in os.listdir(queue):
            for request in sorted(queue.glob("*.request")):
                build = request.read_text().strip()
                request.unlink()
                pool.submit(run_request, share, queue, request.stem, build)
            time.sleep(0.2)
    return 0


def main():
    mode, share = sys.argv[1], Path(sys.argv[2])
    return prepare(share) if mode == "prepare" else serve(share)


if __name__ == "__main__":
    sys.exit(main())
