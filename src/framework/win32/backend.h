// The native Win32 back end of the framework layer.
//
// The Windows message loop runs the process; the framework's message queue rides on it. A
// hidden message-only window receives a wake-up message whenever something is posted to the
// framework (from any thread) and a native timer at the framework's next due timer; both pump
// fw::CWinApp::PeekAndDispatchOne, a bounded batch at a time so the window keeps painting
// during a transfer. Message boxes (MessageBoxW) and modal dialogs (DialogBoxIndirectParamW)
// run the system's own modal loops, which deliver the same messages to the hidden window: a
// reply that arrives while a box is open is handled at once.
//
// The windows are built from the resources as data (framework/resources.h): the menu bar and
// its popups, a flat toolbar with tooltips, accelerators, and forms and dialogs built as
// in-memory dialog templates, so dialog units become pixels through the template's font exactly
// as the system does it. Pictures are the program's own icon resources, named after the
// picture's file name without its extension, in capitals ("toolbar_link.png" is TOOLBAR_LINK).
//
// Commands from the menu, the toolbar and the accelerators go to the frame first
// (CWnd::ExecuteCommand: frame, then its active view), then to the further command targets.
//
// Thread contract: construct, use and destroy on the user-interface thread, after the
// fw::CWinApp exists. Wake() and the waking targets' PostMessageW may be called from any
// thread while the back end exists.
#pragma once

#include "framework/backend.h"
#include "framework/resources.h"
#include "framework/wnd.h"
#include "platform/message.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct HWND__; // the native window handle's type, as <windows.h> declares it

namespace fw::win32ui {

using NativeWindow = ::HWND__*;

class Backend {
public:
    // Installs the message-box handler and the dialog runner; the destructor restores the
    // previous ones. The context names the resource texts' translation context.
    explicit Backend(std::string translationContext = "Resources");
    ~Backend();
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    // Picture folders are kept for the language library's pictures (a later step); the
    // program's own pictures are its icon resources.
    void AddPictureFolder(std::string folder, bool first = false);
    void AddDialogTemplate(DialogTemplate dialogTemplate);
    const DialogTemplate* FindTemplate(UINT id) const;

    // Builds the main window for the frame with the form of its active view inside. The frame
    // and its view must outlive the window: call DestroyMainWindow first.
    void CreateMainWindow(CFrameWnd& frame, const FrameResources& resources,
                          std::vector<CommandTarget> targets);
    void ShowMainWindow();
    void DestroyMainWindow();
    NativeWindow Window() const;
    // The form of the active view inside the main window (a child dialog), or null.
    NativeWindow FormWindow() const;

    // The command state the window shows, and a command run as the operator runs it (only
    // when enabled). False when nothing handled it.
    CCmdUI QueryCommand(UINT id) const;
    bool RunCommand(UINT id);
    void RefreshCommandStates();

    // Runs the message loop until the main frame has gone (or WM_QUIT); returns the exit code.
    int Run();

    // Dispatches the framework's waiting messages and due timers (a bounded batch).
    void Pump();
    // Asks the message loop to pump soon. Any thread.
    void Wake();
    // A target that posts to `inner` and then wakes the loop; kept until the back end goes.
    orvane::IMessageTarget& WakingTarget(orvane::IMessageTarget& inner);

    // The file dialogs of the document commands; tests replace them.
    void SetFileChooser(FileChooser chooser);
    std::optional<std::u16string> ChooseFile(const FileRequest& request);
    // The system's page set-up dialog; the choice is kept for the rest of the run.
    void ShowPageSetup();

    // Called when the main frame is destroyed (default: end Run() with code 0).
    void SetOnMainFrameDestroyed(std::function<void()> onDestroyed);

    // A resource text in the loaded language. Without a translator (no language library
    // loaded) the English text itself.
    std::u16string Translate(std::u16string_view text) const;
    void SetTranslator(std::function<std::u16string(std::u16string_view)> translator);

    static Backend* Instance();

    struct Impl;

private:
    // The message-box handler and the modal-dialog runner the constructor installs
    // (message_boxes.cpp, dialogs.cpp).
    void InstallMessageBoxes();
    void InstallDialogRunner();

    std::unique_ptr<Impl> m_impl;
};

static_assert(fw::WindowBackend<Backend>, "the Win32 back end keeps the window back-end contract");

// Key names of the resources' accelerator table ("Ctrl+S", "Shift+F6", "Esc") as virtual-key
// code and modifier flags of an ACCEL; false for a name this back end does not know.
struct KeyChord {
    unsigned char flags = 0; // FCONTROL, FSHIFT, FALT (FVIRTKEY is added by the table)
    unsigned short key = 0;  // virtual-key code
};
bool ParseAccelerator(std::string_view name, KeyChord& chord);

// An in-memory dialog template (DLGTEMPLATE with DS_SETFONT and its items), DWORD aligned,
// for DialogBoxIndirectParamW and CreateDialogIndirectParamW.
std::vector<unsigned short>
BuildDialogTemplate(const DialogTemplate& t, unsigned long style,
                    const std::function<std::u16string(const std::u16string&)>& tr);

} // namespace fw::win32ui
