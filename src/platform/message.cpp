#include "platform/message.h"

#include "platform/text.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace orvane {

namespace {
MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

struct BoxKind {
    std::u16string caption;
    unsigned style;
    bool operator==(const BoxKind&) const = default;
};

// The kinds of the boxes open now, outermost first; touched on the user-interface thread only.
std::vector<BoxKind>& OpenKinds() {
    static std::vector<BoxKind> kinds;
    return kinds;
}
std::uint64_t g_suppressed = 0;

// Keeps a kind marked open for the life of the call, however the handler returns.
class OpenBox {
public:
    explicit OpenBox(BoxKind kind) { OpenKinds().push_back(std::move(kind)); }
    ~OpenBox() { OpenKinds().pop_back(); }
    OpenBox(const OpenBox&) = delete;
    OpenBox& operator=(const OpenBox&) = delete;
};
} // namespace

int MessageBoxW(IMessageTarget* owner, std::u16string_view text, std::u16string_view caption,
                unsigned style) {
    BoxKind kind{std::u16string(caption), style};
    auto& open = OpenKinds();
    if (std::find(open.begin(), open.end(), kind) != open.end()) {
        ++g_suppressed;
        return CautiousAnswer(style);
    }
    // A copy: a handler run inside the modal loop may install another one.
    if (MessageBoxHandler h = Handler()) {
        const OpenBox guard(std::move(kind));
        return h(owner, text, caption, style);
    }
    std::fprintf(stderr, "[%s] %s\n", ToUtf8(EscapeControls(caption)).c_str(),
                 ToUtf8(EscapeControls(text)).c_str());
    return CautiousAnswer(style);
}

int OpenMessageBoxCount() {
    return static_cast<int>(OpenKinds().size());
}

std::uint64_t SuppressedMessageBoxCount() {
    return g_suppressed;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    return std::exchange(Handler(), std::move(handler));
}

} // namespace orvane
