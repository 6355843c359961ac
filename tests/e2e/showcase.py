#!/usr/bin/env python3
"""Shows the real updater at work under Wine, with the e2e driver's scenarios and checks.

  showcase.py demo --windows-build DIR [--windows-x64-build DIR] --work DIR
      runs the scenario "demo" (an interactive update answered yes, then a quiet "modest runapp"
      update of the running host) and prints what happened; exit code 1 when a check failed
  showcase.py gallery --windows-build DIR [--windows-x64-build DIR] --work DIR --docs DIR
      runs every scenario with a "gallery" entry and writes DIR/gallery/<box>-<locale>.png,
      cropped to the box, and DIR/gallery.md
"""
import subprocess
import sys
from pathlib import Path

import run_e2e
from scenarios import BOXES, GALLERY, HOST_FOLDER, SCENARIOS

LANGUAGES = {"en": "English", "ru": "Russian"}


# ---- Demonstration -------------------------------------------------------------------------------

def describe_box(number, box):
    labels = " ".join(f"[{b['label']}]" for b in box["buttons"])
    print(f"   box {number}: \"{box['caption']}\"  {labels}  answered {box['answer']}")
    for line in box["text"].split("\r\n"):
        print(f"          {line}")


def describe_run(title, run):
    print(f"\n{title}: ZelmSoundUpdate.exe {' '.join(run['args'])}".rstrip())
    for number, box in enumerate(run["boxes"], 1):
        describe_box(number, box)
    if not run["boxes"]:
        print("   no boxes")
    print(f"   exit code:      {run['exit_code']}")
    if "bank" in run:
        written = "written" if run["bank_rewritten"] else "not written"
        print(f"   zorv.3bs:       {written}, {run['bank']}")
        print(f"   EstimatedSize:  {run['estimated_size']} KiB "
              f"(the host folder holds {run['folder_kib']} KiB)")
        print(f"   host quit:      {run['host_quits']} time(s)")
        print(f"   host started:   {run['host_starts']} time(s)")
    for shot in run["screenshots"]:
        print(f"   screenshot:     {shot}")


def demo(paths):
    if not run_e2e.choose_runtime(paths, quick=True):
        return 1
    scenario = next(s for s in SCENARIOS if s["name"] == "demo")
    bank = scenario["host"]["bank"]
    print(f"Demonstration: {paths.runtime.describe()}")
    print(f"ZelmSoundUpdate.exe under Wine ({scenario['windows']}, "
          f"{LANGUAGES[scenario['locale']]} user locale); stand-in host in {HOST_FOLDER} "
          f"with a version {bank['version']} sound bank")
    results = run_e2e.run_scenarios(["demo"], paths)
    if results is None:
        return 1
    result = results[0]
    titles = ["1. Interactive update, the helper answering Yes",
              "2. Quiet update of the running host"]
    for title, run in zip(titles, result["runs"]):
        describe_run(title, run)
    print(f"\nWine prefix (thrown away at the next run): {result['directory'] / 'prefix'}")
    if result["faults"]:
        print("\nFAILED:")
        for fault in result["faults"]:
            print(f"   {fault}")
        return 1
    print("\nEvery check passed: the boxes and their texts, the bank byte for byte, "
          "EstimatedSize, the host closed and started.")
    return 0


# ---- Gallery -------------------------------------------------------------------------------------

def crop_box(screenshot, target):
    """The box cut out of the desktop (its title bar included), in a small palette."""
    target.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["convert", str(screenshot), "-trim", "+repage", "-strip", "-colors", "64",
                    f"PNG8:{target}"], check=True, timeout=60)


def gallery_pictures():
    """(gallery name, locale, scenario name, box number) of every picture."""
    return [(name, s["locale"], s["name"], number)
            for s in SCENARIOS for name, number in s.get("gallery", {}).items()]


def write_gallery_page(docs, pictures):
    by_key = {(name, locale): scenario for name, locale, scenario, _ in pictures}
    lines = ["# Gallery", "",
             "Every message box that ZelmSoundUpdate.exe can show, in English and Russian, as "
             "Wine draws it for the shipped 32-bit exe on 64-bit Windows (a WoW64 prefix), with "
             "Wine's own fonts. `scripts/gallery.sh` makes these pictures from the end-to-end "
             "scenarios named under each one, which also check the caption, the text and the "
             "button labels.", ""]
    for name, heading in GALLERY.items():
        lines += [f"## {heading}", "", "| English | Russian |", "|---|---|"]
        cells = [f"![{BOXES[locale][name]['caption']}](gallery/{name}-{locale}.png)"
                 for locale in LANGUAGES]
        lines += ["| " + " | ".join(cells) + " |",
                  "| " + " | ".join(f"`e2e.{by_key[(name, locale)]}`" for locale in LANGUAGES)
                  + " |", ""]
    lines += ["Not shown: the \"noright\" box. Wine gives every program administrator rights, "
              "so the updater never reaches it there; the scenario tests on the simulated "
              "Windows cover it.", ""]
    (docs / "gallery.md").write_text("\n".join(lines), encoding="utf-8")


def gallery(paths, docs):
    pictures = gallery_pictures()
    shown = [(name, locale) for name, locale, _, _ in pictures]
    wanted = [(name, locale) for name in GALLERY for locale in LANGUAGES]
    if sorted(shown) != sorted(wanted):
        print(f"the scenarios' gallery entries {sorted(shown)} are not one of each {wanted}")
        return 1
    names = list(dict.fromkeys(scenario for _, _, scenario, _ in pictures))
    results = run_e2e.run_scenarios(names, paths)
    if results is None:
        return 1
    by_name = {r["name"]: r for r in results}
    failed = [r["name"] for r in results if r["faults"]]
    if failed:
        print(f"failed scenarios, no gallery written: {failed}")
        return 1
    for name, locale, scenario, number in pictures:
        screenshot = by_name[scenario]["runs"][0]["screenshots"][number - 1]
        crop_box(screenshot, docs / "gallery" / f"{name}-{locale}.png")
    write_gallery_page(docs, pictures)
    print(f"{len(pictures)} pictures in {docs / 'gallery'}, page {docs / 'gallery.md'}")
    return 0


def main():
    parser = run_e2e.argument_parser(__doc__)
    parser.add_argument("mode", choices=["demo", "gallery"])
    parser.add_argument("--docs", type=Path)
    paths = parser.parse_args()
    if not paths.windows_build or not paths.work:
        parser.error("--windows-build and --work are required")
    if paths.mode == "demo":
        return demo(paths)
    if not paths.docs:
        parser.error("gallery needs --docs")
    return gallery(paths, paths.docs.resolve())


if __name__ == "__main__":
    sys.exit(main())
