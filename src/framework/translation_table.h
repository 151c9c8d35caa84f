// The translation table of a language resource library: the English texts of the resources
// and their translations, as the library carries them (pairs of zero-terminated UTF-16LE texts,
// source first). The library is a file on the user's disk, so the table is read defensively:
// an unterminated text, a stray odd byte or an empty translation loses only itself.
//
// Thread contract: none of its own; a built table is read-only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

namespace fw {

class TranslationTable {
public:
    // Reads the table; what cannot be read is left out (see above). The first translation of
    // a text stands.
    static TranslationTable Parse(std::span<const std::uint8_t> bytes);

    bool empty() const { return m_texts.empty(); }
    std::size_t size() const { return m_texts.size(); }
    // The translation of `source`, or `source` itself when the table has none.
    std::u16string Translate(std::u16string_view source) const;

private:
    std::map<std::u16string, std::u16string, std::less<>> m_texts;
};

} // namespace fw
