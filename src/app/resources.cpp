#include "app/resources.h"

#include "ui/resource_ids.h"

// The translation tools find the resource texts by this marker; nothing else needs Qt here, so
// the table builds for the Win32 window too.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, text) text
#endif

namespace orvane::app {

using fw::ControlKind;
using fw::DialogTemplate;
using fw::FrameResources;
using fw::MenuItem;
using fw::ToolButton;

namespace {

// Commands of the framework that the accelerator table names.
constexpr fw::UINT ID_EDIT_COPY = 57634;
constexpr fw::UINT ID_EDIT_CUT = 57635;
constexpr fw::UINT ID_EDIT_PASTE = 57637;
constexpr fw::UINT ID_EDIT_UNDO = 57643;
constexpr fw::UINT ID_FIND = 32813;
constexpr fw::UINT ID_FILE_PRINT = 57607;
constexpr fw::UINT ID_EXPORT = 32776;
constexpr fw::UINT ID_NEXT_PANE = 57680;
constexpr fw::UINT ID_PREV_PANE = 57681;

MenuItem Command(fw::UINT id, std::u16string text, bool checkable = false) {
    MenuItem item;
    item.id = id;
    item.text = std::move(text);
    item.checkable = checkable;
    return item;
}

MenuItem Separator() {
    MenuItem item;
    item.kind = MenuItem::Kind::Separator;
    return item;
}

MenuItem Popup(std::u16string text, std::vector<MenuItem> items) {
    MenuItem item;
    item.kind = MenuItem::Kind::Popup;
    item.text = std::move(text);
    item.items = std::move(items);
    return item;
}

// The resource texts, listed for the translation tools; the tables below use the same
// literals.
[[maybe_unused]] constexpr const char* kTexts[] = {
    QT_TRANSLATE_NOOP("Resources", "&Connect"),
    QT_TRANSLATE_NOOP("Resources", "&Link"),
    QT_TRANSLATE_NOOP("Resources", "&Break connection"),
    QT_TRANSLATE_NOOP("Resources", "&Setup"),
    QT_TRANSLATE_NOOP("Resources", "Load &firmware package..."),
    QT_TRANSLATE_NOOP("Resources", "&Exit"),
    QT_TRANSLATE_NOOP("Resources", "&Update"),
    QT_TRANSLATE_NOOP("Resources", "&Language"),
    QT_TRANSLATE_NOOP("Resources", "English"),
    QT_TRANSLATE_NOOP("Resources", "Chinese"),
    QT_TRANSLATE_NOOP("Resources", "Update"),
    QT_TRANSLATE_NOOP("Resources", "About"),
    QT_TRANSLATE_NOOP("Resources", "Messages:"),
    // One text, split for the line length.
    // NOLINTNEXTLINE(bugprone-suspicious-missing-comma)
    QT_TRANSLATE_NOOP("Resources", "Marvek ARM Receiver firmware\r\nSupport Receiver:\r\n "
                                   "VID_EZ4I0 \r\n\r\nRelease Date:   2017-05-25"),
    // NOLINTNEXTLINE(bugprone-suspicious-missing-comma)
    QT_TRANSLATE_NOOP("Resources", "Marvek ARM Receiver firmware\r\nRelease:\r\n %s "
                                   "\r\n\r\nRelease Date:   %s"),
    QT_TRANSLATE_NOOP("Resources", "Marvek ARM Receiver firmware\r\nRelease:\r\n %s "),
    QT_TRANSLATE_NOOP("Resources", "Port"),
    QT_TRANSLATE_NOOP("Resources", "Port:"),
    QT_TRANSLATE_NOOP("Resources", "&OK"),
    QT_TRANSLATE_NOOP("Resources", "&Cancel"),
    QT_TRANSLATE_NOOP("Resources", "About Marvek Update"),
    QT_TRANSLATE_NOOP("Resources", "OrvaneUpdate"),
};

} // namespace

std::u16string GetDocString(std::u16string_view s, DocString field) {
    auto index = static_cast<int>(field);
    std::size_t start = 0;
    while (index-- > 0) {
        const std::size_t nl = s.find(u'\n', start);
        if (nl == std::u16string_view::npos)
            return {};
        start = nl + 1;
    }
    const std::size_t end = s.find(u'\n', start);
    return std::u16string(s.substr(
        start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start));
}

const FrameResources& MainFrameResources() {
    static const FrameResources res = [] {
        FrameResources r;
        r.width = 350;
        r.height = 462;
        r.icon = "orvane-update-64.png";
        MenuItem link = Command(ui::ID_LINK, u"&Link");
        link.picture = "menu_link.png"; // bitmap 162
        MenuItem brk = Command(ui::ID_BREAK_CONNECTION, u"&Break connection");
        brk.picture = "menu_break.png"; // bitmap 164
        r.menu = {
            Popup(u"&Connect", {link, brk, Separator(), Command(ui::ID_SETUP, u"&Setup"),
                                // Our own addition: real firmware instead of the build's own.
                                Command(ui::ID_LOAD_FIRMWARE, u"Load &firmware package..."),
                                Separator(), Command(ui::ID_EXIT, u"&Exit")}),
            Command(ui::ID_UPDATE, u"&Update"),
            // Our own addition: the language commands, with their check marks.
            Popup(u"&Language", {Command(ui::ID_LANGUAGE_ENGLISH, u"English", true),
                                 Command(ui::ID_LANGUAGE_CHINESE, u"Chinese", true)}),
        };
        r.toolbar = {
            ToolButton{ui::ID_LINK, "toolbar_link.png", u""},
            ToolButton{ui::ID_BREAK_CONNECTION, "toolbar_break.png", u""},
            ToolButton{},
            ToolButton{ui::ID_UPDATE, "toolbar_update.png", u"Update"},
            ToolButton{},
            ToolButton{ui::ID_APP_ABOUT, "toolbar_about.png", u"About"},
        };
        r.accelerators = {
            {"Esc", ui::ID_LINK},         {"Ctrl+C", ID_EDIT_COPY},
            {"Ctrl+Ins", ID_EDIT_COPY},   {"Shift+Del", ID_EDIT_CUT},
            {"Ctrl+X", ID_EDIT_CUT},      {"Ctrl+V", ID_EDIT_PASTE},
            {"Shift+Ins", ID_EDIT_PASTE}, {"Alt+Backspace", ID_EDIT_UNDO},
            {"Ctrl+Z", ID_EDIT_UNDO},     {"Ctrl+F", ID_FIND},
            {"Ctrl+N", ui::ID_FILE_NEW},  {"Ctrl+O", ui::ID_FILE_OPEN},
            {"Ctrl+P", ID_FILE_PRINT},    {"Ctrl+S", ui::ID_FILE_SAVE},
            {"Ctrl+E", ID_EXPORT},        {"F6", ID_NEXT_PANE},
            {"Shift+F6", ID_PREV_PANE},
        };
        return r;
    }();
    return res;
}

const std::vector<DialogTemplate>& DialogTemplates() {
    static const std::vector<DialogTemplate> templates = [] {
        DialogTemplate form;
        form.id = ui::IDD_UPDATE_FORM;
        form.fontFamily = "Fixedsys";
        form.pointSize = 12;
        form.cx = 158;
        form.cy = 182;
        form.controls = {
            {ControlKind::Text, -1, u"Messages:", 0, 7, 35, 8, {}},
            {ControlKind::ListBox, ui::IDC_LIST, u"", 0, 18, 158, 98, {}},
            {ControlKind::Progress, ui::IDC_PROGRESS, u"", 0, 119, 158, 11, {}},
            // Filled in with the firmware this updater sends (FirmwareText).
            {ControlKind::Text, ui::IDC_FIRMWARE_TEXT, kBuiltInFirmwareText, 0, 134, 158, 40, {}},
        };

        DialogTemplate setup;
        setup.id = ui::IDD_LINK_SETUP;
        setup.caption = u"Port";
        setup.fontFamily = "Times New Roman";
        setup.pointSize = 12;
        // Wider and taller than the list alone needs: below the list, the chosen port's
        // device (path, product, USB vendor and product, serial number) tells two adapters
        // apart.
        setup.cx = 196;
        setup.cy = 89;
        setup.controls = {
            {ControlKind::Text, -1, u"Port:", 7, 8, 32, 10, {}},
            {ControlKind::ComboBox, ui::IDC_COMBO_PORT, u"", 43, 7, 52, 128, {}},
            {ControlKind::Text, ui::IDC_PORT_DETAILS, u"", 7, 25, 182, 36, {}},
            {ControlKind::DefaultButton, fw::IDOK, u"&OK", 7, 68, 50, 14, {}},
            {ControlKind::Button, fw::IDCANCEL, u"&Cancel", 64, 68, 50, 14, {}},
        };

        DialogTemplate about;
        about.id = ui::IDD_ABOUTBOX;
        about.caption = u"About Marvek Update";
        about.pointSize = 10;
        about.cx = 177;
        about.cy = 95;
        about.controls = {
            {ControlKind::Icon, -1, u"", 60, 4, 20, 20, "orvane-update-64.png"},
            // Our own use of this empty line: the firmware this updater sends.
            {ControlKind::CenteredText, ui::IDC_ABOUT_FIRMWARE, u"", 7, 53, 163, 19, {}},
            {ControlKind::CenteredText, -1, u"", 7, 30, 149, 19, {}},
            // Bitmap 153: our own resources have none, so the picture stays blank unless a
            // language bundle supplies it.
            {ControlKind::Picture, -1, u"", 80, 7, 123, 15, "bitmap153.png"},
        };
        return std::vector<DialogTemplate>{form, setup, about};
    }();
    return templates;
}

} // namespace orvane::app
