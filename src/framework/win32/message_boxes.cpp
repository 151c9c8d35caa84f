// The Win32 back end's message boxes: the system's own, owned by the dialog or window in front.
#include "framework/win32/backend_impl.h"

namespace fw::win32ui {

void Backend::InstallMessageBoxes() {
    m_impl->previousBoxes =
        orvane::SetMessageBoxHandler([this](orvane::IMessageTarget*, std::u16string_view text,
                                            std::u16string_view caption, unsigned style) {
            const std::u16string body(text);
            const std::u16string title(caption);
            // MessageBoxW runs the system's modal loop; the wake-ups keep pumping in it.
            const int chosen = ::MessageBoxW(m_impl->ModalOwner(), W(body), W(title), style);
            RefreshCommandStates();
            return chosen == 0 ? orvane::CautiousAnswer(style) : chosen;
        });
}

} // namespace fw::win32ui
