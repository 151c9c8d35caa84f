// Resources as data: menus, toolbars, accelerators and dialog templates, described the way the
// system's resource script describes them (dialog units, command ids, texts) and turned into
// native controls by a graphical back end (Qt widgets, Win32 windows). Keeping them as plain data
// lets the system's code name its resources without including any toolkit header, and lets one
// table serve both languages: every text is passed through the loaded translation when the widgets
// are built.
//
// Thread contract: plain values; build and read them on the user-interface thread.
#pragma once

#include "framework/types.h"
#include "framework/wnd.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fw {

// One entry of a menu: a command item, a separator, or a popup with items of its own. A
// command item at the top level of a menu bar is a bar item that runs its command directly.
struct MenuItem {
    enum class Kind { Command, Separator, Popup };
    Kind kind = Kind::Command;
    UINT id = 0;
    std::u16string text; // with '&' before the mnemonic
    std::vector<MenuItem> items;
    bool checkable = false; // shows the command's check state
    std::string picture;    // the item's bitmap, shown in both check states; empty for none
};

// One toolbar slot: a button for a command (with the name of its picture among the
// resources and its tooltip, empty for none) or a separator (id 0).
struct ToolButton {
    UINT id = 0;
    std::string picture; // a file name inside the back end's picture folder or ":/" resource
    std::u16string tooltip;
};

// A key that runs a command, in the toolkit-neutral form "Ctrl+S", "Esc", "Shift+F6".
struct Accelerator {
    std::string key;
    UINT id = 0;
};

// The main window's resources.
struct FrameResources {
    int width = 0; // fixed outer size in pixels
    int height = 0;
    std::string icon; // application icon picture
    std::vector<MenuItem> menu;
    std::vector<ToolButton> toolbar;
    int toolbarButtonSize = 33;
    std::vector<Accelerator> accelerators;
};

enum class ControlKind {
    Text,         // left-aligned static text
    CenteredText, // centred static text
    Icon,         // a picture (the application icon)
    Picture,      // a bitmap; empty when the resources lack it
    ListBox,      // unsorted, no selection, both scroll bars
    Progress,     // smooth, bordered
    ComboBox,     // drop-down list, no typing
    Button,
    DefaultButton,
};

// One control of a dialog template; positions and sizes in dialog units.
struct DialogControl {
    ControlKind kind = ControlKind::Text;
    int id = -1; // -1: no id of its own
    std::u16string text;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string picture; // Icon and Picture: the picture's name
};

// A dialog template. The font sets the dialog units: one horizontal unit is a quarter of the
// font's average character width, one vertical unit an eighth of its height.
struct DialogTemplate {
    UINT id = 0;
    std::u16string caption;
    std::string fontFamily; // a family name, or "monospace" / "serif" / "" for the system's
    int pointSize = 8;
    int cx = 0, cy = 0;
    std::vector<DialogControl> controls;
};

// A command target after the frame and its view (the document, the application).
struct CommandTarget {
    std::function<bool(UINT)> execute;   // true when it handled the command
    std::function<void(CCmdUI&)> update; // sets the state of the commands it handles
};

// A command's state as the frame (with its view) and then each target in order report it; the
// first that handles the command decides.
CCmdUI QueryCommandState(CFrameWnd* frame, const std::vector<CommandTarget>& targets, UINT id);

// Runs a command that is enabled: the frame first, then each target in order, until one
// handles it. False when it is disabled or nothing handled it.
bool RouteCommand(CFrameWnd* frame, const std::vector<CommandTarget>& targets, UINT id);

// What a file dialog asks: open an existing file or name one to save.
struct FileRequest {
    bool open = true;
    std::u16string suggestedName;
};
using FileChooser = std::function<std::optional<std::u16string>(const FileRequest&)>;

} // namespace fw
