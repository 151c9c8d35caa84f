#include "scripted_link.h"

#include "ui/link_setup_dlg.h"

#include <gtest/gtest.h>

namespace orvane::ui::testing {
namespace {

using namespace std::chrono_literals;

TEST(PortSetting, NumberFromTheStoredName) {
    const std::pair<const char16_t*, int> cases[] = {
        {u"COM12", 12},
        {u"COM1", 1},
        {u"COM255", 255},
        {u"COM0", 1},
        {u"COM300", 1},
        {u"com5", 1},
        {u"COMx", 1},
        {u"", 1},
        {u"COM 7", 7},
        {u"COM-3", 1},
        {u"xCOM5", 1},
        {u"COM5abc", 5},
        {u"COM99999999999999", 1},
    };
    for (const auto& [name, port] : cases)
        EXPECT_EQ(PortNumberFromName(name), port) << std::string(name, name + 5);
}

TEST(MainFrame, LinkStatesTitlesAndEnableStates) {
    Updater u;
    EXPECT_EQ(u.openedPort, 3);
    EXPECT_EQ(u.frame->GetWindowTextW(), u"COM3");
    struct Expect {
        fw::UINT id;
        bool whenOpen, whenClosed;
    };
    const Expect commands[] = {{ID_LINK, false, true},
                               {ID_BREAK_CONNECTION, true, false},
                               {ID_SETUP, false, true},
                               {ID_UPDATE, true, false},
                               {ID_EXIT, true, true}};
    for (const auto& c : commands)
        EXPECT_EQ(u.frame->IsCommandEnabled(c.id), c.whenOpen) << c.id;

    // Esc is Link: while open it does nothing.
    EXPECT_FALSE(u.Command(ID_LINK));
    EXPECT_EQ(u.openedPort, 3);

    ASSERT_TRUE(u.Command(ID_BREAK_CONNECTION));
    EXPECT_FALSE(u.frame->IsLinked());
    EXPECT_EQ(u.frame->GetWindowTextW(), u"No Connection");
    for (const auto& c : commands)
        EXPECT_EQ(u.frame->IsCommandEnabled(c.id), c.whenClosed) << c.id;

    // Setup, choose COM12, OK, then Link: the link opens on the new port.
    fw::headless::DialogScript script([](fw::CDialog& dlg) {
        auto& setup = dynamic_cast<CLinkSetupDlg&>(dlg);
        setup.m_comboPort.SelectByUser(2);
        setup.OnOK();
    });
    ASSERT_TRUE(u.Command(ID_SETUP));
    EXPECT_EQ(u.frame->m_nPort, 12);
    EXPECT_EQ(u.frame->GetWindowTextW(), u"No Connection");
    ASSERT_TRUE(u.Command(ID_LINK));
    EXPECT_EQ(u.openedPort, 12);
    EXPECT_EQ(u.frame->GetWindowTextW(), u"COM12");
}

TEST(MainFrame, PortThatCannotBeOpenedKeepsTheCreationTitle) {
    Updater u(false);
    u.portAvailable = false;
    u.Create();
    EXPECT_FALSE(u.frame->IsLinked());
    EXPECT_EQ(u.frame->GetWindowTextW(), u"OrvaneUpdate");
    EXPECT_TRUE(u.frame->IsCommandEnabled(ID_LINK));
    EXPECT_FALSE(u.frame->IsCommandEnabled(ID_UPDATE));
    EXPECT_FALSE(u.frame->LastOpenFailure().empty());
    EXPECT_TRUE(u.boxes->Boxes().empty());
}

TEST(MainFrame, TicksOnAClosedLinkSendNothingAndKeepGoing) {
    Updater u;
    u.Command(ID_UPDATE);
    u.Run(300ms);
    EXPECT_EQ(u.rx.Count('S'), 1u);
    u.Command(ID_BREAK_CONNECTION);
    const auto start = u.clock.Now();
    u.Run(900ms);
    EXPECT_EQ(u.rx.Count('S'), 1u);
    EXPECT_TRUE(u.app.IsTimerSet(u.frame->GetSafeHwnd(), firmware::kHandshakeTimerId));
    // No 100 ms waits were spent on the closed link.
    EXPECT_EQ(u.clock.Now() - start, std::chrono::steady_clock::duration(900ms));
    EXPECT_EQ(u.frame->SendCommand(u"SS, B49,B54,", 100), 0);
}

TEST(MainFrame, FramesKeepTheirTypeAcrossReopening) {
    Updater u;
    u.frame->m_nFrameType = 20;
    u.Command(ID_BREAK_CONNECTION);
    u.Command(ID_LINK);
    EXPECT_EQ(u.frame->SendCommand(u"SS, B49,B54,", 100), 1);
    EXPECT_EQ(u.rx.written.back()[4], 20);
}

TEST(MainFrame, LostDeviceIsReportedOnceAndClosesTheLink) {
    Updater u;
    int reports = 0;
    u.frame->m_onLinkLost = [&](const std::u16string&) { ++reports; };
    u.Command(ID_UPDATE);
    u.rx.lost = true;
    u.Run(1000ms);
    EXPECT_EQ(reports, 1);
    EXPECT_FALSE(u.frame->IsLinked());
    EXPECT_EQ(u.frame->GetWindowTextW(), u"No Connection");
    EXPECT_EQ(u.LastLine(), u"COM3: the serial device was disconnected.");
}

TEST(LinkSetupDialog, ListAndSelection) {
    struct Case {
        std::vector<std::u16string> ports;
        int current;
        int selected;
        std::u16string text;
    };
    const Case cases[] = {
        {{u"\\\\.\\COM1", u"\\\\.\\COM3", u"\\\\.\\COM12"}, 3, 1, u"COM3"},
        {{u"\\\\.\\COM1", u"\\\\.\\COM3", u"\\\\.\\COM12"}, 12, 2, u"COM12"},
        // A current port missing from the list selects the entry at its number's position.
        {{u"\\\\.\\COM1", u"\\\\.\\COM3", u"\\\\.\\COM4"}, 2, 2, u"COM4"},
        {{u"\\\\.\\COM1", u"\\\\.\\COM3"}, 7, -1, u""},
        {{}, 1, -1, u""},
    };
    for (const Case& c : cases) {
        Updater u(false);
        u.ports = c.ports;
        u.portAvailable = false;
        u.Create();
        u.frame->m_nPort = c.current;
        CLinkSetupDlg* seen = nullptr;
        std::vector<std::u16string> listed;
        int selection = -2;
        std::u16string text;
        fw::headless::DialogScript script([&](fw::CDialog& dlg) {
            seen = &dynamic_cast<CLinkSetupDlg&>(dlg);
            for (int i = 0; i < seen->m_comboPort.GetCount(); ++i)
                listed.push_back(seen->m_comboPort.GetLBText(i));
            selection = seen->m_comboPort.GetCurSel();
            text = seen->m_comboPort.GetWindowTextW();
            seen->OnOK();
        });
        u.Command(ID_SETUP);
        ASSERT_NE(seen, nullptr);
        std::vector<std::u16string> expected;
        for (const auto& p : c.ports)
            expected.push_back(p.substr(4));
        EXPECT_EQ(listed, expected);
        EXPECT_EQ(selection, c.selected);
        EXPECT_EQ(text, c.text);
        // OK without a change keeps the port when nothing could be read.
        EXPECT_EQ(u.frame->m_nPort, c.text.empty()
                                        ? c.current
                                        : std::stoi(std::string(c.text.begin() + 3, c.text.end())));
    }
}

TEST(LinkSetupDialog, CancelKeepsThePort) {
    Updater u(false);
    u.portAvailable = false;
    u.Create();
    fw::headless::DialogScript script([](fw::CDialog& dlg) {
        auto& setup = dynamic_cast<CLinkSetupDlg&>(dlg);
        setup.m_comboPort.SelectByUser(2);
        setup.OnCancel();
    });
    u.Command(ID_SETUP);
    EXPECT_EQ(u.frame->m_nPort, 3);
}

} // namespace
} // namespace orvane::ui::testing
