// The interface language of a start, chosen once: the value stored in the profile ("UI") when
// there is one, else the system's language. A stored value always wins, so a choice made in the
// window is kept whatever the system says; only a first start (nothing stored) follows the
// system: Chinese on a Chinese system, English on any other.
//
// Portable and free of system calls: the system's answer is asked for elsewhere (the user's
// interface language on Windows, the locale on Linux) and passed in.
#pragma once

#include <climits>
#include <cstdint>
#include <optional>

namespace orvane::app {

inline constexpr int kEnglish = 1;
inline constexpr int kChinese = 0; // and any other value but 1

// The language value of the start: the stored one (1 English, anything else Chinese) or, with
// none stored, the system's.
constexpr int StartLanguage(std::optional<long long> stored, bool chineseSystem) {
    if (stored)
        return *stored >= INT_MIN && *stored <= INT_MAX ? static_cast<int>(*stored) : kChinese;
    return chineseSystem ? kChinese : kEnglish;
}

// Whether a Windows language identifier (LANGID) names Chinese, in any of its regional forms:
// its primary language (the low ten bits) is LANG_CHINESE.
constexpr bool IsChineseLanguageId(std::uint16_t languageId) {
    constexpr std::uint16_t kPrimaryLanguageMask = 0x3FF;
    constexpr std::uint16_t kLangChinese = 0x04;
    return (languageId & kPrimaryLanguageMask) == kLangChinese;
}

} // namespace orvane::app
