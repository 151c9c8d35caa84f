#include "framework/translation_table.h"

#include <optional>

namespace fw {

namespace {

// The next zero-terminated UTF-16LE text from `at`; none when the table ends before its
// terminator (a cut-off table, or an odd last byte).
std::optional<std::u16string> NextText(std::span<const std::uint8_t> bytes, std::size_t& at) {
    std::u16string text;
    while (bytes.size() - at >= 2) {
        const auto unit = static_cast<char16_t>(bytes[at] | (bytes[at + 1] << 8));
        at += 2;
        if (unit == 0)
            return text;
        text.push_back(unit);
    }
    at = bytes.size();
    return std::nullopt;
}

} // namespace

TranslationTable TranslationTable::Parse(std::span<const std::uint8_t> bytes) {
    TranslationTable table;
    std::size_t at = 0;
    while (at < bytes.size()) {
        auto source = NextText(bytes, at);
        auto translation = NextText(bytes, at);
        if (!source || !translation)
            break;
        if (!source->empty() && !translation->empty())
            table.m_texts.emplace(std::move(*source), std::move(*translation));
    }
    return table;
}

std::u16string TranslationTable::Translate(std::u16string_view source) const {
    const auto it = m_texts.find(source);
    return it == m_texts.end() ? std::u16string(source) : it->second;
}

} // namespace fw
