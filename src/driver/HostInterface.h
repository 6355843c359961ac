// Every name the updater relies on in the host program, in one place.
#pragma once

namespace host {

inline constexpr char ProgName[] = "Zelm";
inline constexpr char ExeFileName[] = "zelm.exe";
inline constexpr char RunningMapping[] = "zelm_memfile"; // exists exactly while the host runs
inline constexpr char MainWindowClass[] = "TZelmMainForm";
inline constexpr char StartVerb[] = "open";

// HKCU\Software\Orvek\Zelm
inline constexpr char LastRunFolderValue[] = "TheLastRunFolder";
inline constexpr char LangFileValue[] = "LangFile";
// HKLM\...\Uninstall\Zelm (or its WOW6432Node twin)
inline constexpr char UninstallStringValue[] = "UninstallString";
inline constexpr char EstimatedSizeValue[] = "EstimatedSize";

inline constexpr char LanguageFolder[] = "language\\";
inline constexpr char LanguagePattern[] = "*.lng";
inline constexpr char EnglishLangFile[] = "english.lng";
inline constexpr char RussianLangFile[] = "russian.lng";

} // namespace host
