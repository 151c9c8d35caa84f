#include "firmware/update_texts.h"

#include <utility>

namespace orvane::firmware {

namespace {
UpdateTexts& Table() {
    static UpdateTexts texts;
    return texts;
}
} // namespace

const UpdateTexts& Texts() {
    return Table();
}

UpdateTexts ReplaceTexts(UpdateTexts texts) {
    return std::exchange(Table(), std::move(texts));
}

std::u16string FillText(std::u16string_view format,
                        std::initializer_list<std::u16string_view> values) {
    std::u16string out;
    out.reserve(format.size());
    auto value = values.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char16_t c = format[i];
        if (c == u'%' && i + 1 < format.size() && value != values.end() &&
            (format[i + 1] == u's' || format[i + 1] == u'X' || format[i + 1] == u'd')) {
            out += *value++;
            ++i;
            continue;
        }
        out.push_back(c);
    }
    return out;
}

} // namespace orvane::firmware
