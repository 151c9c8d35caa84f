// Every text of every form fits its control, in English and in Chinese, and the main window's
// view is no larger than its form.
#include "gui_harness.h"

#include "app/resources.h"
#include "framework/qt/widgets.h"

#include <QGlyphRun>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRawFont>
#include <QTest>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace orvane::gui_testing {
namespace {

using namespace orvane::ui;

// The height a text needs in `font`: every line as tall as the tallest font its characters are
// drawn in (fallback fonts included), whatever the line box of the font itself says.
int NeededHeight(const QString& text, const QFont& font) {
    double total = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        QTextLayout layout(line.isEmpty() ? QStringLiteral(" ") : line, font);
        layout.beginLayout();
        const QTextLine l = layout.createLine();
        layout.endLayout();
        double height = l.height();
        for (const QGlyphRun& run : layout.glyphRuns())
            height = std::max(height, run.rawFont().ascent() + run.rawFont().descent());
        total += height;
    }
    return static_cast<int>(std::ceil(total));
}

// Problems found in the form below `root`: texts cut by their control or by the form.
QStringList TextsThatDoNotFit(QWidget* root) {
    QStringList problems;
    const QRect inside = root->rect();
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue; // a picture
        const QSize need(
            label->sizeHint().width(),
            std::max(label->sizeHint().height(), NeededHeight(label->text(), label->font())));
        const QRect where(label->mapTo(root, QPoint(0, 0)), label->size());
        if (need.width() > label->width() || need.height() > label->height())
            problems << QStringLiteral("%1 needs %2x%3, has %4x%5")
                            .arg(
                                label->text().left(20).replace(QLatin1Char('\n'), QLatin1Char('|')))
                            .arg(need.width())
                            .arg(need.height())
                            .arg(label->width())
                            .arg(label->height());
        if (!inside.contains(where))
            problems << QStringLiteral("%1 lies outside the form").arg(label->text().left(20));
    }
    for (QPushButton* button : root->findChildren<QPushButton*>()) {
        QString text = button->text();
        text.remove(QLatin1Char('&'));
        const int need = button->fontMetrics().horizontalAdvance(text);
        if (need > button->width())
            problems << QStringLiteral("button %1 needs %2, has %3")
                            .arg(text)
                            .arg(need)
                            .arg(button->width());
    }
    return problems;
}

TEST(FormFit, DialogUnitsHoldTheTallestLineOfTheFontsUsed) {
    Gui gui; // the application and its fonts
    struct Case {
        const char* family;
        const char* text;
    };
    const Case cases[] = {
        {"Fixedsys", "Messages:"},
        {"Fixedsys", "\xE4\xBF\xA1\xE6\x81\xAF:"}, // drawn in a CJK fallback font
        {"MS Sans Serif", "Release Date:   2017-05-25"},
        {"MS Sans Serif", "\xE5\x8F\x91\xE5\xB8\x83\xE6\x97\xA5\xE6\x9C\x9F"},
    };
    for (const Case& c : cases) {
        fw::qtui::DialogTemplate t;
        t.fontFamily = c.family;
        t.pointSize = c.family[0] == 'F' ? 12 : 8;
        const QString text = QString::fromUtf8(c.text);
        const fw::qtui::DialogMetrics m = fw::qtui::MetricsFor(t, {text});
        // A line is 8 units high.
        EXPECT_GE(m.ToPixels(0, 0, 0, 8).height(), NeededHeight(text, m.font)) << c.text;
    }
}

TEST(FormFit, EveryTextFitsInBothLanguages) {
    struct Case {
        const char* language;
        int value;
    };
    const Case cases[] = {{"English", 1}, {"Chinese", 0}};
    for (const Case& c : cases) {
        Gui gui(Options().Language(c.value).PortAvailable(false));
        QWidget* view = gui.Window()->findChild<QWidget*>(QStringLiteral("view"));
        ASSERT_NE(view, nullptr) << c.language;
        EXPECT_EQ(TextsThatDoNotFit(view).join(QStringLiteral("; ")).toStdString(), "")
            << c.language << " main window";

        for (const fw::UINT command : {ID_SETUP, ID_APP_ABOUT}) {
            QStringList problems{QStringLiteral("no dialog")};
            gui.dialogScript = [&](QDialog& dialog) {
                problems = TextsThatDoNotFit(&dialog);
                dialog.reject();
            };
            gui.app->Backend()->RunCommand(command);
            EXPECT_EQ(problems.join(QStringLiteral("; ")).toStdString(), "")
                << c.language << " dialog of command " << command;
        }
    }
}

// The form is as wide as in the native window, in both languages: there the base units of the
// fixed system font (and of the fixed-pitch face standing in for it at 10 points where it is
// missing, as under Wine) are cells 8 pixels wide, so a dialog unit across is 2 pixels. The
// Chinese texts, drawn in a taller fallback font, must not narrow it.
TEST(FormFit, FormIsAsWideAsInTheNativeWindow) {
    constexpr int kNativeBaseUnitX = 8;
    const auto& templates = app::DialogTemplates();
    const auto form = std::find_if(templates.begin(), templates.end(),
                                   [](const auto& t) { return t.id == IDD_UPDATE_FORM; });
    ASSERT_NE(form, templates.end());
    ASSERT_EQ(form->fontFamily, "Fixedsys");
    const double native = form->cx * kNativeBaseUnitX / 4.0;
    for (const int language : {1, 0}) {
        SCOPED_TRACE(language == 1 ? "English" : "Chinese");
        Gui gui(Options().Language(language));
        QWidget* view = gui.Window()->findChild<QWidget*>(QStringLiteral("view"));
        ASSERT_NE(view, nullptr);
        const int width = view->property("formSize").toSize().width();
        EXPECT_NEAR(width, native, native * 0.02);
        EXPECT_GE(view->width(), width); // and the window shows all of it
    }
}

TEST(FormFit, FrameShrinksToItsFormButNeverGrows) {
    for (const int language : {1, 0}) {
        Gui gui(Options().Language(language));
        QMainWindow* w = gui.Window();
        QWidget* view = w->findChild<QWidget*>(QStringLiteral("view"));
        ASSERT_NE(view, nullptr);
        const QSize form = view->property("formSize").toSize();
        ASSERT_TRUE(form.isValid()) << language;
        // The outer size is the resources' at most; where the view is smaller than the form in
        // one direction, the window kept its full size in that direction.
        const QSize outer = w->frameGeometry().size();
        EXPECT_LE(outer.width(), 350) << language;
        EXPECT_LE(outer.height(), 462) << language;
        EXPECT_LE(view->width(), form.width()) << language;
        EXPECT_LE(view->height(), form.height()) << language;
        if (view->width() < form.width()) {
            EXPECT_EQ(outer.width(), 350) << language;
        }
        if (view->height() < form.height()) {
            EXPECT_EQ(outer.height(), 462) << language;
        }
        EXPECT_EQ(w->minimumSize(), w->maximumSize()) << language;
    }
}

// Under a window manager (run by tests/gui/under_wm.sh on a virtual X server) the outer size is
// the resources' 350 x 462 less only what the form does not need; elsewhere it is skipped.
TEST(FormFit, OuterSizeUnderAWindowManager) {
    Gui gui;
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs a window manager on X11";
    QMainWindow* w = gui.Window();
    ASSERT_TRUE(gui.WaitFor([&] { return w->frameGeometry().size() != w->size(); }, 5000))
        << "the window manager did not frame the window: visible " << w->isVisible() << ", frame "
        << w->frameGeometry().width() << "x" << w->frameGeometry().height() << " at "
        << w->frameGeometry().x() << "," << w->frameGeometry().y() << ", client " << w->width()
        << "x" << w->height() << " at " << w->x() << "," << w->y();
    gui.Settle();
    QWidget* view = w->findChild<QWidget*>(QStringLiteral("view"));
    const QSize form = view->property("formSize").toSize();
    const QSize outer = w->frameGeometry().size();
    EXPECT_EQ(outer.width(), view->width() < form.width() ? 350 : outer.width());
    EXPECT_EQ(outer.height(), view->height() < form.height() ? 462 : outer.height());
    EXPECT_LE(outer.width(), 350);
    EXPECT_LE(outer.height(), 462);
    EXPECT_GT(outer.height(), w->height()); // the caption is part of the 462
}

} // namespace
} // namespace orvane::gui_testing
