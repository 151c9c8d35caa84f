#include "framework/headless/headless.h"

#include "framework/app.h"

namespace fw::headless {

MessageBoxRecorder::MessageBoxRecorder(MessageBoxOptions options) : m_options(std::move(options)) {
    m_previous = orvane::SetMessageBoxHandler(
        [this](orvane::IMessageTarget* owner, std::u16string_view text, std::u16string_view caption,
               unsigned style) { return Show(owner, text, caption, style); });
}

MessageBoxRecorder::~MessageBoxRecorder() {
    orvane::SetMessageBoxHandler(std::move(m_previous));
}

int MessageBoxRecorder::Show(orvane::IMessageTarget* owner, std::u16string_view text,
                             std::u16string_view caption, unsigned style) {
    MessageBoxRecord record{owner, std::u16string(text), std::u16string(caption), style};
    if (record.caption.empty()) {
        if (CWinApp* app = AfxGetApp())
            record.caption = app->GetAppName();
    }
    m_boxes.push_back(record);
    // Copies: a handler run inside the modal loop may change the options.
    if (auto onShow = m_options.onShow)
        onShow(record);
    auto answer = m_options.answer;
    if (auto until = m_options.keepOpenUntil) {
        if (CWinApp* app = AfxGetApp()) {
            ++m_nOpen;
            app->RunUntil(until, m_options.maxOpen);
            --m_nOpen;
        }
    }
    if ((style & orvane::MB_TYPEMASK) == orvane::MB_OK)
        return orvane::IDOK;
    return answer ? answer(record) : orvane::CautiousAnswer(style);
}

std::unique_ptr<MessageBoxRecorder> Install(MessageBoxOptions options) {
    return std::make_unique<MessageBoxRecorder>(std::move(options));
}

DialogScript::DialogScript(std::function<void(CDialog&)> script) : m_script(std::move(script)) {
    m_previous = SetDialogRunner([this](CDialog& dlg) {
        ++m_nRuns;
        if (m_script)
            m_script(dlg);
    });
}

DialogScript::~DialogScript() {
    SetDialogRunner(std::move(m_previous));
}

} // namespace fw::headless
