#include "firmware/identify.h"

#include <array>
#include <utility>

namespace orvane::firmware {

namespace {

bool IsWhite(std::uint8_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr std::array<std::pair<const char*, const char*>, 7> kSForms = {{
    {"11S2", "1122"},
    {"11S5", "1125"},
    {"11S9", "1129"},
    {"14S2", "1422"},
    {"14S5", "1425"},
    {"15S2", "1522"},
    {"15S5", "1525"},
}};

char Fold(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsFolded(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (Fold(a[i]) != Fold(b[i]))
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

} // namespace

std::string ExtractToken(const std::uint8_t* payload, std::size_t length) {
    std::size_t i = 0;
    while (i < length && IsWhite(payload[i]))
        ++i;
    std::string token;
    while (i < length && payload[i] != 0 && !IsWhite(payload[i]) && token.size() < kMaxTokenChars) {
        token.push_back(static_cast<char>(payload[i]));
        ++i;
    }
    return token;
}

bool NormaliseIdentifier(std::string& token) {
    for (const auto& [sForm, digits] : kSForms) {
        if (EqualsFolded(token, sForm)) {
            token = digits;
            return true;
        }
    }
    return false;
}

} // namespace orvane::firmware
