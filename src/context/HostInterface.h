// Every name the updater relies on in the host program, in one place.
#pragma once

namespace host {

inline constexpr char ProgName[] = "Zelm";        // program key, uninstall entry, executable stem
inline constexpr char ExeFileName[] = "zelm.exe"; // in the host folder; its presence = installed
inline constexpr char StartVerb[] = "open";

// Running host: the mapping exists exactly while it runs; WM_QUIT to its window ends it.
inline constexpr char RunningMapping[] = "zelm_memfile";
inline constexpr char MainWindowClass[] = "TZelmMainForm";

// HKCU\Software\Orvek\Zelm, optional string values.
inline constexpr char LastRunFolderValue[] = "TheLastRunFolder"; // outranks the uninstall entry
inline constexpr char LangFileValue[] = "LangFile";              // bare name of the chosen file

// HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zelm, or the same path with
// "WOW6432Node\" after "Software\" when a 32-bit installer wrote it on 64-bit Windows.
inline constexpr char UninstallSubKey[] = "Uninstall\\";
inline constexpr char Wow64NodeKey[] = "WOW6432Node\\";
inline constexpr char UninstallStringValue[] = "UninstallString"; // folder up to last backslash
inline constexpr char EstimatedSizeValue[] = "EstimatedSize";     // REG_DWORD in KiB, we write it

inline constexpr char LanguageFolder[] = "language\\";
inline constexpr char LanguagePattern[] = "*.lng";
inline constexpr char EnglishLangFile[] = "english.lng";
inline constexpr char RussianLangFile[] = "russian.lng";

// The installed sound bank in the host folder: the host holds it open while it runs.
inline constexpr char SoundBankFileName[] = "zorv.3bs";

} // namespace host
