// The application object: the language value read at start-up, the bundle it loads, the
// check marks, the restart requests, and the content-less document.
#include "gui/gui_harness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

namespace orvane::gui_testing {
namespace {

using namespace orvane::ui;

struct LanguageCase {
    const char* name;
    std::optional<int> stored;
    bool chineseSystem;
    bool bundleThere;
    int language; // the value the start goes by
    bool englishChecked;
    bool chineseChecked;
    bool bundleLoaded;
    const char* connectMenu; // the first menu's text as shown
};

TEST(Language, StartUpValueChecksAndBundle) {
    const std::vector<LanguageCase> cases = {
        // Nothing stored (a first start): the system's language.
        {"absent, Chinese system", std::nullopt, true, true, 0, false, true, true, "连接(&C)"},
        {"absent, English system", std::nullopt, false, true, 1, true, false, false, "&Connect"},
        // A stored value wins over the system's language.
        {"0", 0, false, true, 0, false, true, true, "连接(&C)"},
        {"1", 1, true, true, 1, true, false, false, "&Connect"},
        {"2", 2, false, true, 2, false, false, true, "连接(&C)"},
        // A missing bundle leaves English, silently; the value (and the checks) stay as read.
        {"0 without bundle", 0, true, false, 0, false, true, false, "&Connect"},
    };
    for (const auto& c : cases) {
        Gui gui(Options().Language(c.stored).ChineseSystem(c.chineseSystem).Bundle(c.bundleThere));
        ASSERT_TRUE(gui.started) << c.name;
        EXPECT_EQ(gui.app->m_nLanguage, c.language) << c.name;
        EXPECT_EQ(gui.app->m_hLangBundle.IsLoaded(), c.bundleLoaded) << c.name;
        EXPECT_EQ(gui.Menu(ID_LANGUAGE_ENGLISH)->isChecked(), c.englishChecked) << c.name;
        EXPECT_EQ(gui.Menu(ID_LANGUAGE_CHINESE)->isChecked(), c.chineseChecked) << c.name;
        EXPECT_EQ(gui.Window()->menuBar()->actions().at(0)->text(),
                  QString::fromUtf8(c.connectMenu))
            << c.name;
        // Fixed texts of the system stay English in every language.
        EXPECT_EQ(gui.Title(), "COM3") << c.name;
        EXPECT_TRUE(gui.boxes.empty()) << c.name;
    }
}

TEST(Language, ChineseBundleTranslatesDialogs) {
    Gui gui(Options().Language(0).PortAvailable(false));
    QString caption;
    QStringList buttons;
    gui.dialogScript = [&](QDialog& dlg) {
        caption = dlg.windowTitle();
        for (auto* b : dlg.findChildren<QPushButton*>())
            buttons << b->text();
        dlg.reject();
    };
    gui.Menu(ID_SETUP)->trigger();
    EXPECT_EQ(caption, QString::fromUtf8("端口"));
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{QString::fromUtf8("取消(&C)"), QString::fromUtf8("确定(&O)")}));
}

struct RestartCase {
    const char* name;
    std::optional<int> stored;
    fw::UINT command;
    const char* message; // nullptr: no box
    int storedAfter;     // -1: nothing stored
};

TEST(Language, RestartRequestWrittenOnlyOnChange) {
    const std::vector<RestartCase> cases = {
        {"english while english", 1, ID_LANGUAGE_ENGLISH, nullptr, 1},
        {"chinese while chinese", 0, ID_LANGUAGE_CHINESE, nullptr, 0},
        {"chinese while absent (chinese)", std::nullopt, ID_LANGUAGE_CHINESE, nullptr, -1},
        {"chinese while english", 1, ID_LANGUAGE_CHINESE, "请重启应用程序，使设置生效!", 0},
        {"english while chinese", 0, ID_LANGUAGE_ENGLISH,
         "This application must re-start, and enable your modify!", 1},
        {"english while 2", 2, ID_LANGUAGE_ENGLISH,
         "This application must re-start, and enable your modify!", 1},
        {"chinese while 2", 2, ID_LANGUAGE_CHINESE, "请重启应用程序，使设置生效!", 0},
    };
    for (const auto& c : cases) {
        Gui gui(Options().Language(c.stored));
        const bool englishBefore = gui.Menu(ID_LANGUAGE_ENGLISH)->isChecked();
        const bool chineseBefore = gui.Menu(ID_LANGUAGE_CHINESE)->isChecked();
        gui.Menu(c.command)->trigger();
        if (c.message) {
            ASSERT_EQ(gui.boxes.size(), 1u) << c.name;
            EXPECT_EQ(gui.boxes[0].text, QString::fromUtf8(c.message)) << c.name;
            EXPECT_EQ(gui.boxes[0].icon, QMessageBox::Information) << c.name;
            EXPECT_EQ(gui.boxes[0].caption, "Orvane Update") << c.name;
        } else {
            EXPECT_TRUE(gui.boxes.empty()) << c.name;
        }
        EXPECT_EQ(gui.StoredLanguage(), c.storedAfter) << c.name;
        // The check marks show the language in use until the next start.
        EXPECT_EQ(gui.Menu(ID_LANGUAGE_ENGLISH)->isChecked(), englishBefore) << c.name;
        EXPECT_EQ(gui.Menu(ID_LANGUAGE_CHINESE)->isChecked(), chineseBefore) << c.name;
    }
}

// Settings that cannot be written (the settings file replaced by a folder, which stops root
// too): the choice is not stored, and the operator is told so instead of being sent into a
// restart that changes nothing.
TEST(Language, AChoiceThatCannotBeStoredIsNotAnnouncedAsStored) {
    struct Case {
        const char* name;
        int stored;
        fw::UINT command;
    };
    const Case cases[] = {{"english while chinese", 0, ID_LANGUAGE_ENGLISH},
                          {"chinese while english", 1, ID_LANGUAGE_CHINESE}};
    for (const auto& c : cases) {
        Gui gui(Options().Language(c.stored));
        const QString file = QString::fromStdString(OpenSettingsStore()->FileName());
        ASSERT_TRUE(QFile::remove(file)) << c.name;
        ASSERT_TRUE(QDir().mkpath(file)) << c.name;
        gui.Menu(c.command)->trigger();
        ASSERT_EQ(gui.boxes.size(), 1u) << c.name;
        EXPECT_TRUE(gui.boxes[0].text.startsWith("The language could not be stored")) << c.name;
        EXPECT_EQ(gui.boxes[0].icon, QMessageBox::Critical) << c.name;
        QDir(file).removeRecursively();
    }
}

TEST(Document, SaveWritesAnEmptyFileAndOpenReadsNothing) {
    Gui gui;
    QTemporaryDir dir;
    const QString saved = dir.filePath("first.doc");
    int asked = 0;
    gui.app->Backend()->SetFileChooser([&](const fw::qtui::FileRequest& r) {
        ++asked;
        EXPECT_FALSE(r.open);
        EXPECT_EQ(r.suggestedName, u"OrvaneUpdate");
        return std::optional<std::u16string>(saved.toStdU16String());
    });
    QTest::keySequence(gui.Window(), QKeySequence(QStringLiteral("Ctrl+S")));
    QTest::keySequence(gui.Window(), QKeySequence(QStringLiteral("Ctrl+S"))); // has a name now
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(QFileInfo::exists(saved));
    EXPECT_EQ(QFileInfo(saved).size(), 0);

    // Open a file with content: nothing of it reaches the updater, the view is untouched.
    const QString other = dir.filePath("other.doc");
    {
        QFile f(other);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a document of ours");
    }
    const int lines = gui.app->View()->m_list.GetCount();
    gui.app->Backend()->SetFileChooser([&](const fw::qtui::FileRequest& r) {
        EXPECT_TRUE(r.open);
        return std::optional<std::u16string>(other.toStdU16String());
    });
    QTest::keySequence(gui.Window(), QKeySequence(QStringLiteral("Ctrl+O")));
    EXPECT_EQ(gui.app->Document()->GetPathName(), other.toStdU16String());
    EXPECT_EQ(gui.app->View()->m_list.GetCount(), lines);
    EXPECT_EQ(gui.app->RecentFiles().front(), other.toStdU16String());
    QTest::keySequence(gui.Window(), QKeySequence(QStringLiteral("Ctrl+N")));
    EXPECT_TRUE(gui.app->Document()->GetPathName().empty());
    EXPECT_TRUE(gui.boxes.empty());
}

TEST(Document, RecentFileListKeepsFourInTheProfile) {
    QTemporaryDir dir;
    std::vector<QString> files;
    {
        Gui gui;
        for (int i = 0; i < 6; ++i) {
            files.push_back(dir.filePath(QStringLiteral("f%1").arg(i)));
            QFile(files.back()).open(QIODevice::WriteOnly);
            ASSERT_TRUE(gui.app->OpenDocumentFile(files.back().toStdU16String()));
        }
        gui.app->ExitInstance();
        const auto store = OpenSettingsStore();
        EXPECT_EQ(QString::fromStdString(store->Text("Recent File List/File1")), files[5]);
        EXPECT_EQ(QString::fromStdString(store->Text("Recent File List/File4")), files[2]);
        EXPECT_FALSE(store->Contains("Recent File List/File5"));
        gui.app.reset();
    }
}

} // namespace
} // namespace orvane::gui_testing
