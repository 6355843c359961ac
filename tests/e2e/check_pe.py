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
"""
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
            "CloseHandle", "CreateFileA", "CreateFileMappingA", "CreateFileW", "CreateProcessA",
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
                         "RegOpenKeyExA", "RegQueryValueExA", "RegSetValueExA"], NT31),
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


def main(argv):
    modes = {"--win2000", "--time-stamp"}
    mode = next((a for a in argv if a in modes), None)
    paths = [a for a in argv if a not in modes]
    if len(paths) != 1:
        print(__doc__)
        return 2
    if not os.path.isfile(paths[0]):
        print(f"FAIL {paths[0]}: no such file (build the windows preset first)")
        return 1
    if mode == "--time-stamp":
        expected = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
        faults = time_stamp_faults(paths[0], expected)
        summary = f"time stamp {expected}"
    else:
        dump = objdump(paths[0])
        table = imports(dump)
        faults = (win2000_faults(table) if mode == "--win2000"
                  else header_faults(dump) + import_faults(table) + manifest_faults(paths[0]))
        summary = ", ".join(f"{d} ({len(n)})" for d, n in sorted(table.items()))
    for fault in faults:
        print(f"FAIL {paths[0]}: {fault}")
    if not faults:
        print(f"ok {paths[0]}: {summary}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
