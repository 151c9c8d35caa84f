// The headless back end: message boxes and modal dialogs without a display, for tests and
// the command-line updater.
//
// Message boxes are recorded (and optionally reported through a callback) and answered: OK
// for a notice, and for a question what the options say (the cautious answer by default). A box can
// be kept "open" until a condition holds: its modal loop then dispatches messages meanwhile, so
// replies arriving while a box is open are handled as on the desktop. Modal dialogs are driven by a
// script that plays the operator.
//
// Thread contract: construct, use and destroy on the user-interface thread. The handlers run
// there too (message boxes and dialogs are only shown from window handlers).
#pragma once

#include "framework/types.h"
#include "framework/wnd.h"
#include "platform/message.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fw::headless {

struct MessageBoxRecord {
    orvane::IMessageTarget* owner;
    std::u16string text;
    std::u16string caption;
    unsigned style;
};

struct MessageBoxOptions {
    // Called for every box as it opens (the command-line updater prints the text here).
    std::function<void(const MessageBoxRecord&)> onShow;
    // When set, every box stays open, dispatching messages, until this holds or maxOpen of
    // wall time has passed.
    std::function<bool()> keepOpenUntil;
    std::chrono::milliseconds maxOpen{5000};
    // The operator's answer to a question (MB_YESNO, MB_OKCANCEL); default: No or Cancel.
    std::function<int(const MessageBoxRecord&)> answer;
};

// Records message boxes while it exists; restores the previous handler when destroyed.
class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(MessageBoxOptions options = {});
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    const std::vector<MessageBoxRecord>& Boxes() const { return m_boxes; }
    void Clear() { m_boxes.clear(); }
    void SetOptions(MessageBoxOptions options) { m_options = std::move(options); }
    // How many boxes are open right now (nested inside each other's modal loops).
    int OpenCount() const { return m_nOpen; }

private:
    int Show(orvane::IMessageTarget* owner, std::u16string_view text, std::u16string_view caption,
             unsigned style);

    MessageBoxOptions m_options;
    std::vector<MessageBoxRecord> m_boxes;
    int m_nOpen = 0;
    orvane::MessageBoxHandler m_previous;
};

std::unique_ptr<MessageBoxRecorder> Install(MessageBoxOptions options = {});

// Plays the operator of modal dialogs while it exists: the script gets each dialog after its
// initialisation and may change controls and end it (dlg.OnOK(), SendMessageW(WM_COMMAND,
// IDOK), SelectByUser on a control, ...). A dialog the script leaves open is cancelled.
class DialogScript {
public:
    explicit DialogScript(std::function<void(CDialog&)> script);
    ~DialogScript();
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;
    int RunCount() const { return m_nRuns; }

private:
    std::function<void(CDialog&)> m_script;
    DialogRunner m_previous;
    int m_nRuns = 0;
};

} // namespace fw::headless
