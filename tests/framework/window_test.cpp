// Windows, frames, views and dialogs: command routing and enable states, message boxes that
// keep dispatching while open, modal dialogs with data exchange, peers.
#include "framework/app.h"
#include "framework/controls.h"
#include "framework/headless/headless.h"
#include "framework/wnd.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using fw::LPARAM;
using fw::LRESULT;
using fw::UINT;
using fw::WPARAM;

constexpr UINT ID_LINK = 32771;
constexpr UINT ID_UPDATE = 32818;
constexpr UINT ID_NO_HANDLER = 32813;
constexpr UINT WM_REPLY = fw::WM_USER + 7;

class TestView : public fw::CView {
public:
    bool linked = false;
    int updates = 0;
    bool OnCmdMsg(UINT id) override {
        if (id == ID_UPDATE) {
            ++updates;
            return true;
        }
        return false;
    }
    void OnUpdateCmdUI(fw::CCmdUI& ui) override {
        if (ui.m_nID == ID_UPDATE)
            ui.Enable(linked);
    }
};

class TestFrame : public fw::CFrameWnd {
public:
    TestView* view = nullptr;
    int links = 0;
    bool OnCmdMsg(UINT id) override {
        if (id == ID_LINK) {
            ++links;
            view->linked = true;
            return true;
        }
        return CFrameWnd::OnCmdMsg(id);
    }
    void OnUpdateCmdUI(fw::CCmdUI& ui) override {
        if (ui.m_nID == ID_LINK)
            ui.Enable(!view->linked);
        else
            CFrameWnd::OnUpdateCmdUI(ui);
    }
};

class WindowTest : public ::testing::Test {
protected:
    orvane::ManualClock clock;
    fw::CWinApp app{clock};
    TestView view;
    TestFrame frame;

    void SetUp() override {
        frame.view = &view;
        frame.SetActiveView(&view);
    }
};

TEST_F(WindowTest, CommandsRouteFromFrameToViewAndFollowEnableStates) {
    EXPECT_EQ(frame.GetActiveView(), &view);
    EXPECT_EQ(view.GetParentFrame(), &frame);

    struct Case {
        const char* what;
        UINT id;
        bool linkedBefore;
        bool enabled;
        bool runs;
    };
    const Case cases[] = {
        {"link while closed", ID_LINK, false, true, true},
        {"link while open", ID_LINK, true, false, false},
        {"update while closed (view's state)", ID_UPDATE, false, false, false},
        {"update while open", ID_UPDATE, true, true, true},
        {"command nobody speaks for", ID_NO_HANDLER, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        view.linked = c.linkedBefore;
        frame.links = view.updates = 0;
        EXPECT_EQ(frame.IsCommandEnabled(c.id), c.enabled);
        EXPECT_EQ(frame.ExecuteCommand(c.id), c.runs);
        EXPECT_EQ(frame.links + view.updates, c.runs ? 1 : 0);
    }
}

TEST_F(WindowTest, PostedCommandAndCloseGoThroughTheWindowProcedure) {
    frame.PostMessageW(fw::WM_COMMAND, fw::MAKEWPARAM(ID_LINK, 0), 0);
    ASSERT_TRUE(app.PeekAndDispatchOne());
    EXPECT_EQ(frame.links, 1);
    EXPECT_EQ(frame.SendMessageW(fw::WM_CLOSE), 0);
    EXPECT_FALSE(frame.IsWindow());
    EXPECT_EQ(frame.SendMessageW(fw::WM_COMMAND, fw::MAKEWPARAM(ID_LINK, 0)), 0);
    EXPECT_EQ(frame.links, 1);
}

TEST_F(WindowTest, MessageBoxesAreRecordedWithTheApplicationTitleAsDefaultCaption) {
    app.SetAppName(u"Orvane Update");
    std::vector<std::u16string> shown;
    auto boxes = fw::headless::Install(
        {[&](const fw::headless::MessageBoxRecord& r) { shown.push_back(r.text); },
         {},
         5000ms,
         {}});
    EXPECT_EQ(frame.MessageBox(u"Firmware update complete."), fw::IDOK);
    EXPECT_EQ(view.MessageBox(u"Can't find", u"Error", fw::MB_ICONERROR), fw::IDOK);
    // Boxes shown by other layers straight through the platform call get the title too.
    EXPECT_EQ(orvane::MessageBoxW(nullptr, u"Port error", u"", fw::MB_OK), fw::IDOK);

    ASSERT_EQ(boxes->Boxes().size(), 3u);
    const auto& b = boxes->Boxes();
    EXPECT_EQ(b[0].owner, &frame);
    EXPECT_EQ(b[0].caption, u"Orvane Update");
    EXPECT_EQ(b[0].style, fw::MB_OK);
    EXPECT_EQ(b[1].owner, &view);
    EXPECT_EQ(b[1].caption, u"Error");
    EXPECT_EQ(b[1].style, fw::MB_ICONERROR);
    EXPECT_EQ(b[2].caption, u"Orvane Update");
    EXPECT_EQ(shown, (std::vector<std::u16string>{u"Firmware update complete.", u"Can't find",
                                                  u"Port error"}));
}

TEST(MessageBoxModalLoop, RepliesArrivingWhileABoxIsOpenAreHandled) {
    fw::CWinApp app{orvane::RealClock()};
    std::vector<std::string> events;

    class Receiver : public fw::CWnd {
    public:
        std::vector<std::string>* events;
        fw::headless::MessageBoxRecorder* boxes;
        LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
            if (m == WM_REPLY) {
                events->push_back("reply " + std::to_string(w) + " with " +
                                  std::to_string(boxes->OpenCount()) + " box open");
                return 0;
            }
            return CWnd::WindowProc(m, w, l);
        }
    } receiver;

    auto boxes = fw::headless::Install();
    boxes->SetOptions({{}, [&] { return events.size() >= 2; }, 5000ms, {}});
    receiver.events = &events;
    receiver.boxes = boxes.get();

    std::thread reader([&] {
        std::this_thread::sleep_for(50ms);
        receiver.PostMessageW(WM_REPLY, 1, 0);
        receiver.PostMessageW(WM_REPLY, 2, 0);
    });
    receiver.MessageBox(u"Firmware update complete.");
    events.push_back("box closed");
    reader.join();

    EXPECT_EQ(events, (std::vector<std::string>{"reply 1 with 1 box open",
                                                "reply 2 with 1 box open", "box closed"}));
}

// ---- dialogs ----

class PortDialog : public fw::CDialog {
public:
    explicit PortDialog(int selection) : CDialog(134), m_nSelection(selection) {}
    fw::CComboBox m_combo;
    int m_nSelection;
    int selChanges = 0;

    void DoDataExchange(fw::CDataExchange* pDX) override {
        fw::DDX_Control(pDX, 1013, m_combo);
        fw::DDX_CBIndex(pDX, m_combo, m_nSelection);
    }
    bool OnInitDialog() override {
        CDialog::OnInitDialog();
        for (const char16_t* name : {u"COM1", u"COM3", u"COM12"})
            m_combo.AddString(name);
        UpdateData(false);
        return true;
    }
    bool OnControlNotify(UINT id, UINT code) override {
        if (id == 1013 && code == fw::CBN_SELCHANGE) {
            ++selChanges;
            UpdateData(true);
            return true;
        }
        return false;
    }
};

TEST_F(WindowTest, ModalDialogsExchangeDataAndEndAsTheOperatorChooses) {
    struct Case {
        const char* what;
        int initial;
        int pick;    // -1: leave the selection alone
        UINT button; // 0: leave the dialog open
        fw::INT_PTR result;
        int selection; // m_nSelection afterwards
        const char16_t* text;
    };
    const Case cases[] = {
        {"OK without change", 1, -1, fw::IDOK, fw::IDOK, 1, u"COM3"},
        {"pick COM12 and OK", 1, 2, fw::IDOK, fw::IDOK, 2, u"COM12"},
        {"pick then Cancel keeps what the pick read back", 1, 0, fw::IDCANCEL, fw::IDCANCEL, 0,
         u"COM1"},
        {"left open counts as cancelled", 0, -1, 0, fw::IDCANCEL, 0, u"COM1"},
        {"initial selection beyond the list selects nothing", 7, -1, fw::IDOK, fw::IDOK, fw::CB_ERR,
         u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PortDialog dlg(c.initial);
        fw::headless::DialogScript script([&](fw::CDialog& d) {
            auto& pd = static_cast<PortDialog&>(d);
            EXPECT_EQ(pd.GetDlgItem(1013), &pd.m_combo);
            if (c.pick >= 0)
                pd.m_combo.SelectByUser(c.pick);
            if (c.button != 0)
                pd.SendMessageW(fw::WM_COMMAND, fw::MAKEWPARAM(c.button, 0));
        });
        EXPECT_EQ(dlg.DoModal(), c.result);
        EXPECT_EQ(script.RunCount(), 1);
        EXPECT_EQ(dlg.selChanges, c.pick >= 0 ? 1 : 0);
        EXPECT_EQ(dlg.m_nSelection, c.selection);
        EXPECT_EQ(dlg.m_combo.GetWindowTextW(), c.text);
    }
}

TEST_F(WindowTest, WithoutABackEndADialogIsCancelledAfterInitialisation) {
    PortDialog dlg(1);
    EXPECT_EQ(dlg.DoModal(), fw::IDCANCEL);
    EXPECT_EQ(dlg.m_combo.GetCount(), 3);
    EXPECT_EQ(dlg.m_combo.GetCurSel(), 1);
}

} // namespace
