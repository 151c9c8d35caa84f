#include <windows.h>

#include <commctrl.h>

#include "framework/win32/backend.h"

#include <cctype>
#include <string>

namespace fw::win32ui {

namespace {

// Writes a dialog template word by word, as the resource compiler lays it out.
class TemplateWriter {
public:
    void Word(unsigned v) { m_words.push_back(static_cast<unsigned short>(v & 0xFFFF)); }
    void DWord(unsigned long v) {
        Word(static_cast<unsigned>(v & 0xFFFF));
        Word(static_cast<unsigned>((v >> 16) & 0xFFFF));
    }
    void Text(std::u16string_view text) {
        for (char16_t c : text)
            Word(c);
        Word(0);
    }
    void Text(std::string_view text) {
        for (char c : text)
            Word(static_cast<unsigned char>(c));
        Word(0);
    }
    // Every item starts on a DWORD boundary (the buffer itself is DWORD aligned).
    void Align() {
        if (m_words.size() % 2 != 0)
            Word(0);
    }
    std::size_t Size() const { return m_words.size(); }
    void Patch(std::size_t at, unsigned v) { m_words[at] = static_cast<unsigned short>(v); }
    std::vector<unsigned short> Take() { return std::move(m_words); }

private:
    std::vector<unsigned short> m_words;
};

int CALLBACK NoteFont(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool FontInstalled(const wchar_t* face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    HDC dc = GetDC(nullptr);
    EnumFontFamiliesExW(dc, &wanted, NoteFont, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, dc);
    return found;
}

// The face (and size) the template's font family names, on this system. The fixed system font
// is a bitmap font with 8 x 15 pixel cells whatever size a template asks for; where it is
// missing (Wine has none) a fixed-pitch face at the size that gives about the same cells
// stands in, so a form laid out for it keeps its proportions and fits its window.
std::string FaceName(const std::string& family, int& pointSize) {
    if (family.empty())
        return "MS Shell Dlg";
    if (family == "monospace")
        return "Courier New";
    if (family == "serif")
        return "Times New Roman";
    if (family == "Fixedsys" && !FontInstalled(L"Fixedsys")) {
        pointSize = 10;
        for (const wchar_t* face : {L"Courier New", L"DejaVu Sans Mono", L"Liberation Mono"}) {
            if (FontInstalled(face))
                return std::string(face, face + lstrlenW(face));
        }
        return "Courier New";
    }
    return family;
}

// Predefined control classes by atom, as a resource script's LTEXT, LISTBOX, ... produce them.
constexpr unsigned kButtonAtom = 0x0080;
constexpr unsigned kStaticAtom = 0x0082;
constexpr unsigned kListBoxAtom = 0x0083;
constexpr unsigned kComboBoxAtom = 0x0085;

} // namespace

std::vector<unsigned short>
BuildDialogTemplate(const DialogTemplate& t, unsigned long style,
                    const std::function<std::u16string(const std::u16string&)>& tr) {
    TemplateWriter w;
    w.DWord(style | DS_SETFONT);
    w.DWord(0); // extended style
    const std::size_t countAt = w.Size();
    w.Word(0); // number of items, patched below
    w.Word(0); // x, y: placed by the caller (or centred)
    w.Word(0);
    w.Word(static_cast<unsigned>(t.cx));
    w.Word(static_cast<unsigned>(t.cy));
    w.Word(0); // no menu
    w.Word(0); // the standard dialog class
    w.Text(t.caption.empty() ? std::u16string() : tr(t.caption));
    int pointSize = t.pointSize;
    const std::string face = FaceName(t.fontFamily, pointSize);
    w.Word(static_cast<unsigned>(pointSize));
    w.Text(std::string_view(face));

    unsigned count = 0;
    for (const DialogControl& c : t.controls) {
        unsigned long itemStyle = WS_CHILD | WS_VISIBLE;
        unsigned long exStyle = 0;
        unsigned atom = kStaticAtom;
        const char* className = nullptr;
        bool iconTitle = false;
        switch (c.kind) {
        case ControlKind::Text:
            itemStyle |= SS_LEFT | SS_NOPREFIX;
            break;
        case ControlKind::CenteredText:
            itemStyle |= SS_CENTER | SS_NOPREFIX;
            break;
        case ControlKind::Icon:
            itemStyle |= SS_ICON | SS_CENTERIMAGE;
            iconTitle = true;
            break;
        case ControlKind::Picture:
            // Our own resources have no such bitmap: the place stays blank, as in the template.
            itemStyle |= SS_LEFT;
            break;
        case ControlKind::ListBox:
            atom = kListBoxAtom;
            itemStyle |= LBS_NOSEL | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_HSCROLL | WS_BORDER;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::Progress:
            className = PROGRESS_CLASSA;
            itemStyle |= PBS_SMOOTH | WS_BORDER;
            break;
        case ControlKind::ComboBox:
            atom = kComboBoxAtom;
            itemStyle |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
            break;
        case ControlKind::Button:
            atom = kButtonAtom;
            itemStyle |= BS_PUSHBUTTON | WS_TABSTOP;
            break;
        case ControlKind::DefaultButton:
            atom = kButtonAtom;
            itemStyle |= BS_DEFPUSHBUTTON | WS_TABSTOP;
            break;
        }
        w.Align();
        w.DWord(itemStyle);
        w.DWord(exStyle);
        w.Word(static_cast<unsigned>(c.x));
        w.Word(static_cast<unsigned>(c.y));
        w.Word(static_cast<unsigned>(c.cx));
        w.Word(static_cast<unsigned>(c.cy));
        w.Word(c.id < 0 ? 0xFFFFu : static_cast<unsigned>(c.id));
        if (className) {
            w.Text(std::string_view(className));
        } else {
            w.Word(0xFFFF);
            w.Word(atom);
        }
        if (iconTitle) {
            w.Word(0xFFFF); // the program's icon, resource 1
            w.Word(1);
        } else {
            w.Text(c.text.empty() ? std::u16string() : tr(c.text));
        }
        w.Word(0); // no creation data
        ++count;
    }
    w.Patch(countAt, count);
    return w.Take();
}

bool ParseAccelerator(std::string_view name, KeyChord& chord) {
    chord = {};
    std::string rest(name);
    for (;;) {
        const auto plus = rest.find('+');
        if (plus == std::string::npos || plus + 1 == rest.size())
            break;
        const std::string modifier = rest.substr(0, plus);
        if (modifier == "Ctrl")
            chord.flags |= FCONTROL;
        else if (modifier == "Shift")
            chord.flags |= FSHIFT;
        else if (modifier == "Alt")
            chord.flags |= FALT;
        else
            return false;
        rest = rest.substr(plus + 1);
    }
    struct Named {
        const char* name;
        unsigned short key;
    };
    static constexpr Named kNamed[] = {
        {"Esc", VK_ESCAPE},    {"Ins", VK_INSERT},     {"Insert", VK_INSERT}, {"Del", VK_DELETE},
        {"Delete", VK_DELETE}, {"Backspace", VK_BACK}, {"Tab", VK_TAB},       {"Enter", VK_RETURN},
        {"Return", VK_RETURN}, {"Space", VK_SPACE},    {"Home", VK_HOME},     {"End", VK_END},
        {"PgUp", VK_PRIOR},    {"PgDown", VK_NEXT},    {"Left", VK_LEFT},     {"Right", VK_RIGHT},
        {"Up", VK_UP},         {"Down", VK_DOWN},
    };
    for (const Named& n : kNamed) {
        if (rest == n.name) {
            chord.key = n.key;
            return true;
        }
    }
    if (rest.size() == 1 && std::isalnum(static_cast<unsigned char>(rest[0]))) {
        chord.key = static_cast<unsigned short>(std::toupper(static_cast<unsigned char>(rest[0])));
        return true;
    }
    if (rest.size() >= 2 && rest[0] == 'F') {
        const std::string digits = rest.substr(1);
        if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 2)
            return false;
        const int n = std::stoi(digits);
        if (n < 1 || n > 24)
            return false;
        chord.key = static_cast<unsigned short>(VK_F1 + n - 1);
        return true;
    }
    return false;
}

} // namespace fw::win32ui
