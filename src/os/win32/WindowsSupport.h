// The one place that includes <windows.h>, for the real implementation of os.h.
//
// Include os/os.h BEFORE this header: <windows.h> defines constants such as MAX_PATH, GENERIC_READ
// and INVALID_HANDLE_VALUE as macros, which would rewrite the declarations of os.h if they came
// first. After this header, name os constants only where no macro of the same name exists.
#pragma once

#include "os/os.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// The updater must run on Windows 2000: nothing newer may be imported directly. Later functions
// (GetNativeSystemInfo, SetDllDirectoryA, SetDefaultDllDirectories) are looked up at run time.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0500

#include <windows.h>

#include <exdisp.h>   // IShellWindows
#include <shellapi.h> // ShellExecuteA
#include <shldisp.h>  // IShellDispatch2, IShellFolderViewDual
#include <shlguid.h>  // SID_STopLevelBrowser
#include <shlobj.h>   // IShellBrowser, IShellView
