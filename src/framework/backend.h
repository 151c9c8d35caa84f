// The window back-end contract: what a desktop program asks of its window, whichever toolkit
// draws it. Each graphical back end (qt/: Qt Widgets; win32/: native Win32 windows) provides a
// class Backend in its own namespace with these members and states it right below the class
// (static_assert(fw::WindowBackend<Backend>)), so a member one back end lacks or declares
// differently stops that back end's own build, not the other system's. A program names the
// back end of its system once (app/sarnel_app.h). The headless back end (headless/) shows no
// window: it only answers message boxes and modal dialogs.
//
// A back end may offer more than this where only its toolkit has it (the Qt main window, the
// Win32 message loop); code that uses that belongs to that system.
//
// Thread contract: construct, use and destroy a back end on the user-interface thread, after the
// fw::CWinApp exists. Wake() and the waking targets' PostMessageW may be called from any thread
// while the back end exists.
#pragma once

#include "framework/resources.h"
#include "framework/wnd.h"
#include "platform/message.h"

#include <concepts>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

template <class B>
concept WindowBackend = std::constructible_from<B, std::string> &&
    requires(B& b, const B& cb, std::string folder, DialogTemplate dialogTemplate, UINT id,
             CFrameWnd& frame, const FrameResources& resources, std::vector<CommandTarget> targets,
             orvane::IMessageTarget& inner, FileChooser chooser, const FileRequest& request,
             std::function<void()> onDestroyed, std::u16string_view text) {
    // The resources the windows are built from: picture folders (the first that has a
    // picture wins; `true` puts one in front) and dialog templates.
    b.AddPictureFolder(folder, true);
    b.AddDialogTemplate(dialogTemplate);
    { cb.FindTemplate(id) } -> std::same_as<const DialogTemplate*>;
    // The main window of a frame with the form of its active view inside; the frame and
    // its view outlive it.
    b.CreateMainWindow(frame, resources, targets);
    b.ShowMainWindow();
    b.DestroyMainWindow();
    cb.Window(); // the toolkit's own handle of that window, null when there is none
    // Commands as the operator runs them (only when enabled), and the states shown.
    { cb.QueryCommand(id) } -> std::same_as<CCmdUI>;
    { b.RunCommand(id) } -> std::same_as<bool>;
    b.RefreshCommandStates();
    // The framework's waiting messages and due timers, dispatched from the toolkit's loop;
    // Wake asks for that from any thread, and a waking target posts and then wakes.
    b.Pump();
    b.Wake();
    { b.WakingTarget(inner) } -> std::same_as<orvane::IMessageTarget&>;
    // The document commands' file dialog (tests replace it) and the page set-up.
    b.SetFileChooser(chooser);
    { b.ChooseFile(request) } -> std::same_as<std::optional<std::u16string>>;
    b.ShowPageSetup();
    // What happens when the main frame has destroyed itself (default: the loop ends).
    b.SetOnMainFrameDestroyed(onDestroyed);
    // A resource text in the loaded language.
    { cb.Translate(text) } -> std::same_as<std::u16string>;
    // The running back end, or null.
    { B::Instance() } -> std::same_as<B*>;
};

} // namespace fw
