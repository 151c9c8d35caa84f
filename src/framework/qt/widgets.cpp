#include "framework/qt/widgets.h"

#include <QCloseEvent>
#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRawFont>
#include <QScreen>
#include <QSignalBlocker>
#include <QTextLayout>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace fw::qtui {

QString ToQ(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string FromQ(const QString& text) {
    return text.toStdU16String();
}

namespace {

// Resource texts break lines with CR LF; a Qt label wants LF alone.
QString LabelText(QString text) {
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

// The average character width the desktop's dialog units are measured in: the mean width of
// the 52 Latin letters.
double AverageCharWidth(const QFont& font) {
    const QFontMetricsF fm(font);
    return fm.horizontalAdvance(
               QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
           52.0;
}

// The height of the tallest line of the texts as drawn in `font`. A character the font lacks
// is drawn in a fallback font (CJK, for instance), whose ascent and descent the line box does
// not account for: the glyph runs tell which fonts are actually used.
double TallestLine(const QFont& font, const QStringList& texts) {
    double tallest = 0;
    for (const QString& text : texts) {
        for (const QString& line : text.split(QLatin1Char('\n'))) {
            if (line.isEmpty())
                continue;
            QTextLayout layout(line, font);
            layout.beginLayout();
            const QTextLine l = layout.createLine();
            layout.endLayout();
            if (l.isValid())
                tallest = std::max(tallest, l.height());
            for (const QGlyphRun& run : layout.glyphRuns()) {
                const QRawFont raw = run.rawFont();
                tallest = std::max(tallest, raw.ascent() + raw.descent());
            }
        }
    }
    return tallest;
}

// The fixed system font of the desktop is a bitmap font with 8 x 15 pixel cells whatever
// size a template asks for. The nearest here is the largest size of a Latin fixed-pitch face
// (the faces the native window takes where that font is missing, then the system's fixed font)
// that fits in such a cell, so a form laid out for it keeps its proportions and fits its
// window. The system's fixed font may be a CJK one (under a Chinese locale), whose tall lines
// would make its cells narrow.
QFont FixedSystemFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    for (const char* face : {"Courier New", "DejaVu Sans Mono", "Liberation Mono"}) {
        if (QFontDatabase::hasFamily(QString::fromLatin1(face))) {
            font = QFont(QString::fromLatin1(face));
            break;
        }
    }
    font.setStyleHint(QFont::TypeWriter);
    for (int px = 16; px >= 9; --px) {
        font.setPixelSize(px);
        if (AverageCharWidth(font) <= 8.0 && QFontMetricsF(font).height() <= 16.0)
            break;
    }
    return font;
}

// The font the texts of a fixed-size form are drawn in: the form's own, made smaller only as far
// as needed for every line of the texts, as drawn in whatever fallback font their characters
// need (a CJK font is taller than a Latin one of the same size), to fit a line of `cell` pixels.
QFont FittingFont(QFont font, const QStringList& texts, double cell) {
    for (int px = QFontInfo(font).pixelSize(); px > 9 && TallestLine(font, texts) > cell; --px)
        font.setPixelSize(px - 1);
    return font;
}

class NoToolTipFilter final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::ToolTip; }
};

} // namespace

QRect DialogMetrics::ToPixels(int x, int y, int cx, int cy) const {
    const auto px = [](int units, double scale) {
        return static_cast<int>(std::lround(units * scale));
    };
    return {px(x, unitX), px(y, unitY), px(cx, unitX), px(cy, unitY)};
}

DialogMetrics MetricsFor(const DialogTemplate& t, const QStringList& texts) {
    DialogMetrics m;
    QFont declared;
    const bool fixedSystem = t.fontFamily == "Fixedsys" || t.fontFamily == "monospace";
    if (fixedSystem) {
        declared = FixedSystemFont();
    } else {
        declared = QGuiApplication::font();
        if (!t.fontFamily.empty()) {
            declared.setFamily(QString::fromStdString(t.fontFamily));
            if (t.fontFamily.find("Times") != std::string::npos)
                declared.setStyleHint(QFont::Serif);
        }
        declared.setPointSize(t.pointSize);
    }
    // The base units come from the template's font alone, as the desktop computes them: the
    // average width of the Latin letters in whole pixels, and the height of a line. The texts'
    // fallback fonts never narrow a form.
    m.unitX = std::max(1.0, std::round(AverageCharWidth(declared))) / 4.0;
    const double line = std::ceil(QFontMetricsF(declared).height());
    // A fixed-size form keeps its line height, and its texts are drawn small enough to fit it;
    // any other form's lines grow to hold the tallest line of its texts.
    m.font = fixedSystem ? FittingFont(declared, texts, line) : declared;
    // Whole pixels per line: a line height rounded down would cut every line's last pixel.
    m.unitY = std::ceil(std::max(line, TallestLine(m.font, texts))) / 8.0;
    return m;
}

QSize BuildForm(const DialogTemplate& t, CWnd& owner, QWidget* parent,
                const std::function<QString(const std::u16string&)>& tr,
                const std::function<QPixmap(const std::string&)>& picture,
                const std::function<void(int)>& onButton) {
    QStringList texts;
    for (const DialogControl& c : t.controls) {
        if (c.kind == ControlKind::Text || c.kind == ControlKind::CenteredText ||
            c.kind == ControlKind::Button || c.kind == ControlKind::DefaultButton)
            texts << LabelText(tr(c.text));
    }
    const DialogMetrics m = MetricsFor(t, texts);
    parent->setFont(m.font);
    for (const DialogControl& c : t.controls) {
        const QRect r = m.ToPixels(c.x, c.y, c.cx, c.cy);
        const QString name = QStringLiteral("control-%1").arg(c.id);
        CWnd* core = c.id != -1 ? owner.GetDlgItem(c.id) : nullptr;
        QWidget* w = nullptr;
        switch (c.kind) {
        case ControlKind::Text:
        case ControlKind::CenteredText: {
            // A control bound to a window takes that window's text when it has one.
            const std::u16string own = core ? core->GetWindowTextW() : std::u16string();
            auto* label = new QLabel(own.empty() ? LabelText(tr(c.text)) : ToQ(own), parent);
            label->setAlignment(c.kind == ControlKind::CenteredText
                                    ? Qt::AlignHCenter | Qt::AlignTop
                                    : Qt::AlignLeft | Qt::AlignTop);
            label->setTextFormat(Qt::PlainText);
            // A text with an id of its own is one the dialog fills in as it goes.
            if (core)
                new TextPeer(*core, label);
            label->setObjectName(name);
            // Character widths vary with the font actually drawn: a text a little wider than
            // its control takes the room it needs, as far as the form reaches, rather than
            // losing its last characters.
            const QSize need = label->sizeHint();
            const QSize form = m.ToPixels(0, 0, t.cx, t.cy).size();
            label->setGeometry(
                r.x(), r.y(), std::max(r.width(), std::min(need.width(), form.width() - r.x())),
                std::max(r.height(), std::min(need.height(), form.height() - r.y())));
            continue;
        }
        case ControlKind::Icon:
        case ControlKind::Picture: {
            auto* label = new QLabel(parent);
            QPixmap pixmap = picture(c.picture);
            if (!pixmap.isNull()) {
                if (c.kind == ControlKind::Icon)
                    pixmap = pixmap.scaled(r.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
                label->setPixmap(pixmap);
            }
            w = label;
            break;
        }
        case ControlKind::ListBox: {
            auto* list = new QListWidget(parent);
            list->setSelectionMode(QAbstractItemView::NoSelection);
            list->setFocusPolicy(Qt::NoFocus);
            list->setUniformItemSizes(true);
            // Long lines scroll sideways, as in the native list, rather than being cut short.
            list->setTextElideMode(Qt::ElideNone);
            list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
            list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
            if (auto* lb = dynamic_cast<CListBox*>(core))
                new ListPeer(*lb, list);
            w = list;
            break;
        }
        case ControlKind::Progress: {
            auto* bar = new QProgressBar(parent);
            bar->setTextVisible(false);
            if (auto* pc = dynamic_cast<CProgressCtrl*>(core))
                new ProgressPeer(*pc, bar);
            w = bar;
            break;
        }
        case ControlKind::ComboBox: {
            auto* combo = new QComboBox(parent);
            combo->setEditable(false);
            if (auto* cb = dynamic_cast<CComboBox*>(core))
                new ComboPeer(*cb, combo);
            w = combo;
            // The template's height includes the drop-down list; the box itself is one line.
            w->setGeometry(r.x(), r.y(), r.width(), combo->sizeHint().height());
            w->setObjectName(name);
            continue;
        }
        case ControlKind::Button:
        case ControlKind::DefaultButton: {
            auto* button = new QPushButton(tr(c.text), parent);
            button->setAutoDefault(false);
            button->setDefault(c.kind == ControlKind::DefaultButton);
            const int id = c.id;
            QObject::connect(button, &QPushButton::clicked, parent, [onButton, id] {
                if (onButton)
                    onButton(id);
            });
            w = button;
            break;
        }
        }
        w->setObjectName(name);
        w->setGeometry(r);
    }
    return m.ToPixels(0, 0, t.cx, t.cy).size();
}

// ---- control peers ----

ListPeer::ListPeer(CListBox& core, QListWidget* widget)
    : QObject(widget), m_core(core), m_widget(widget) {
    for (int i = 0; i < core.GetCount(); ++i)
        widget->addItem(ToQ(core.GetText(i)));
    core.SetPeer(this);
    if (core.GetCurSel() >= 0)
        OnSelect(core.GetCurSel());
}

ListPeer::~ListPeer() {
    m_core.SetPeer(nullptr);
}

void ListPeer::OnAddString(int index, std::u16string_view text) {
    if (!m_widget)
        return;
    m_widget->insertItem(index, ToQ(text));
    // The newest line stays in sight, as the operator follows the update by it.
    if (index == m_widget->count() - 1)
        m_widget->scrollToBottom();
}

void ListPeer::OnDeleteString(int index) {
    if (m_widget)
        delete m_widget->takeItem(index);
}

void ListPeer::OnSelect(int index) {
    // The list shows no selection; selecting a line only brings it into view.
    if (m_widget && index >= 0 && index < m_widget->count())
        m_widget->scrollToItem(m_widget->item(index));
}

ProgressPeer::ProgressPeer(CProgressCtrl& core, QProgressBar* widget)
    : QObject(widget), m_core(core), m_widget(widget) {
    int lower = 0, upper = 0;
    core.GetRange(lower, upper);
    OnRange(lower, upper);
    OnPos(core.GetPos());
    core.SetPeer(this);
}

ProgressPeer::~ProgressPeer() {
    m_core.SetPeer(nullptr);
}

void ProgressPeer::OnRange(int lower, int upper) {
    if (!m_widget || m_core.GetMarquee())
        return;
    // An empty range would make Qt show a busy bar; the native bar shows an empty one.
    m_widget->setRange(lower, upper > lower ? upper : lower + 1);
}

void ProgressPeer::OnMarquee(bool on) {
    if (!m_widget)
        return;
    if (on) {
        m_widget->setRange(0, 0); // Qt's busy bar
        return;
    }
    int lower = 0, upper = 0;
    m_core.GetRange(lower, upper);
    OnRange(lower, upper);
    OnPos(m_core.GetPos());
}

void ProgressPeer::OnPos(int pos) {
    if (m_widget && !m_core.GetMarquee())
        m_widget->setValue(pos);
}

TextPeer::TextPeer(CWnd& core, QLabel* widget) : QObject(widget), m_core(core), m_widget(widget) {
    if (const std::u16string text = core.GetWindowTextW(); !text.empty())
        OnSetText(text);
    core.SetWndPeer(this);
}

TextPeer::~TextPeer() {
    if (m_core.GetWndPeer() == this)
        m_core.SetWndPeer(nullptr);
}

void TextPeer::OnSetText(std::u16string_view text) {
    if (m_widget)
        m_widget->setText(LabelText(ToQ(text)));
}

ComboPeer::ComboPeer(CComboBox& core, QComboBox* widget)
    : QObject(widget), m_core(core), m_widget(widget) {
    for (int i = 0; i < core.GetCount(); ++i)
        widget->addItem(ToQ(core.GetLBText(i)));
    widget->setCurrentIndex(core.GetCurSel());
    core.SetPeer(this);
    // activated is the operator's choice only; changes made by the system come via OnSelect.
    connect(widget, &QComboBox::activated, this, [this](int index) { m_core.SelectByUser(index); });
}

ComboPeer::~ComboPeer() {
    m_core.SetPeer(nullptr);
}

void ComboPeer::OnAddString(int index, std::u16string_view text) {
    if (m_widget)
        m_widget->insertItem(index, ToQ(text));
}

void ComboPeer::OnSelect(int index) {
    if (!m_widget)
        return;
    const QSignalBlocker block(m_widget);
    m_widget->setCurrentIndex(index);
}

// ---- modal dialog ----

CoreDialog::CoreDialog(CDialog& core, const DialogTemplate& t, Backend& backend, QWidget* parent)
    : QDialog(parent), m_core(core) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(ToQ(backend.Translate(t.caption)));
    setObjectName(QStringLiteral("dialog-%1").arg(t.id));
    const QSize size = BuildForm(
        t, core, this, [&backend](const std::u16string& s) { return ToQ(backend.Translate(s)); },
        [&backend](const std::string& name) {
            return QPixmap(QString::fromStdString(backend.PicturePath(name)));
        },
        [this](int id) { Command(id); });
    setFixedSize(size);
    if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
        const QRect area =
            parent && parent->isVisible() ? parent->frameGeometry() : screen->availableGeometry();
        move(area.center() - QPoint(size.width() / 2, size.height() / 2));
    }
}

void CoreDialog::Command(int id) {
    m_core.SendMessageW(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(id), 0), 0);
    if (m_core.IsEnded())
        done(id == IDOK ? QDialog::Accepted : QDialog::Rejected);
}

void CoreDialog::reject() {
    Command(IDCANCEL);
}

void CoreDialog::accept() {
    Command(IDOK);
}

// ---- main window ----

FrameWindow::FrameWindow(CFrameWnd& frame, const FrameResources& res, Backend& backend)
    : QMainWindow(nullptr), m_frame(frame), m_backend(backend) {
    setObjectName(QStringLiteral("main-frame"));
    // Caption, system menu and minimize box; no maximize box and no sizing border.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setContextMenuPolicy(Qt::NoContextMenu);
    const auto tr = [&backend](const std::u16string& s) { return ToQ(backend.Translate(s)); };

    for (const MenuItem& item : res.menu) {
        if (item.kind == MenuItem::Kind::Popup) {
            QMenu* menu = menuBar()->addMenu(tr(item.text));
            AddMenuItems(menu, item.items);
            connect(menu, &QMenu::aboutToShow, this, [this] { RefreshStates(); });
        } else if (item.kind == MenuItem::Kind::Command) {
            menuBar()->addAction(CommandAction(item.id, tr(item.text)));
        }
    }

    auto* toolbar = addToolBar(QStringLiteral("Standard"));
    toolbar->setObjectName(QStringLiteral("toolbar-59392"));
    toolbar->setIconSize(QSize(res.toolbarButtonSize, res.toolbarButtonSize));
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolbar->setAllowedAreas(Qt::AllToolBarAreas);
    for (const ToolButton& b : res.toolbar) {
        if (b.id == 0) {
            toolbar->addSeparator();
            continue;
        }
        QAction* action = CommandAction(b.id, tr(b.tooltip));
        action->setObjectName(QStringLiteral("button-%1").arg(b.id));
        action->setIcon(QIcon(QPixmap(QString::fromStdString(m_backend.PicturePath(b.picture)))));
        action->setToolTip(tr(b.tooltip));
        toolbar->addAction(action);
        // A button without a tooltip shows none, rather than Qt's default of its text.
        if (b.tooltip.empty())
            toolbar->widgetForAction(action)->installEventFilter(new NoToolTipFilter(action));
    }

    for (const Accelerator& a : res.accelerators) {
        auto* action = new QAction(this);
        action->setObjectName(QStringLiteral("accel-%1").arg(QString::fromStdString(a.key)));
        action->setShortcut(QKeySequence::fromString(QString::fromStdString(a.key)));
        action->setShortcutContext(Qt::WindowShortcut);
        action->setData(a.id);
        const UINT id = a.id;
        connect(action, &QAction::triggered, this, [this, id] { m_backend.RunCommand(id); });
        addAction(action);
    }

    if (!res.icon.empty())
        setWindowIcon(QIcon(QPixmap(QString::fromStdString(m_backend.PicturePath(res.icon)))));
    m_outer = QSize(res.width, res.height);
    ApplyGeometry(QSize());
    setWindowTitle(ToQ(frame.GetWindowTextW()));
    frame.SetWndPeer(this);
}

FrameWindow::~FrameWindow() {
    if (!m_bFrameGone)
        m_frame.SetWndPeer(nullptr);
}

QAction* FrameWindow::CommandAction(UINT id, const QString& text) {
    auto* action = new QAction(text, this);
    action->setObjectName(QStringLiteral("command-%1").arg(id));
    connect(action, &QAction::triggered, this, [this, id] { m_backend.RunCommand(id); });
    m_actions.emplace(id, action);
    return action;
}

void FrameWindow::AddMenuItems(QMenu* menu, const std::vector<MenuItem>& items) {
    const auto tr = [this](const std::u16string& s) { return ToQ(m_backend.Translate(s)); };
    for (const MenuItem& item : items) {
        switch (item.kind) {
        case MenuItem::Kind::Separator:
            menu->addSeparator();
            break;
        case MenuItem::Kind::Popup: {
            QMenu* sub = menu->addMenu(tr(item.text));
            AddMenuItems(sub, item.items);
            break;
        }
        case MenuItem::Kind::Command: {
            QAction* action = CommandAction(item.id, tr(item.text));
            if (item.checkable) {
                action->setCheckable(true);
                m_checkable[item.id] = true;
            }
            if (!item.picture.empty())
                action->setIcon(
                    QIcon(QPixmap(QString::fromStdString(m_backend.PicturePath(item.picture)))));
            menu->addAction(action);
            break;
        }
        }
    }
}

void FrameWindow::RefreshStates() {
    if (m_bFrameGone)
        return;
    UINT last = 0;
    CCmdUI state;
    for (auto& [id, action] : m_actions) {
        if (id != last || last == 0) {
            state = m_backend.QueryCommand(id);
            last = id;
        }
        action->setEnabled(state.enabled);
        if (action->isCheckable())
            action->setChecked(state.check == 1);
    }
}

void FrameWindow::OnSetText(std::u16string_view text) {
    setWindowTitle(ToQ(text));
}

void FrameWindow::OnDestroy() {
    m_bFrameGone = true;
    m_frame.SetWndPeer(nullptr);
    hide();
}

void FrameWindow::FitToForm(QSize form) {
    m_form = form;
    ApplyGeometry(m_bDecorated ? frameGeometry().size() - size() : QSize());
}

void FrameWindow::ApplyGeometry(QSize decorations) {
    const QSize client = m_outer - decorations;
    setFixedSize(client);
    QWidget* view = centralWidget();
    if (!view || !m_form.isValid())
        return;
    if (QLayout* l = layout())
        l->activate();
    const QSize area = view->size();
    const QSize shrink(std::max(0, area.width() - m_form.width()),
                       std::max(0, area.height() - m_form.height()));
    if (!shrink.isNull())
        setFixedSize(client - shrink);
}

bool FrameWindow::event(QEvent* event) {
    const bool result = QMainWindow::event(event);
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowStateChange:
        if (!m_bDecorated && isVisible()) {
            // Without a window manager (or before it has framed us) the two are equal.
            const QSize decorations = frameGeometry().size() - size();
            if (decorations.width() > 0 || decorations.height() > 0) {
                m_bDecorated = true;
                ApplyGeometry(decorations);
            }
        }
        break;
    default:
        break;
    }
    return result;
}

void FrameWindow::closeEvent(QCloseEvent* event) {
    if (m_bFrameGone) {
        event->accept();
        return;
    }
    // The frame decides: its close handling destroys it, and OnDestroy hides this window.
    event->ignore();
    m_frame.SendMessageW(WM_CLOSE);
    m_backend.Pump();
}

} // namespace fw::qtui
