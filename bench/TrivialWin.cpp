// The floor's trivial programs under Wine: GUI-subsystem executables with the updater's static
// C++ run time that end at once. Built plain (kernel32 and msvcrt only) and, with
// ZELM_TRIVIAL_LOADS_UPDATER_DLLS, importing the other DLLs that ZelmSoundUpdate.exe imports, so
// that their loading can be told apart from the updater's own work.
#ifdef ZELM_TRIVIAL_LOADS_UPDATER_DLLS
#include <windows.h>

#include <shlobj.h>
#endif

int main() {
#ifdef ZELM_TRIVIAL_LOADS_UPDATER_DLLS
    // One call into each of user32, shell32 and advapi32 keeps them in the import table; none
    // that needs the display, which the quiet update does not use either.
    volatile long results = IsCharAlphaA('Z') + IsUserAnAdmin() + RegFlushKey(HKEY_CURRENT_USER);
    static_cast<void>(results);
#endif
    return 0;
}
