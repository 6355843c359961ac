"""The table of end-to-end scenarios that run_e2e.py runs under Wine; see `Scenario fields`."""

# ---- Scenario fields -----------------------------------------------------------------------------
#   name       CTest name is e2e.<name>
#   program    "updater" (ZelmSoundUpdate.exe), "boxdemo" or "host_check" (the stand-in host)
#   windows    "winxp" | "winxp64" | "win7" | "win10"  (wine winecfg -v)
#   needs_32bit  why only 32-bit Windows can show it: the scenario runs in a 32-bit prefix
#              instead of the 64-bit (WoW64) one, and is skipped, with that reason, where the
#              x86_64 vehicle runs
#   locale     "en" | "ru"                           (LC_ALL of every Wine process)
#   registry   [(key, value, type, data)]: `wine reg add`; "{host}" in key or data is the host
#              folder with its final backslash
#   links      {Windows path: Windows folder}: a link (a Unix symbolic link) made at that path
#              to that folder before the run
#   temp_link  True: Temp (set in "registry" to C:\\ztemp) is a link that is re-pointed at
#              another folder as soon as a file appears in it (run_e2e.TempLinkAttack); the run
#              must leave nothing in Temp and delete nothing in the other folder
#   plant      {Windows path: helper}: a copy of a built helper program (e.g. "hostctl.exe")
#              put at that path before the run
#   host       None, or {"folder": Windows path ending in a backslash (default HOST_FOLDER),
#              "languages": [file names from tests/data/host/language] (default all),
#              "language_files": {file name: text written in the locale's code page},
#              "bank": None | "carried" | "folder" | {"version": N, "size": bytes},
#              "exe": True, "running": False, "release_delay_ms": 0, "never_quit": False,
#              "extra_files": {relative path: size in bytes},
#              "scanned_ms": hostctl.exe holds zorv.3bs as an on-access scanner does (reading,
#              sharing reading and writing, not deleting) for this long, from just before the
#              updater starts}
#   updater    {"folder": Windows folder the exe is copied to (default E2E_FOLDER),
#               "signed": True to sign it as scripts/release.sh does, timestamps included,
#               "alter_bank_byte": True to change one byte inside the embedded sound bank,
#               "held_for_deleting": True to have hostctl.exe hold the exe open for deleting}
#   args       command-line arguments of the program
#   answers    the box helper's script: "yes", "no", "ok" or "cancel" for each box in turn
#   expect     {"exit_code": N,
#               "boxes": [{"caption": .., "text": .., "buttons": [labels]}] (omit to not check),
#               "bank": "carried" | "unchanged" | "absent",
#               "bank_rewritten": True (the file was written anew, also with the same bytes),
#               "estimated_size": True (equals the folder's size in KiB) | False (absent),
#               "size_key": the key "estimated_size" looks in (default UNINSTALL_KEY),
#               "absent_keys": [registry keys that must not exist after the run],
#               "host_starts": number of starts of the host by the program under test,
#               "host_quits": number of times a running host quit during the run,
#               "ver_run": whether the program ran "ver" through the command interpreter,
#               "ver_line": a regular expression that every traced command line of "ver" matches
#               whole (without regard to case),
#               "never_started": [file names of programs that no process of the run started],
#               "started_by": "desktop shell" (Explorer, unelevated) | "updater" (ShellExecuteA),
#               "dlls": of the system DLLs that the updater imports or loads itself (run_e2e's
#               DECIDED_DLLS), those its process loads, file names in lower case; every DLL
#               it loads is printed,
#               "demo_results": [results boxdemo.exe got]}
#   runs       updater only: [{"args", "answers", "expect"}, ...] run one after another in the
#              same prefix, instead of the scenario's own args, answers and expect
#   gallery    {gallery name: box number}: the boxes that `showcase.py gallery` keeps, as
#              docs/gallery/<name>-<locale>.png
import re
from pathlib import Path

HOST_FOLDER = "C:\\Program Files\\Zelm\\"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelm"
WOW_UNINSTALL_KEY = ("HKLM\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\"
                     "Uninstall\\Zelm")
PROG_KEY = "HKCU\\Software\\Orvek\\Zelm"
SHELL_FOLDERS_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"

INSTALLED_HOST_REGISTRY = [
    (UNINSTALL_KEY, "UninstallString", "REG_SZ", "{host}unins000.exe"),
    (PROG_KEY, "TheLastRunFolder", "REG_SZ", "{host}"),
]
BANK_PATH = HOST_FOLDER + "zorv.3bs"
# How the updater runs "ver": the system folder's cmd.exe as the application, nothing searched.
VER_LINE = r"C:\\windows\\system32\\cmd\.exe cmd\.exe /d /c ver"

# The example language file of docs/integration.md, between its markers, for a scenario to prove.
GUIDE_EXAMPLE = re.search(
    r"<!-- example-language-file: begin -->\n```\n(.*?)```\n<!-- example-language-file: end -->",
    (Path(__file__).resolve().parents[2] / "docs" / "integration.md").read_text(encoding="utf-8"),
    re.S).group(1)

# Gallery names in the order the gallery shows them, with their headings.
GALLERY = {
    "installask": "Install question",
    "olderfilever": "Older-bank question",
    "installdone": "Closing question",
    "filecantopen": "The installed sound bank stays locked",
    "badinstaller": "Damaged updater",
    "verificationfail": "The updater cannot read its own file",
    "nohost": "No host installed",
    "nolangfile": "A required language file is missing",
    "langerrors": "A language file contains errors",
    "cantinstall": "The sound bank cannot be written",
    "noregistry": "No access to the registry",
    "apperror": "Application Error (an unexpected registry value type)",
}


def question(caption, text, language):
    return {"caption": caption, "text": text,
            "buttons": ["&Yes", "&No"] if language == "en" else ["&Да", "&Нет"]}


def error(caption, text, language):
    return {"caption": caption, "text": text, "buttons": ["OK" if language == "en" else "ОК"]}


RU_FIXED_CAPTION = "Обновление программы \"Зелм\""

BOXES = {
    "en": {
        "installask": question(
            "Zelm sound update",
            "Zelm Live Update is ready to install Bellwick Sounds 5.\r\n"
            "Zelm will be closed while the sounds are being updated.\r\nInstall now?", "en"),
        "installdone": question(
            "Zelm Live Update",
            "Zelm Live Update (Bellwick Sounds 5) has been installed successfully.\r\n\r\n"
            "Would you like to start Zelm now?", "en"),
        "olderfilever": question(
            "Zelm sound update",
            "The installed sound bank zorv.3bs is newer than the one in this update.\r\n"
            "Do you want to replace it with the older version anyway?", "en"),
        "filecantopen": error(
            "Zelm", f"Can't open the file\r\n{BANK_PATH}\r\nPlease close Zelm and try again.",
            "en"),
        "badinstaller": error(
            "Zelm", "This updater is damaged and can't be used.\r\n"
                    "Please download it again from our website.", "en"),
        "verificationfail": error(
            "Zelm", "The updater could not verify its own integrity.\r\n"
                    "Please download it again from our website.", "en"),
        "nohost": error("Zelm update",
                        "There's no Zelm installed.\r\nPlease install the program first.", "en"),
        "nolangfile": error("Zelm update", "Can't work with no english.lng file!\r\n"
                                           "Please reinstall the program.", "en"),
        "langerrors": error("Zelm update", "broken.lng file contains errors.\r\n"
                                           "Please reinstall the program.", "en"),
        "cantinstall": error("Zelm update", f"Can't install file {BANK_PATH}", "en"),
        "noregistry": error("Zelm update", "No access to system registry", "en"),
        "apperror": error("Application Error", "Invalid data type for 'TheLastRunFolder'", "en"),
    },
    "ru": {
        "installask": question(
            "Обновление звуков «Зелм»",
            "Онлайн-обновление «Зелм» готово установить набор звуков «Беллвик» 5.\r\n"
            "На время обновления звуков «Зелм» будет закрыт.\r\nУстановить сейчас?", "ru"),
        "installdone": question(
            "Онлайн-обновление «Зелм»",
            "Онлайн-обновление «Зелм» (набор звуков «Беллвик» 5) успешно установлено.\r\n\r\n"
            "Запустить «Зелм» сейчас?", "ru"),
        "olderfilever": question(
            "Обновление звуков «Зелм»",
            "Установленный набор звуков zorv.3bs новее, чем в этом обновлении.\r\n"
            "Всё равно заменить его более старой версией?", "ru"),
        "filecantopen": error(
            "Зелм", f"Не удаётся открыть файл\r\n{BANK_PATH}\r\n"
                    "Закройте «Зелм» и попробуйте ещё раз.", "ru"),
        "badinstaller": error(
            "Зелм", "Программа обновления повреждена и не может быть использована.\r\n"
                    "Пожалуйста, скачайте её заново с нашего сайта.", "ru"),
        "verificationfail": error(
            "Зелм", "Программа обновления не смогла проверить свою целостность.\r\n"
                    "Пожалуйста, скачайте её заново с нашего сайта.", "ru"),
        "nohost": error(RU_FIXED_CAPTION, "Нет установленной программы \"Зелм\"!\r\n"
                                          "Пожалуйста, сначала установите её.", "ru"),
        "nolangfile": error(RU_FIXED_CAPTION, "Работа без файла russian.lng невозможна!\r\n"
                                              "Пожалуйста, переустановите программу.", "ru"),
        "langerrors": error("Зелм", "Файл broken.lng содержит ошибки!\r\n"
                                    "Пожалуйста, переустановите программу.", "ru"),
        "cantinstall": error("Зелм", f"Не удается установить файл {BANK_PATH}", "ru"),
        "noregistry": error(RU_FIXED_CAPTION, "Нет доступа к системному реестру", "ru"),
        "apperror": error("Application Error", "Invalid data type for 'TheLastRunFolder'", "ru"),
    },
}
EN, RU = BOXES["en"], BOXES["ru"]

# A host that changed nothing: the bank as it was and no size recorded.
UNTOUCHED = {"bank": "unchanged", "estimated_size": False, "host_starts": 0}
INSTALLED = {"bank": "carried", "estimated_size": True}

# The updater's DLLs in a quiet update: the imports (kernel32, advapi32, msvcrt) and nothing else.
# The administrator check is advapi32's; an ASCII "ver" needs no OEM conversion, so no user32; no
# shell32, ole32 or oleaut32: nothing is started.
QUIET_UPDATE_DLLS = ["advapi32.dll", "kernel32.dll", "msvcrt.dll"]

# A language file whose "langver" is no whole number; the rest is the locale's own file.
BROKEN_LANGUAGE = {
    "en": "[progname]\nZelm\n\n[langcode]\n1033\n\n[langver]\n5 beta\n",
    "ru": "[progname]\nЗелм\n\n[langcode]\n1049\n\n[langver]\n5 beta\n",
}


def both_locales(name, make):
    """The English scenario `name` and the Russian one `name`_russian, from make(locale)."""
    return [dict(make("en"), name=name), dict(make("ru"), name=f"{name}_russian")]


def installed_host_failing(locale, box, host=None, registry=None, windows="win10", **fields):
    """A scenario in which the updater shows one error box and changes nothing."""
    return dict({
        "program": "updater", "windows": windows, "locale": locale,
        "registry": INSTALLED_HOST_REGISTRY if registry is None else registry,
        "host": host if host is not None else {"bank": {"version": 4, "size": 100}},
        "answers": ["ok"],
        "expect": dict(UNTOUCHED, exit_code=0, boxes=[BOXES[locale][box]]),
        "gallery": {box: 1},
    }, **fields)


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
        "expect": {"exit_code": 0, "boxes": [EN["nohost"]]},
        "gallery": {"nohost": 1},
    },
    {
        "name": "no_host_russian",
        "program": "updater",
        "windows": "win7",
        "locale": "ru",
        "registry": [],
        "host": None,
        "answers": ["ok"],
        "expect": {"exit_code": 0, "boxes": [RU["nohost"]]},
        "gallery": {"nohost": 1},
    },
    {
        "name": "install_english_win10",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": None},
        "answers": ["yes", "no"],
        "expect": dict(INSTALLED, exit_code=0, boxes=[EN["installask"], EN["installdone"]],
                       host_starts=0, ver_run=True),
        "gallery": {"installask": 1, "installdone": 2},
    },
    {
        # The same on 32-bit Windows 10: the version text ends in " 32-bit", and the registry has
        # one view, which the updater reads without asking for the 64-bit one.
        "name": "install_english_win10_32bit",
        "program": "updater",
        "windows": "win10",
        "needs_32bit": "32-bit Windows 10 exists only in a 32-bit prefix",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": None},
        "args": ["modest"],
        "answers": [],
        "expect": dict(INSTALLED, exit_code=0, boxes=[], host_starts=0, ver_run=True),
    },
    {
        "name": "install_yes_yes_win7",
        "program": "updater",
        "windows": "win7",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 4, "size": 3000}},
        "answers": ["yes", "yes"],
        "expect": dict(INSTALLED, exit_code=0, boxes=[EN["installask"], EN["installdone"]],
                       host_starts=1, ver_run=False, started_by="desktop shell"),
    },
    {
        # The product must still start and update on Windows XP; wine64 offers only XP x64.
        # Wine gives every process the elevated half of a split token (TokenElevationType 2),
        # whatever version it reports, so the updater, which asks the token and not the version,
        # has the desktop shell start the host here too. On a real XP the token knows no such
        # class and the updater starts the host itself.
        "name": "install_yes_yes_winxp",
        "program": "updater",
        "windows": "winxp",
        "locale": "en",
        "needs_32bit": "32-bit Windows XP exists only in a 32-bit prefix",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 4, "size": 3000}},
        "answers": ["yes", "yes"],
        "expect": dict(INSTALLED, exit_code=0, boxes=[EN["installask"], EN["installdone"]],
                       host_starts=1, ver_run=False, started_by="desktop shell"),
    },
    {
        # What a per-user compatibility layer does to an elevated updater on 64-bit Windows: the
        # version says XP (5.2), the token says elevated. The updater itself never starts the
        # host from the folder the user names; the desktop shell does, as the user. (XP x64 also
        # gives the 32-bit product the 32-bit registry view, so the size is not checked here.)
        "name": "elevated_reporting_winxp64",
        "program": "updater",
        "windows": "winxp64",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 4, "size": 3000}},
        "answers": ["yes", "yes"],
        "expect": dict(bank="carried", exit_code=0, boxes=[EN["installask"], EN["installdone"]],
                       host_starts=1, ver_run=False, started_by="desktop shell"),
    },
    {
        "name": "install_russian_win7_running_host",
        "program": "updater",
        "windows": "win7",
        "locale": "ru",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 4, "size": 2048}, "running": True, "release_delay_ms": 1500},
        "answers": ["yes", "yes"],
        "expect": dict(INSTALLED, exit_code=0, boxes=[RU["installask"], RU["installdone"]],
                       host_starts=1, host_quits=1),
        "gallery": {"installask": 1, "installdone": 2},
    },
    {
        "name": "install_declined",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": None},
        "answers": ["no"],
        "expect": {"exit_code": 0, "boxes": [EN["installask"]], "bank": "absent",
                   "estimated_size": False, "host_starts": 0},
    },
    {
        "name": "running_host_releases_after_2s",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 5, "size": 4096}, "running": True, "release_delay_ms": 2000},
        "answers": ["yes", "no"],
        "expect": dict(INSTALLED, exit_code=0, boxes=[EN["installask"], EN["installdone"]],
                       host_starts=0, host_quits=1),
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
        "expect": dict(INSTALLED, exit_code=0, boxes=[], host_starts=1),
    },
    {
        "name": "modest_no_boxes",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 6, "size": 100}},
        "args": ["modest"],
        "answers": [],
        "expect": dict(INSTALLED, exit_code=0, boxes=[], host_starts=0, ver_run=True,
                       dlls=QUIET_UPDATE_DLLS),
    },
    {
        # No "ver" before Windows 8: the same DLLs.
        "name": "modest_no_boxes_win7",
        "program": "updater",
        "windows": "win7",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 4, "size": 100}},
        "args": ["modest"],
        "answers": [],
        "expect": dict(INSTALLED, exit_code=0, boxes=[], host_starts=0, ver_run=False,
                       dlls=QUIET_UPDATE_DLLS),
    },
    {
        "name": "modest_runapp_running_host",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 4, "size": 100}, "running": True, "release_delay_ms": 500},
        "args": ["modest", "runapp"],
        "answers": [],
        "expect": dict(INSTALLED, exit_code=0, boxes=[], host_starts=1, host_quits=1),
    },
    {
        "name": "newer_bank_kept",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 6, "size": 100}},
        "answers": ["no"],
        "expect": dict(UNTOUCHED, exit_code=0, boxes=[EN["olderfilever"]]),
        "gallery": {"olderfilever": 1},
    },
    {
        "name": "newer_bank_kept_russian",
        "program": "updater",
        "windows": "win7",
        "locale": "ru",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 6, "size": 100}},
        "answers": ["no"],
        "expect": dict(UNTOUCHED, exit_code=0, boxes=[RU["olderfilever"]]),
        "gallery": {"olderfilever": 1},
    },
    {
        "name": "newer_bank_replaced",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 6, "size": 100}},
        "answers": ["yes", "yes", "no"],
        "expect": dict(INSTALLED, exit_code=0, host_starts=0,
                       boxes=[EN["olderfilever"], EN["installask"], EN["installdone"]]),
    },
    *both_locales("host_never_releases_bank", lambda locale: installed_host_failing(
        locale, "filecantopen", host={"bank": {"version": 4, "size": 100}, "running": True,
                                      "never_quit": True})),
    *both_locales("bad_installer", lambda locale: installed_host_failing(
        locale, "badinstaller", updater={"alter_bank_byte": True})),
    # Another program holds the updater's file open for deleting: Windows still starts it, but
    # the self-check's open, which does not share deleting, is refused.
    *both_locales("verification_fail", lambda locale: installed_host_failing(
        locale, "verificationfail", updater={"held_for_deleting": True})),
    {
        "name": "no_english_lng",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"languages": ["russian.lng", "ukrainian.lng"],
                 "bank": {"version": 4, "size": 100}},
        "answers": ["ok"],
        "expect": dict(UNTOUCHED, exit_code=0, boxes=[EN["nolangfile"]]),
        "gallery": {"nolangfile": 1},
    },
    {
        "name": "no_russian_lng",
        "program": "updater",
        "windows": "win7",
        "locale": "ru",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"languages": ["english.lng", "ukrainian.lng"],
                 "bank": {"version": 4, "size": 100}},
        "answers": ["ok"],
        "expect": dict(UNTOUCHED, exit_code=0, boxes=[RU["nolangfile"]]),
        "gallery": {"nolangfile": 1},
    },
    *both_locales("language_file_errors", lambda locale: installed_host_failing(
        locale, "langerrors",
        host={"bank": {"version": 4, "size": 100},
              "language_files": {"broken.lng": BROKEN_LANGUAGE[locale]}})),
    *both_locales("cant_install_file", lambda locale: {
        "program": "updater", "windows": "win10", "locale": locale,
        "registry": INSTALLED_HOST_REGISTRY,
        # A folder where the bank belongs: no version question, and the file cannot be created.
        "host": {"bank": "folder"},
        "answers": ["yes", "ok", "no"],
        "expect": {"exit_code": 0, "bank": "unchanged", "estimated_size": True,
                   "host_starts": 0,
                   "boxes": [BOXES[locale]["installask"], BOXES[locale]["cantinstall"],
                             BOXES[locale]["installdone"]]},
        "gallery": {"cantinstall": 2},
    }),
    # "Programs", not "Desktop": Wine's desktop shell writes "Desktop" anew as text when it
    # starts, and in the test guest it may do so before the updater reads it.
    *both_locales("no_registry_access", lambda locale: installed_host_failing(
        locale, "noregistry",
        registry=INSTALLED_HOST_REGISTRY + [(SHELL_FOLDERS_KEY, "Programs", "REG_DWORD", 1)])),
    *both_locales("application_error", lambda locale: dict(installed_host_failing(
        locale, "apperror",
        registry=[(UNINSTALL_KEY, "UninstallString", "REG_SZ", "{host}unins000.exe"),
                  (PROG_KEY, "TheLastRunFolder", "REG_DWORD", 1)]),
        expect=dict(UNTOUCHED, exit_code=1, boxes=[BOXES[locale]["apperror"]]))),
    {
        # A scanner looks at the installed bank for 2 s just as a quiet update starts, with no
        # host running: the replace is tried again until the scanner lets go.
        "name": "bank_briefly_scanned",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 4, "size": 100}, "scanned_ms": 2000},
        "args": ["modest"],
        "answers": [],
        "expect": dict(INSTALLED, exit_code=0, boxes=[], host_starts=0),
    },
    {
        # The uninstall entry names an old folder; the host's own record names the real one.
        "name": "last_run_folder",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": [(UNINSTALL_KEY, "UninstallString", "REG_SZ",
                      "C:\\Program Files\\Zelm Old\\unins000.exe"),
                     (PROG_KEY, "TheLastRunFolder", "REG_SZ", "C:\\Program Files\\Zelm")],
        "host": {"bank": {"version": 4, "size": 100}},
        "answers": ["yes", "no"],
        "expect": dict(INSTALLED, exit_code=0, boxes=[EN["installask"], EN["installdone"]],
                       host_starts=0),
    },
    {
        # The entry of a 32-bit installation on 64-bit Windows. The updater reads the 64-bit view
        # (the product as a 32-bit process on 64-bit Windows asks for it; the vehicle has it), so
        # the entry under WOW6432Node is found only by its explicit second lookup. The size goes
        # to that entry, and no plain one is made beside it.
        "name": "wow6432node_entry",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": [(WOW_UNINSTALL_KEY, "UninstallString", "REG_SZ", "{host}unins000.exe")],
        "host": {"folder": "C:\\Apps\\Zelm\\", "bank": {"version": 4, "size": 100}},
        "args": ["modest"],
        "answers": [],
        "expect": dict(INSTALLED, exit_code=0, boxes=[], host_starts=0,
                       size_key=WOW_UNINSTALL_KEY, absent_keys=[UNINSTALL_KEY]),
    },
    {
        # 64-bit Windows with entries in both views. Through the 32-bit process's own view the
        # plain key would lead to WOW6432Node's entry, a folder without the host; the updater
        # reads the 64-bit view and finds the host.
        "name": "wow64_reads_64bit_view",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": [(UNINSTALL_KEY, "UninstallString", "REG_SZ", "{host}unins000.exe"),
                     (WOW_UNINSTALL_KEY, "UninstallString", "REG_SZ",
                      "C:\\Old Zelm\\unins000.exe")],
        "host": {"folder": "C:\\Apps\\Zelm\\", "bank": {"version": 4, "size": 100}},
        "args": ["modest"],
        "answers": [],
        "expect": dict(INSTALLED, exit_code=0, boxes=[], host_starts=0),
    },
    {
        # A host whose only language file is the example of the integration guide, as it stands.
        "name": "guide_example_language_file",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"languages": [], "language_files": {"english.lng": GUIDE_EXAMPLE},
                 "bank": {"version": 4, "size": 100}},
        "answers": ["yes", "no"],
        "expect": dict(INSTALLED, exit_code=0, host_starts=0, boxes=[
            {"caption": "Zelm sounds", "text": "Zelm update will install Bellwick Sounds 5.\r\n"
             "Install now?", "buttons": ["&Yes", "&No"]},
            {"caption": "Zelm update",
             "text": "Zelm update (Bellwick Sounds 5) is installed.\r\n\r\nStart Zelm now?",
             "buttons": ["&Yes", "&No"]}]),
    },
    {
        # Signed as a release is, two signatures and their timestamps: the self-check leaves the
        # certificate table out of its digest, so the updater still asks and installs.
        "name": "signed_updater",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 4, "size": 100}},
        "updater": {"signed": True},
        "answers": ["yes", "no"],
        "expect": dict(INSTALLED, exit_code=0, boxes=[EN["installask"], EN["installdone"]],
                       host_starts=0),
    },
    {
        # A folder name that the ANSI code page (1252 here) cannot spell: the self-check opens
        # the updater by its wide name.
        "name": "updater_in_non_ansi_folder",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 4, "size": 100}},
        "updater": {"folder": "C:\\Users\\用户\\Downloads\\"},
        "args": ["modest"],
        "answers": [],
        "expect": dict(INSTALLED, exit_code=0, boxes=[], host_starts=0),
    },
    {
        # ComSpec can be set for the user without elevation (HKCU\Environment); the elevated
        # updater starts the system folder's cmd.exe instead of what it names: the host here.
        "name": "planted_comspec_not_run",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY + [
            ("HKCU\\Environment", "ComSpec", "REG_SZ", "{host}zelm.exe")],
        "host": {"bank": {"version": 4, "size": 100}},
        "args": ["modest"],
        "answers": [],
        "expect": dict(INSTALLED, exit_code=0, boxes=[], host_starts=0, ver_run=True),
    },
    {
        # Nor another program of the system folder that ComSpec names: cmd.exe runs "ver".
        "name": "planted_system_comspec_not_run",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "plant": {"C:\\windows\\system32\\zplant.exe": "hostctl.exe"},
        "registry": INSTALLED_HOST_REGISTRY + [
            ("HKCU\\Environment", "ComSpec", "REG_SZ", "C:\\windows\\system32\\zplant.exe")],
        "host": {"bank": {"version": 4, "size": 100}},
        "args": ["modest"],
        "answers": [],
        "expect": dict(INSTALLED, exit_code=0, boxes=[], host_starts=0, ver_run=True,
                       ver_line=VER_LINE, never_started=["zplant.exe"]),
    },
    {
        # A Temp with a %ZQ% that Windows' cmd would expand into an operator: no part of Temp
        # reaches any command line, since the output comes through a pipe.
        "name": "temp_with_variable_not_expanded",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY + [
            ("HKCU\\Environment", "ZQ", "REG_SZ", '" & evil & rem "'),
            ("HKCU\\Environment", "TEMP", "REG_SZ", "C:\\x%ZQ%")],
        "host": {"bank": {"version": 4, "size": 100}},
        "args": ["modest"],
        "answers": [],
        "expect": dict(INSTALLED, exit_code=0, boxes=[], host_starts=0, ver_run=True,
                       ver_line=VER_LINE),
    },
    {
        # Temp is the user's, and the updater runs elevated: a Temp that is a link, re-pointed at
        # another folder as soon as a file appears in it, would have the updater read and delete
        # a file there that it never made. The "ver" run names nothing in Temp at all.
        "name": "ver_names_nothing_in_temp",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "temp_link": True,
        "registry": INSTALLED_HOST_REGISTRY + [("HKCU\\Environment", "TEMP", "REG_SZ",
                                                "C:\\ztemp")],
        "host": {"bank": {"version": 4, "size": 100}},
        "args": ["modest"],
        "answers": [],
        "expect": dict(INSTALLED, exit_code=0, boxes=[], host_starts=0, ver_run=True,
                       ver_line=VER_LINE),
    },
    {
        # A host folder reached through a link to a real folder (Program Files moved to another
        # drive, say) still installs: the updater works in the folder the link leads to.
        "name": "install_through_folder_link",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "links": {"C:\\zelmlink": HOST_FOLDER},
        "registry": [(UNINSTALL_KEY, "UninstallString", "REG_SZ", "{host}unins000.exe"),
                     (PROG_KEY, "TheLastRunFolder", "REG_SZ", "C:\\zelmlink\\")],
        "host": {"bank": {"version": 4, "size": 3000}},
        "args": ["modest"],
        "answers": [],
        "expect": dict(INSTALLED, exit_code=0, boxes=[], host_starts=0),
    },
    {
        # What scripts/demo.sh shows: an interactive update that starts the host, then a quiet
        # update of the running host that closes it, rewrites the bank and starts it again.
        "name": "demo",
        "program": "updater",
        "windows": "win10",
        "locale": "en",
        "registry": INSTALLED_HOST_REGISTRY,
        "host": {"bank": {"version": 4, "size": 2048}},
        "runs": [
            {"args": [], "answers": ["yes", "yes"],
             "expect": dict(INSTALLED, exit_code=0, boxes=[EN["installask"], EN["installdone"]],
                            host_starts=1)},
            {"args": ["modest", "runapp"], "answers": [],
             "expect": dict(INSTALLED, exit_code=0, boxes=[], bank_rewritten=True, host_quits=1,
                            host_starts=1)},
        ],
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
                EN["nohost"],
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
