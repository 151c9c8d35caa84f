#include "scripted_link.h"

#include "ui/link_setup_dlg.h"

#include <algorithm>

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
    u.Command(ID_UPDATE);
    u.rx.lost = true;
    u.Run(1000ms);
    EXPECT_EQ(u.events.Count(UpdateOutcome::DeviceLost), 1u);
    EXPECT_FALSE(u.frame->IsLinked());
    EXPECT_EQ(u.frame->GetWindowTextW(), u"No Connection");
    EXPECT_EQ(u.LastLine(), u"COM3: the serial device was disconnected.");
}

TEST(MainFrame, ADeviceLostWhileHandshakingIsOpenedAgainByItsIdentity) {
    Updater u;
    u.frame->m_bReopenLostDevice = true;
    u.Command(ID_UPDATE);
    u.Run(700ms);
    // Switched off: its USB port goes with it, and stays away for a while.
    u.rx.lost = true;
    u.portAvailable = false;
    u.Run(1000ms);
    EXPECT_FALSE(u.frame->IsLinked());
    EXPECT_TRUE(u.frame->IsWaitingForDevice());
    EXPECT_EQ(u.events.Count(UpdateOutcome::DeviceLost), 0u);
    const std::size_t tries = u.requests.size();
    EXPECT_GE(tries, 3u); // one try a tick
    for (std::size_t i = 1; i < u.requests.size(); ++i) {
        EXPECT_EQ(u.requests[i].identity, "usb:0403:6001:A1:00");
        EXPECT_EQ(u.requests[i].number, 3);
    }
    const std::size_t handshakes = u.rx.Count('S');
    // Back on: the same identity is opened, one line says so, and the handshake goes on.
    u.rx.lost = false;
    u.portAvailable = true;
    u.rx.identifier = "K64E";
    u.Run(400ms);
    EXPECT_TRUE(u.frame->IsLinked());
    EXPECT_FALSE(u.frame->IsWaitingForDevice());
    const auto lines = u.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         u"COM3: the device is back (/dev/ttyUSB7); the handshake goes on."),
              1);
    EXPECT_GT(u.rx.Count('S'), handshakes);
    EXPECT_GE(u.rx.Count('X'), 1u); // the receiver answered: the transfer began
    EXPECT_EQ(u.frame->GetWindowTextW(), u"COM3");
}

TEST(MainFrame, ALossDuringTheTransferStillEndsTheLink) {
    Updater u;
    u.frame->m_bReopenLostDevice = true;
    u.rx.identifier = "K64E";
    u.Command(ID_UPDATE);
    u.Run(400ms);
    ASSERT_GE(u.rx.Count('X'), 1u);
    u.rx.lost = true;
    u.rx.Send({}); // the reader's notification of the loss
    u.Run(1000ms);
    EXPECT_EQ(u.events.Count(UpdateOutcome::DeviceLost), 1u);
    EXPECT_FALSE(u.frame->IsWaitingForDevice());
    const auto lines = u.Lines();
    EXPECT_EQ(lines[lines.size() - 2], u"COM3: the serial device was disconnected.");
}

TEST(MainFrame, ADevicePathNamedDirectlyIsOpenedAsNamedUntilAnotherPortIsChosen) {
    Updater u;
    EXPECT_EQ(u.requests.back().path, ""); // a bare number: the directory decides
    u.Command(ID_BREAK_CONNECTION);
    u.frame->SetDevicePath(3, "/tmp/receiver");
    u.Command(ID_LINK);
    EXPECT_EQ(u.requests.back().path, "/tmp/receiver");
    EXPECT_EQ(u.requests.back().number, 3);
    u.Command(ID_BREAK_CONNECTION);
    fw::headless::DialogScript script([](fw::CDialog& dlg) {
        auto& setup = dynamic_cast<CLinkSetupDlg&>(dlg);
        setup.m_comboPort.SelectByUser(2); // COM12
        setup.OnOK();
    });
    u.Command(ID_SETUP);
    u.Command(ID_LINK);
    EXPECT_EQ(u.requests.back().number, 12);
    EXPECT_EQ(u.requests.back().path, "");
}

TEST(MainFrame, AStoredDevicePathIsOpenedAsStored) {
    Updater u(false);
    u.storedPort = u"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0";
    u.Create();
    EXPECT_EQ(u.frame->m_nPort, 7);
    EXPECT_EQ(u.requests.back().path, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0");
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
        std::u16string details;
        fw::headless::DialogScript script([&](fw::CDialog& dlg) {
            seen = &dynamic_cast<CLinkSetupDlg&>(dlg);
            for (int i = 0; i < seen->m_comboPort.GetCount(); ++i)
                listed.push_back(seen->m_comboPort.GetLBText(i));
            selection = seen->m_comboPort.GetCurSel();
            text = seen->m_comboPort.GetWindowTextW();
            details = seen->m_staticDetails.GetWindowTextW();
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
        // Below the list: what tells the chosen port's device from the others.
        EXPECT_EQ(details, c.text.empty() ? u""
                                          : u"/dev/ttyUSB" + c.text.substr(3) + u"\nSerial S" +
                                                c.text.substr(3));
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
    std::u16string details;
    fw::headless::DialogScript script([&](fw::CDialog& dlg) {
        auto& setup = dynamic_cast<CLinkSetupDlg&>(dlg);
        setup.m_comboPort.SelectByUser(2);
        details = setup.m_staticDetails.GetWindowTextW(); // follows the choice
        setup.OnCancel();
    });
    u.Command(ID_SETUP);
    EXPECT_EQ(u.frame->m_nPort, 3);
    EXPECT_EQ(details, u"/dev/ttyUSB12\nSerial S12");
}

} // namespace
} // namespace orvane::ui::testing
