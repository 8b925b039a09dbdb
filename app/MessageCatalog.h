#pragma once
// The message catalog of the tool: 63 numbered texts in English and Korean. Every message
// box of the tool takes entry N of the active table.
#include <array>
#include <filesystem>
#include <optional>
#include <string>

inline constexpr int kCatalogSize = 63;
using MessageTable = std::array<const char*, kCatalogSize>;

const MessageTable& englishCatalog();
const MessageTable& koreanCatalog();

// The active table: English until selectCatalog() picks Korean.
extern const MessageTable* g_pMsg;

// Entry n of the active table; an empty text for a number outside 0..62.
const char* catalogText(int n);
// Entry n used as a printf format with one int or one string argument.
std::string catalogFormat(int n, int value);
std::string catalogFormat(int n, const std::string& value);

// Where the system's default language is read from. The defaults read the real system;
// tests point them at a folder of their own.
struct LocaleSources {
    // Files tried in order; the first that exists decides.
    std::filesystem::path etcRoot = "/etc";
    // Used only when none of the files exists (the user's LANG is not the system default).
    std::optional<std::string> langEnv;
    static LocaleSources fromEnvironment();
};

// True when the system's default locale is Korean ("ko", "ko_KR.UTF-8", ...): LANG in
// /etc/locale.conf, else in /etc/default/locale, and only when neither file exists, LANG.
bool systemDefaultIsKorean(const LocaleSources& sources = LocaleSources::fromEnvironment());

// Sets g_pMsg: English, or Korean when the system default language is Korean.
// Returns true when Korean was chosen.
bool selectCatalog(const LocaleSources& sources = LocaleSources::fromEnvironment());
void selectCatalog(bool korean);
