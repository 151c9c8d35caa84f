#include "platform/message.h"

#include "platform/text.h"

#include <cstdio>
#include <utility>

namespace orvane {

namespace {
MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}
} // namespace

int MessageBoxW(IMessageTarget* owner, std::u16string_view text, std::u16string_view caption,
                unsigned style) {
    if (auto& h = Handler())
        return h(owner, text, caption, style);
    std::fprintf(stderr, "[%s] %s\n", ToUtf8(caption).c_str(), ToUtf8(text).c_str());
    return IDOK;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    return std::exchange(Handler(), std::move(handler));
}

} // namespace orvane
