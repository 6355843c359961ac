// The host's language files: listing, checking and choosing them, and message texts by key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct LangState {
    std::vector<std::string> LangFiles; // bare names, in directory order
    int CurrentLangIndex = -1;
    int RussianLangIndex = -1;
    int EnglishLangIndex = -1;
    int LocaleLangIndex = -1;
};
const LangState& Languages();

[[nodiscard]] bool InitLanguages();
void SelectLanguage(int index);
void DoneLangUnit(); // closes any open language file and releases the lists

std::string GetLangText(const std::string& key);
std::string GetLangLongText(const std::string& key);
std::string FormatLangText(const std::string& key, const std::vector<std::string>& args);
std::string FormatLangLongText(const std::string& key, const std::vector<std::string>& args);
void ShowLangError(const std::string& text);
void ReportLangFileError(const std::string& fileName);

// The whole-number rule of language files: leading blanks, optional sign, decimal or "$", "x",
// "0x" hexadecimal, fits in 32 bits signed, nothing after it. `value` is set only on success.
[[nodiscard]] bool ParseWholeNumber(const std::string& text, std::int32_t& value);
