#!/usr/bin/env python3
"""Checks the PE image of ZelmSoundUpdate.exe with i686-w64-mingw32-objdump -p.

  check_pe.py EXE            32-bit i386 PE, GUI subsystem, sections page-aligned in the file,
                             imports from allowed system DLLs only, each of them a KnownDLL
                             (loaded from System32 whatever the folder), a manifest that asks
                             for administrator rights and names no supported Windows
  check_pe.py --win2000 EXE  every imported function is one that Windows 2000's DLLs export by
                             name (else its loader would refuse to start the program)
  check_pe.py --time-stamp EXE
                             the PE header's time stamp is SOURCE_DATE_EPOCH when that is set,
                             else 0: a build time would make two builds of one commit differ
  check_pe.py --manifest FILE EXE
                             the manifest resource is FILE byte for byte
  check_pe.py --bank FILE VERSION EXE
                             the sound-bank resource ("3BS"/"ZORV") is FILE byte for byte, and its
                             version byte (offset 5) is VERSION
  check_pe.py --version-info EXE
                             the version information is there, with its fixed part
Resources are looked up in language 1049, the only one the executable's resources use.
"""
import argparse
import os
import re
import struct
import subprocess
import sys

OBJDUMP = "i686-w64-mingw32-objdump"

# user32 and shell32 are loaded from the system folder on first use (src/os/win32), so that a quiet
# update loads neither; importing either would load it, and user32 with it, at every start.
ALLOWED_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}

# HKLM\System\CurrentControlSet\Control\Session Manager\KnownDLLs on Windows 2000 to 10: DLLs
# that Windows always maps from System32, so a DLL planted next to the updater is never loaded.
KNOWN_DLLS = {
    "advapi32.dll", "comdlg32.dll", "gdi32.dll", "imagehlp.dll", "kernel32.dll", "lz32.dll",
    "msvcrt.dll", "ole32.dll", "oleaut32.dll", "olecli32.dll", "olecnv32.dll", "olesvr32.dll",
    "olethk32.dll", "rpcrt4.dll", "shell32.dll", "url.dll", "urlmon.dll", "user32.dll",
    "version.dll", "wininet.dll", "wldap32.dll",
}

# What Windows 2000's system DLLs export by name, for every function the updater may import, with
# the documented minimum version of each (the "Requirements" of the Platform SDK reference; the
# run-time library functions are those of Visual C++ 6.0's msvcrt.dll, which Windows 2000 ships).
# An import not listed here fails the check: add it only with a minimum of Windows 2000 or
# earlier. shell32's IsUserAnAdmin is missing on purpose: Windows 2000 may export it by ordinal
# (680) only; the updater asks advapi32's CheckTokenMembership, which it wraps.
NT31 = "Windows NT 3.1"
NT40 = "Windows NT 4.0"
W2K = "Windows 2000"
VC6 = "msvcrt.dll of Visual C++ 6.0"
WINDOWS_2000_EXPORTS = {
    "kernel32.dll": {
        **dict.fromkeys([
            "CloseHandle", "CreateFileA", "CreateFileMappingA", "CreateFileW", "CreatePipe",
            "CreateProcessA", "DeleteFileW", "GetCurrentProcess", "MoveFileExW",
            "CreateSemaphoreW", "DeleteCriticalSection", "DeleteFileA", "EnterCriticalSection",
            "FindClose", "FindFirstFileA", "FindNextFileA", "FindResourceA", "FlushFileBuffers",
            "FreeLibrary", "FreeResource", "GetCommandLineA", "GetCurrentThreadId",
            "GetEnvironmentVariableA", "GetFileAttributesA", "GetFileInformationByHandle",
            "GetFileSize", "GetLastError", "GetModuleFileNameA", "GetModuleFileNameW",
            "GetModuleHandleA", "GetModuleHandleW", "GetProcAddress", "GetStartupInfoA",
            "GetSystemDirectoryA", "GetSystemInfo", "GetTickCount", "GetUserDefaultLCID",
            "GetVersionExA", "InitializeCriticalSection", "LeaveCriticalSection", "LoadLibraryA",
            "LoadLibraryExA", "LoadLibraryW", "LoadResource", "LockResource", "MoveFileExA",
            "MultiByteToWideChar", "QueryPerformanceCounter", "ReadFile", "ReleaseSemaphore",
            "SetCurrentDirectoryA", "SetLastError", "SetUnhandledExceptionFilter",
            "SizeofResource", "Sleep", "TlsAlloc", "TlsFree", "TlsGetValue", "TlsSetValue",
            "VirtualProtect", "VirtualQuery", "WaitForSingleObject", "WideCharToMultiByte",
            "WriteFile"], NT31),
        "IsDBCSLeadByteEx": NT40,
    },
    "advapi32.dll": {
        **dict.fromkeys(["AllocateAndInitializeSid", "FreeSid", "RegCloseKey", "RegCreateKeyExA",
                         "RegOpenKeyExA", "RegQueryValueExA", "RegSetValueExA",
                         "OpenProcessToken", "GetTokenInformation"], NT31),
        "CheckTokenMembership": W2K,
    },
    # Looked up by name at run time rather than imported (src/os/win32), and listed all the same.
    "user32.dll": dict.fromkeys(["FindWindowA", "GetSystemMetrics", "MessageBoxA", "MessageBoxExA",
                                 "OemToCharBuffA", "PostMessageA"], NT31),
    "shell32.dll": {"ShellExecuteA": NT31},
    "ole32.dll": dict.fromkeys(["CoCreateInstance", "CoInitialize", "CoUninitialize"], W2K),
    "oleaut32.dll": dict.fromkeys(["SysAllocString", "SysFreeString"], W2K),
    "msvcrt.dll": dict.fromkeys([
        "__getmainargs", "__initenv", "__mb_cur_max", "__p__acmdln", "__p__commode",
        "__p__fmode", "__set_app_type", "__setusermatherr", "_amsg_exit", "_cexit", "_close",
        "_errno", "_initterm", "_iob", "_onexit", "_read", "abort", "atoi", "calloc", "exit",
        "fprintf", "fputc", "fputs", "free", "fwrite", "isalnum", "localeconv", "malloc",
        "memchr", "memcmp", "memcpy", "memmove", "memset", "realloc", "setlocale", "signal",
        "strchr", "strcmp", "strerror", "strlen", "strncmp", "tolower", "vfprintf", "wcslen"],
        VC6),
}


def objdump(exe):
    return subprocess.run([OBJDUMP, "-p", exe], check=True, capture_output=True,
                          text=True).stdout


def imports(dump):
    """{dll in lower case: [function names]} from the import tables of objdump -p."""
    table = {}
    current = None
    for line in dump.splitlines():
        match = re.match(r"\s*DLL Name: (\S+)", line)
        if match:
            current = table.setdefault(match.group(1).lower(), [])
            continue
        entry = re.match(r"\s+[0-9a-f]+\s+\d+\s+(\S+)$", line)
        if current is not None and entry:
            current.append(entry.group(1))
        elif not line.strip():
            current = None
    return table


def header_faults(dump):
    faults = []
    if "file format pei-i386" not in dump:
        faults.append("not an i386 PE image")
    if not re.search(r"^Magic\s+010b\s+\(PE32\)", dump, re.M):
        faults.append("not PE32")
    if not re.search(r"^Subsystem\s+00000002\s+\(Windows GUI\)", dump, re.M):
        faults.append("subsystem is not Windows GUI (2)")
    if not re.search(r"^FileAlignment\s+00001000$", dump, re.M):
        faults.append("FileAlignment is not 4096: sections off page boundaries in the file "
                      "cannot be mapped from it")
    return faults


def import_faults(table):
    faults = []
    if not table:
        faults.append("no import table found")
    for dll in sorted(table):
        if dll not in ALLOWED_DLLS:
            faults.append(f"imports from {dll}, which is not an allowed system DLL")
        if dll not in KNOWN_DLLS:
            faults.append(f"imports from {dll}, which is not a KnownDLL")
    return faults


def win2000_faults(table):
    return [f"imports {dll}!{name}, which is not among what Windows 2000's {dll} exports by name"
            for dll, names in sorted(table.items()) for name in names
            if name not in WINDOWS_2000_EXPORTS.get(dll, {})]


def manifest_faults(path):
    """The manifest asks for administrator rights and the X86 common controls 6, and names no
    supported Windows (which would change the version the updater is told)."""
    with open(path, "rb") as exe:
        image = exe.read()
    wanted = [b'level="requireAdministrator"', b'name="Microsoft.Windows.Common-Controls"',
              b'version="6.0.0.0"', b'processorArchitecture="X86"']
    faults = [f"the manifest lacks {w.decode()}" for w in wanted if w not in image]
    if b"supportedOS" in image:
        faults.append("the manifest names supported Windows versions")
    return faults


def time_stamp_faults(path, expected):
    with open(path, "rb") as image:
        header = image.read(4096)
    (pe_offset,) = struct.unpack_from("<I", header, 0x3C)
    # TimeDateStamp follows the "PE\0\0" signature, the machine and the section count.
    (stamp,) = struct.unpack_from("<I", header, pe_offset + 8)
    if stamp == expected:
        return []
    return [f"time stamp is {stamp}, not {expected} (SOURCE_DATE_EPOCH, or 0 without it)"]


RUSSIAN = 1049


def resources(path):
    """{(type, name, language): data} from the image's resource directory; a type or name that is
    a number is written "#" + number, as in a .rc script."""
    with open(path, "rb") as exe:
        image = exe.read()

    def u16(at):
        return struct.unpack_from("<H", image, at)[0]

    def u32(at):
        return struct.unpack_from("<I", image, at)[0]

    pe = u32(0x3C)
    optional = pe + 24
    # Data directory 2 holds the resources; the directories start later in a PE32+ header.
    directories = optional + (96 if u16(optional) == 0x10B else 112)
    section_table = optional + u16(pe + 20)
    sections = [struct.unpack_from("<IIII", image, section_table + 40 * i + 8)
                for i in range(u16(pe + 6))]

    def file_offset(rva):
        for virtual_size, address, raw_size, raw in sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise ValueError(f"RVA {rva:#x} lies in no section")

    if not u32(directories + 2 * 8):
        return {}
    base = file_offset(u32(directories + 2 * 8))

    def entry_name(field):
        if not field & 0x80000000:
            return f"#{field}"
        at = base + (field & 0x7FFFFFFF)
        return image[at + 2:at + 2 + 2 * u16(at)].decode("utf-16-le")

    found = {}

    # Three levels: type, name, language.
    def walk(directory, key):
        at = base + directory
        for e in range(u16(at + 12) + u16(at + 14)):
            field, target = struct.unpack_from("<II", image, at + 16 + 8 * e)
            step = key + ((entry_name(field),) if len(key) < 2 else (field,))
            if target & 0x80000000:
                walk(target & 0x7FFFFFFF, step)
            else:
                rva, size = struct.unpack_from("<II", image, base + target)
                found[step] = image[file_offset(rva):file_offset(rva) + size]

    walk(0, ())
    return found


def manifest_file_faults(path, manifest):
    data = resources(path).get(("#24", "#1", RUSSIAN))
    if data is None:
        return ["no manifest resource (24/1, language 1049)"]
    with open(manifest, "rb") as wanted:
        if data != wanted.read():
            return [f"the manifest resource differs from {manifest}"]
    return []


def bank_faults(path, bank, version):
    data = resources(path).get(("3BS", "ZORV", RUSSIAN))
    if data is None:
        return ["no sound-bank resource (3BS/ZORV, language 1049)"]
    with open(bank, "rb") as wanted:
        expected = wanted.read()
    faults = []
    if data != expected:
        faults.append(f"the sound-bank resource ({len(data)} bytes) differs from {bank} "
                      f"({len(expected)} bytes)")
    if len(data) < 6 or data[5] != version:
        found = data[5] if len(data) >= 6 else "missing"
        faults.append(f"the sound bank's version byte is {found}, the updater's bank version is "
                      f"{version}")
    return faults


def version_info(path):
    """The file version of the version information, or None without one."""
    data = resources(path).get(("#16", "#1", RUSSIAN))
    fixed = -1 if data is None else data.find(struct.pack("<I", 0xFEEF04BD))
    if fixed < 0:
        return None
    most, least = struct.unpack_from("<II", data, fixed + 8)
    return f"{most >> 16}.{most & 0xFFFF}.{least >> 16}.{least & 0xFFFF}"


def run_check(args):
    """(faults, summary) of the check that the arguments name."""
    exe = args.exe
    if args.time_stamp:
        expected = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
        return time_stamp_faults(exe, expected), f"time stamp {expected}"
    if args.manifest:
        return manifest_file_faults(exe, args.manifest), f"manifest is {args.manifest}"
    if args.bank:
        bank, version = args.bank
        return (bank_faults(exe, bank, int(version)),
                f"sound bank is {bank}, version {version}")
    if args.version_info:
        version = version_info(exe)
        return ([] if version else ["no version information (16/1, language 1049, with its fixed "
                                    "part)"]), f"file version {version}"
    dump = objdump(exe)
    table = imports(dump)
    faults = (win2000_faults(table) if args.win2000
              else header_faults(dump) + import_faults(table) + manifest_faults(exe))
    return faults, ", ".join(f"{d} ({len(n)})" for d, n in sorted(table.items()))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--win2000", action="store_true")
    mode.add_argument("--time-stamp", action="store_true")
    mode.add_argument("--manifest", metavar="FILE")
    mode.add_argument("--bank", nargs=2, metavar=("FILE", "VERSION"))
    mode.add_argument("--version-info", action="store_true")
    parser.add_argument("exe")
    args = parser.parse_args(argv)
    if not os.path.isfile(args.exe):
        print(f"FAIL {args.exe}: no such file (build the windows preset first)")
        return 1
    try:
        faults, summary = run_check(args)
    except (struct.error, ValueError) as error:
        faults, summary = [f"not a PE image whose resources can be read: {error}"], ""
    for fault in faults:
        print(f"FAIL {args.exe}: {fault}")
    if not faults:
        print(f"ok {args.exe}: {summary}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
