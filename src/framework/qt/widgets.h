// The back end's widgets: the main window, the forms built from dialog templates, the
// control peers and the modal dialog. Private to the back end.
//
// Thread contract: user-interface thread only.
#pragma once

#include "framework/controls.h"
#include "framework/qt/backend.h"
#include "framework/qt/resources.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QFont>
#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>

namespace fw::qtui {

QString ToQ(std::u16string_view text);
std::u16string FromQ(const QString& text);

// The font a template's texts are drawn in and the pixel size of one dialog unit.
struct DialogMetrics {
    QFont font;
    double unitX = 2; // pixels per horizontal dialog unit (average character width / 4)
    double unitY = 2; // pixels per vertical dialog unit (character height / 8)
    QRect ToPixels(int x, int y, int cx, int cy) const;
};
// The units come from the template's font as the desktop computes them (the average width of
// "A" to "Z" and "a" to "z" in whole pixels, over 4; the line height over 8), so a form is as
// wide as in the native window. A text whose characters the font lacks is drawn in a fallback
// font (CJK, for instance), which may be taller, and a line of it must still fit the 8 units a
// line is given: a fixed-size form draws its texts smaller for that, any other form takes
// taller lines.
DialogMetrics MetricsFor(const DialogTemplate& t, const QStringList& texts = {});

// Builds the controls of a template on `parent` and binds those whose ids the window's
// children carry (list box, progress bar, combo box) through their peers. Buttons call
// onButton with their id. Returns the size of the template in pixels.
QSize BuildForm(const DialogTemplate& t, CWnd& owner, QWidget* parent,
                const std::function<QString(const std::u16string&)>& tr,
                const std::function<QPixmap(const std::string&)>& picture,
                const std::function<void(int)>& onButton);

class ListPeer final : public QObject, public IListBoxPeer {
public:
    ListPeer(CListBox& core, QListWidget* widget);
    ~ListPeer() override;
    void OnAddString(int index, std::u16string_view text) override;
    void OnDeleteString(int index) override;
    void OnSelect(int index) override;

private:
    CListBox& m_core;
    QPointer<QListWidget> m_widget;
};

class ProgressPeer final : public QObject, public IProgressPeer {
public:
    ProgressPeer(CProgressCtrl& core, QProgressBar* widget);
    ~ProgressPeer() override;
    void OnRange(int lower, int upper) override;
    void OnPos(int pos) override;
    void OnMarquee(bool on) override;

private:
    CProgressCtrl& m_core;
    QPointer<QProgressBar> m_widget;
};

// A static text bound to a window of the core: it shows the window's text as it changes.
class TextPeer final : public QObject, public IWndPeer {
public:
    TextPeer(CWnd& core, QLabel* widget);
    ~TextPeer() override;
    void OnSetText(std::u16string_view text) override;

private:
    CWnd& m_core;
    QPointer<QLabel> m_widget;
};

class ComboPeer final : public QObject, public IComboBoxPeer {
public:
    ComboPeer(CComboBox& core, QComboBox* widget);
    ~ComboPeer() override;
    void OnAddString(int index, std::u16string_view text) override;
    void OnSelect(int index) override;

private:
    CComboBox& m_core;
    QPointer<QComboBox> m_widget;
};

// A modal dialog for a CDialog: every ending (buttons, Esc, the caption's close button)
// goes through the dialog's own command handling, and the Qt dialog closes once the core
// dialog has ended.
class CoreDialog final : public QDialog {
public:
    CoreDialog(CDialog& core, const DialogTemplate& t, Backend& backend, QWidget* parent);
    void reject() override;
    void accept() override;

private:
    void Command(int id);
    CDialog& m_core;
};

// The main window for a frame.
class FrameWindow final : public QMainWindow, public IWndPeer {
public:
    FrameWindow(CFrameWnd& frame, const FrameResources& resources, Backend& backend);
    ~FrameWindow() override;
    void OnSetText(std::u16string_view text) override;
    void OnDestroy() override;
    void RefreshStates();
    bool FrameGone() const { return m_bFrameGone; }
    // The view's form is `form` pixels: the window shrinks (never grows) until its view is
    // no larger than the form.
    void FitToForm(QSize form);

protected:
    void closeEvent(QCloseEvent* event) override;
    // Watches for the window manager's frame: the resources give the window's outer size,
    // which is known only once the frame is there.
    bool event(QEvent* event) override;

private:
    QAction* CommandAction(UINT id, const QString& text);
    void AddMenuItems(QMenu* menu, const std::vector<MenuItem>& items);

    CFrameWnd& m_frame;
    Backend& m_backend;
    std::multimap<UINT, QAction*> m_actions; // every action that runs a command
    std::map<UINT, bool> m_checkable;
    bool m_bFrameGone = false;
    // Sets the client size from the outer size less the frame's decorations, then shrinks it
    // to fit the form.
    void ApplyGeometry(QSize decorations);
    QSize m_outer;             // the window's outer size from the resources
    QSize m_form;              // the view's form, invalid until known
    bool m_bDecorated = false; // the decorations have been taken into account
};

} // namespace fw::qtui
