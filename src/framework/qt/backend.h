// The Qt 6 Widgets back end of the framework layer.
//
// One Qt event loop runs the process; the framework's message queue rides on it. Whenever
// something may be waiting (a post from the serial reader, a post from a handler, a due
// timer) the back end pumps fw::CWinApp::PeekAndDispatchOne from inside the Qt loop, a
// bounded batch at a time so the window keeps painting during a transfer. Message boxes and
// modal dialogs run nested Qt loops, which keep pumping the same way: a reply that arrives
// while a box is open is handled at once, as on the desktop the system was written for.
//
// The window is built from resources as data (resources.h). Every resource text passes
// through the installed translation (QCoreApplication::translate, one context) when the
// widgets are built; texts the system sets at run time (titles, list lines, boxes) do not.
//
// Commands from the menu, the toolbar and the accelerators go to the frame first
// (CWnd::ExecuteCommand: frame, then its active view), then to the further command targets
// given here (the document, the application), the way the desktop framework routes them.
//
// Thread contract: construct, use and destroy on the user-interface thread, after the
// QApplication and the fw::CWinApp exist. Wake() and the waking targets' PostMessageW may
// be called from any thread while the back end exists.
#pragma once

#include "framework/backend.h"
#include "framework/qt/resources.h"
#include "framework/wnd.h"
#include "platform/message.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QMainWindow;
class QWidget;

namespace fw::qtui {

class Backend {
public:
    // Installs the message-box handler and the dialog runner; the destructor restores the
    // previous ones. translationContext names the translation context of resource texts.
    explicit Backend(std::string translationContext = "Resources");
    ~Backend();
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    // Pictures are looked up in these folders in order (Qt resource paths such as
    // ":/OrvaneUpdateChs/pictures", or directories); the first that has the name wins.
    void AddPictureFolder(std::string folder, bool first = false);
    // The path of a picture in the first folder that has it; empty when none has.
    std::string PicturePath(const std::string& name) const;
    void AddDialogTemplate(DialogTemplate dialogTemplate);
    const DialogTemplate* FindTemplate(UINT id) const;

    // Builds the main window for the frame with the form of its active view inside (the
    // view's template must be known), mirrors the frame's title and the view's controls.
    // The frame and its view must outlive the window: call DestroyMainWindow first.
    void CreateMainWindow(CFrameWnd& frame, const FrameResources& resources,
                          std::vector<CommandTarget> targets);
    void ShowMainWindow();
    void DestroyMainWindow();
    QMainWindow* Window() const;

    // The command state the window shows, and a command run as the operator runs it (only
    // when enabled). False when nothing handled it.
    CCmdUI QueryCommand(UINT id) const;
    bool RunCommand(UINT id);
    // Updates enable states and check marks of every menu item and button now.
    void RefreshCommandStates();

    // Dispatches the framework's waiting messages and due timers (a bounded batch; the rest
    // is left for the next turn of the Qt loop).
    void Pump();
    void HookApplication();
    void ScheduleNextTimer();
    // Asks the Qt loop to pump soon. Any thread.
    void Wake();
    // A target that posts to `inner` and then wakes the Qt loop; kept until the back end
    // goes. Give it to threads that post (the serial reader) instead of the window itself.
    orvane::IMessageTarget& WakingTarget(orvane::IMessageTarget& inner);

    // The file dialog of the document commands; tests replace it.
    void SetFileChooser(FileChooser chooser);
    std::optional<std::u16string> ChooseFile(const FileRequest& request);

    // The printer's page set-up dialog (paper, orientation, margins), modal on the main
    // window. The choice is kept for the rest of the run; nothing in the updater prints yet.
    void ShowPageSetup();

    // Called when the main frame is destroyed (default: end the Qt loop with code 0).
    void SetOnMainFrameDestroyed(std::function<void()> onDestroyed);

    // A resource text in the loaded language.
    std::u16string Translate(std::u16string_view text) const;

    // The running back end, or null.
    static Backend* Instance();

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

static_assert(fw::WindowBackend<Backend>, "the Qt back end keeps the window back-end contract");

} // namespace fw::qtui
