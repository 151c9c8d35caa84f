// Firmware in the window: loading a package with the window's command, remembering it for the
// next start, what a refusal says, the About box's firmware line, and the test images kept
// away from a serial line.
#include "gui_harness.h"

#include "firmware/package_maker.h"
#include "platform/version.h"

#include <QLabel>
#include <QListWidget>
#include <QTest>

namespace orvane::gui_testing {
namespace {

using namespace orvane::ui;
namespace fs = std::filesystem;

class WindowFirmware : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveMinisign())
            GTEST_SKIP() << "minisign is not installed (scripts/setup installs it)";
        ASSERT_TRUE(m_work.isValid());
        maker = std::make_unique<test::PackageMaker>(m_work.path().toStdString());
        ASSERT_TRUE(maker->MakeKey("vendor"));
        ASSERT_TRUE(maker->Write());
    }
    // The vendor's key in the user's keys folder (of the settings folder in use).
    void TrustVendor() const {
        const fs::path keys = fs::path(SettingsFolder()) / "keys";
        fs::create_directories(keys);
        fs::copy_file(maker->PublicKey("vendor"), keys / "vendor.pub",
                      fs::copy_options::overwrite_existing);
    }
    static void Choose(Gui& gui, const fs::path& path) {
        gui.app->Backend()->SetFileChooser(
            [path](const fw::qtui::FileRequest&) { return path.u16string(); });
    }
    static QString AboutFirmwareLine(Gui& gui) {
        QString line;
        gui.dialogScript = [&line](QDialog& dlg) {
            if (auto* label = dlg.findChild<QLabel*>(QStringLiteral("control-1060")))
                line = label->text();
            QTest::keyClick(&dlg, Qt::Key_Escape);
        };
        gui.Button(ID_APP_ABOUT)->trigger();
        return line;
    }

    QTemporaryDir m_work;
    std::unique_ptr<test::PackageMaker> maker;
};

TEST_F(WindowFirmware, LoadedPackageIsSentAndRemembered) {
    std::u16string remembered;
    {
        Gui gui(Options().Identifier("K99X"));
        TrustVendor();
        EXPECT_EQ(AboutFirmwareLine(gui),
                  QStringLiteral("Version %1\nFirmware: placeholder images").arg(orvane::kVersion));
        Choose(gui, maker->dir / "manifest.json"); // any file of the package names its folder
        gui.Menu(ID_LOAD_FIRMWARE)->trigger();
        ASSERT_TRUE(gui.boxes.empty()) << gui.boxes[0].text.toStdString();
        EXPECT_EQ(gui.Frame().Firmware()->Origin(), "2026.11 K-series");
        auto* list = gui.Window()->findChild<QListWidget*>("control-1019");
        EXPECT_TRUE(list->item(list->count() - 1)->text().startsWith("Firmware: firmware package"));
        EXPECT_EQ(AboutFirmwareLine(gui),
                  QStringLiteral("Version %1\nFirmware: 2026.11 K-series").arg(orvane::kVersion));

        gui.Button(ID_UPDATE)->trigger();
        ASSERT_TRUE(gui.WaitFor([&] { return !gui.boxes.empty(); }, 10000));
        EXPECT_EQ(gui.boxes[0].text, "Firmware update complete.\nPlease turn off the receiver.");
        const auto blocks = gui.rx.Blocks();
        ASSERT_EQ(blocks.size(), 200u);
        const auto& g = maker->images["G"];
        EXPECT_EQ(test::Bytes(blocks[0].begin() + 11, blocks[0].end() - 3),
                  test::Bytes(g.begin() + 1, g.begin() + 129));
        remembered = FromUtf8(OpenSettingsStore()->Text(app::kFirmwarePackageKey));
        EXPECT_EQ(fs::path(remembered), maker->dir);
    }
    // The next start takes it up again.
    Gui again(Options().Prepare([&] {
        TrustVendor();
        const auto store = OpenSettingsStore();
        store->SetValue(app::kFirmwarePackageKey, ToUtf8(remembered));
        store->Sync();
    }));
    EXPECT_TRUE(again.boxes.empty());
    EXPECT_EQ(again.Frame().Firmware()->Origin(), "2026.11 K-series");
}

// A package loaded while blocks go out would be named by the list and the About box as the
// firmware written, while the transfer goes on from the set it began with: the command is
// refused then, by its handler too, and taken again once the transfer has ended.
TEST_F(WindowFirmware, NoPackageIsLoadedWhileATransferRuns) {
    Gui gui(Options().Identifier("K64E").SilentAfter(5)); // block 6 is never acknowledged
    TrustVendor();
    Choose(gui, maker->dir);
    auto* list = gui.Window()->findChild<QListWidget*>("control-1019");
    gui.Button(ID_UPDATE)->trigger();
    ASSERT_TRUE(gui.WaitFor([&] { return gui.app->View()->IsTransferRunning(); }, 5000));
    const QString about = QStringLiteral("Version %1\nFirmware: ").arg(orvane::kVersion);

    gui.app->Backend()->RefreshCommandStates();
    EXPECT_FALSE(gui.Menu(ID_LOAD_FIRMWARE)->isEnabled());
    // The handler, as any other way in would reach it, whatever the menu shows.
    EXPECT_TRUE(gui.app->OnCmdMsg(ID_LOAD_FIRMWARE));
    ASSERT_EQ(gui.boxes.size(), 1u);
    EXPECT_TRUE(gui.boxes[0].text.contains("transfer is running"))
        << gui.boxes[0].text.toStdString();
    EXPECT_FALSE(gui.app->LoadFirmware(maker->dir.u16string()));
    EXPECT_EQ(gui.boxes.size(), 2u);
    ASSERT_TRUE(gui.app->View()->IsTransferRunning());
    const auto written = gui.app->View()->m_pFirmwareInUse;
    ASSERT_NE(written, nullptr);
    EXPECT_TRUE(written->IsPlaceholder());
    EXPECT_EQ(gui.Frame().Firmware(), written);
    EXPECT_EQ(AboutFirmwareLine(gui), about + QString::fromStdString(written->Origin()));
    EXPECT_TRUE(list->findItems("Firmware: firmware package", Qt::MatchStartsWith).isEmpty());
    EXPECT_FALSE(OpenSettingsStore()->Contains(app::kFirmwarePackageKey));

    // Once the transfer has ended (the link broken), the package is taken.
    gui.Menu(ID_BREAK_CONNECTION)->trigger();
    gui.app->Backend()->RefreshCommandStates();
    EXPECT_TRUE(gui.Menu(ID_LOAD_FIRMWARE)->isEnabled());
    gui.Menu(ID_LOAD_FIRMWARE)->trigger();
    EXPECT_EQ(gui.boxes.size(), 2u); // none more
    EXPECT_EQ(gui.Frame().Firmware()->Origin(), "2026.11 K-series");
    EXPECT_EQ(AboutFirmwareLine(gui), about + "2026.11 K-series");
}

// The panel below the progress bar names the firmware sent: the resource text for the build's
// own, the release and date of a package however it came (loaded, or remembered from the last
// run), in the window's language.
TEST_F(WindowFirmware, PanelBelowTheBarNamesTheFirmwareSent) {
    enum class Load { None, Command, AtStart };
    struct Row {
        const char* what;
        Load load;
        bool dated;
        int language;
        const char* text;
    };
    const char* dated =
        "Marvek ARM Receiver firmware\nRelease:\n 2026.11 K-series \n\nRelease Date:   "
        "2026-11-30";
    const Row rows[] = {
        {"built-in", Load::None, true, 1,
         "Marvek ARM Receiver firmware\nSupport Receiver:\n VID_EZ4I0 \n\nRelease Date:   "
         "2017-05-25"},
        {"package loaded", Load::Command, true, 1, dated},
        {"package remembered", Load::AtStart, true, 1, dated},
        {"package without a date", Load::Command, false, 1,
         "Marvek ARM Receiver firmware\nRelease:\n 2026.11 K-series "},
        {"package, Chinese window", Load::Command, true, 0,
         "Marvek ARM \xE6\x8E\xA5\xE6\x94\xB6\xE6\x9C\xBA\xE5\x9B\xBA\xE4\xBB\xB6\n"
         "\xE7\x89\x88\xE6\x9C\xAC:\n 2026.11 K-series \n\n"
         "\xE5\x8F\x91\xE5\xB8\x83\xE6\x97\xA5\xE6\x9C\x9F:   2026-11-30"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::function<void(nlohmann::json&)> edit;
        if (!row.dated)
            edit = [](nlohmann::json& m) { m.erase("date"); };
        ASSERT_TRUE(maker->Write(edit));
        Gui gui(Options().Language(row.language).Prepare([&] {
            TrustVendor();
            if (row.load == Load::AtStart) {
                const auto store = OpenSettingsStore();
                store->SetValue(app::kFirmwarePackageKey, maker->dir.string());
                store->Sync();
            }
        }));
        if (row.load == Load::Command) {
            Choose(gui, maker->dir);
            gui.Menu(ID_LOAD_FIRMWARE)->trigger();
        }
        ASSERT_TRUE(gui.boxes.empty()) << gui.boxes[0].text.toStdString();
        QStringList panels;
        for (const QLabel* label : gui.Window()->findChildren<QLabel*>())
            if (label->text().startsWith("Marvek ARM"))
                panels << label->text();
        EXPECT_EQ(panels.join(QStringLiteral(" | ")).toStdString(), row.text);
    }
}

TEST_F(WindowFirmware, RefusedPackageSaysWhichFileAndChangesNothing) {
    test::FlipByte(maker->dir / "G.bin", 500);
    Gui gui;
    TrustVendor();
    Choose(gui, maker->dir);
    gui.Menu(ID_LOAD_FIRMWARE)->trigger();
    ASSERT_TRUE(gui.WaitFor([&] { return !gui.boxes.empty(); }, 3000));
    EXPECT_TRUE(gui.boxes[0].text.contains(QString::fromStdString((maker->dir / "G.bin").string())))
        << gui.boxes[0].text.toStdString();
    EXPECT_TRUE(gui.boxes[0].text.contains("SHA-256"));
    EXPECT_EQ(gui.boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(gui.Frame().Firmware()->IsPlaceholder());
    EXPECT_FALSE(OpenSettingsStore()->Contains(app::kFirmwarePackageKey));
}

TEST_F(WindowFirmware, RememberedPackageThatFailsLeavesTheBuiltInFirmware) {
    Gui gui(Options().Prepare([&] {
        // No key trusted this time.
        const auto store = OpenSettingsStore();
        store->SetValue(app::kFirmwarePackageKey, maker->dir.string());
        store->Sync();
    }));
    ASSERT_TRUE(gui.started);
    ASSERT_EQ(gui.boxes.size(), 1u);
    EXPECT_TRUE(gui.boxes[0].text.contains("loaded last time was refused"));
    EXPECT_TRUE(gui.boxes[0].text.contains("no trusted public key"));
    EXPECT_TRUE(gui.Frame().Firmware()->IsPlaceholder());
}

TEST(WindowPlaceholderGuard, TestImagesAreNotLinkedToASerialLine) {
    Gui gui(Options().PseudoTerminal(false).Identifier("K64E"));
    ASSERT_TRUE(gui.started);
    EXPECT_FALSE(gui.Frame().IsLinked());
    ASSERT_EQ(gui.boxes.size(), 1u);
    EXPECT_TRUE(gui.boxes[0].text.contains("carries test images"));
    EXPECT_TRUE(gui.boxes[0].text.contains("Load firmware package"));
    EXPECT_FALSE(gui.Menu(ID_UPDATE)->isEnabled());
    EXPECT_TRUE(gui.rx.written.empty());
}

// The bench override lets the test images go to a line the updater cannot tell from a cable;
// whenever it is on, the first line of the list says so, and whenever it is off nothing does.
TEST(WindowPlaceholderGuard, BenchOverrideIsAnnouncedFirst) {
    struct Row {
        const char* what;
        bool pseudoTerminal;
        bool allow;
    };
    const Row rows[] = {
        {"serial line, override", false, true},
        {"simulated receiver, override", true, true},
        {"simulated receiver, no override", true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Gui gui(Options().PseudoTerminal(row.pseudoTerminal).AllowPlaceholder(row.allow));
        ASSERT_TRUE(gui.started);
        EXPECT_TRUE(gui.Frame().IsLinked());
        EXPECT_TRUE(gui.boxes.empty());
        auto* list = gui.Window()->findChild<QListWidget*>("control-1019");
        const auto bench = list->findItems("Bench mode", Qt::MatchStartsWith);
        if (!row.allow) {
            EXPECT_TRUE(bench.isEmpty());
            continue;
        }
        ASSERT_GE(list->count(), 1);
        const QString first = list->item(0)->text();
        EXPECT_TRUE(first.startsWith("Bench mode")) << first.toStdString();
        EXPECT_TRUE(first.contains("placeholder test firmware may go to any port"));
        EXPECT_TRUE(first.contains("never link a real receiver"));
    }
}

} // namespace
} // namespace orvane::gui_testing
