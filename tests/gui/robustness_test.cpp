// The desktop window, offscreen, against a hostile receiver and an impatient operator: a reply
// flood while a box is open, closing and Update during a transfer, a port that does not open,
// and Save over a file that holds something.
#include "gui_harness.h"

#include "platform/message.h"

#include <QFile>
#include <QListWidget>
#include <QTest>

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace orvane::gui_testing {
namespace {

using namespace orvane::ui;

int VisibleBoxes() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += qobject_cast<QMessageBox*>(w) != nullptr && w->isVisible();
    return n;
}

struct QtFlood {
    const char* name;
    std::string identifier;
    ui::testing::Bytes reply;
};

TEST(ReplyFlood, OneBoxOfAKindInTheWindowAndNothingGrows) {
    const char* env = std::getenv("ORVANE_FLOOD_REPLIES");
    const int total = env ? std::max(1, std::atoi(env)) : 4000;
    const std::vector<QtFlood> floods = {
        {"unknown identifiers", "ZZZZ", ui::testing::ReplyFrame('S', 'S', "ZZZZ")},
        {"acknowledgements after the end", "K37E", ui::testing::ReplyFrame('S', 'X')},
    };
    for (const QtFlood& f : floods) {
        Gui gui(Options().Identifier(f.identifier));
        gui.holdBoxes = true;
        gui.rx.owner = &gui.Frame();

        // Everything happens inside the first box's modal loop: this timer feeds the flood
        // there, 100 replies a notification, as fast as the window takes them, and lets the
        // box close once every reply has been handled.
        using Clock = std::chrono::steady_clock;
        int fed = 0;
        int maxBoxes = 0;
        int maxOpen = 0;
        bool boxSeen = false;
        bool handled = false;
        double seconds = 0;
        std::size_t heapAtStart = 0;
        std::size_t heapPeak = 0;
        Clock::time_point start{};
        QTimer feeder;
        feeder.setInterval(0);
        QObject::connect(&feeder, &QTimer::timeout, [&] {
            const int visible = VisibleBoxes();
            if (!boxSeen) {
                if (visible == 0)
                    return;
                boxSeen = true;
                gui.rx.identifier.clear(); // the receiver's own answers stop
                gui.rx.autoAck = false;
                heapAtStart = heapPeak = mallinfo2().uordblks;
                start = Clock::now();
            }
            maxBoxes = std::max(maxBoxes, visible);
            maxOpen = std::max(maxOpen, OpenMessageBoxCount());
            heapPeak = std::max<std::size_t>(heapPeak, mallinfo2().uordblks);
            if (fed < total) {
                ui::testing::Bytes batch;
                for (int i = 0; i < 100 && fed < total; ++i, ++fed)
                    batch.insert(batch.end(), f.reply.begin(), f.reply.end());
                gui.rx.Send(batch);
                return;
            }
            const bool drained = gui.app->PendingMessageCount() == 0 && gui.rx.pending.empty();
            const bool overdue = Clock::now() - start > std::chrono::seconds(100);
            if (gui.holdBoxes && (drained || overdue)) {
                handled = drained;
                seconds = std::chrono::duration<double>(Clock::now() - start).count();
                gui.holdBoxes = false; // the harness answers the box now
            }
        });
        feeder.start();
        gui.Button(ID_UPDATE)->trigger();
        ASSERT_TRUE(gui.WaitFor([&] { return !gui.holdBoxes && VisibleBoxes() == 0; }, 150000))
            << f.name;
        feeder.stop();

        EXPECT_TRUE(handled) << f.name;
        EXPECT_EQ(maxBoxes, 1) << f.name;
        EXPECT_EQ(maxOpen, 1) << f.name;
        EXPECT_EQ(gui.boxes.size(), 1u) << f.name;
        EXPECT_LT(heapPeak - heapAtStart, 16u * 1024 * 1024) << f.name;
        auto* list = gui.Window()->findChild<QListWidget*>("control-1019");
        EXPECT_LE(list->count(), CUpdateView::kMaxLines) << f.name;
        std::printf("flood (offscreen Qt) %s: %d replies in %.2f s (%.0f replies/s), at most %d "
                    "box(es) open, heap +%zu KiB\n",
                    f.name, total, seconds, total / seconds, maxBoxes,
                    (heapPeak - heapAtStart) / 1024);
    }
}

// Starts an update that stays in its transfer: the receiver answers the handshake but never
// acknowledges a block.
void StartTransfer(Gui& gui) {
    gui.rx.autoAck = false;
    gui.Button(ID_UPDATE)->trigger();
    ASSERT_TRUE(gui.WaitFor([&] { return gui.rx.Blocks().size() == 1; }, 5000));
    ASSERT_TRUE(gui.app->View()->IsTransferRunning());
}

TEST(Interruption, ClosingTheWindowDuringATransferAsksFirst) {
    Gui gui(Options().Identifier("K37E"));
    StartTransfer(gui);
    gui.answer = QMessageBox::No;
    gui.Window()->close();
    ASSERT_TRUE(gui.WaitFor([&] { return !gui.boxes.empty(); }));
    EXPECT_TRUE(gui.boxes[0].text.contains("the receiver may be left without firmware"));
    EXPECT_EQ(gui.boxes[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(gui.Frame().IsWindow());
    EXPECT_TRUE(gui.Window()->isVisible());

    gui.answer = QMessageBox::Yes;
    gui.Menu(ID_EXIT)->trigger();
    ASSERT_TRUE(gui.WaitFor([&] { return !gui.Frame().IsWindow(); }));
    EXPECT_EQ(gui.boxes.size(), 2u);
    EXPECT_EQ(gui.loopEnds, 1);
}

TEST(Interruption, UpdateDuringATransferAsksFirst) {
    Gui gui(Options().Identifier("K37E"));
    StartTransfer(gui);
    auto* list = gui.Window()->findChild<QListWidget*>("control-1019");
    const int lines = list->count();
    gui.answer = QMessageBox::No;
    gui.Button(ID_UPDATE)->trigger();
    ASSERT_TRUE(gui.WaitFor([&] { return !gui.boxes.empty(); }));
    gui.Settle();
    EXPECT_EQ(list->count(), lines); // nothing started
    EXPECT_TRUE(gui.boxes[0].text.contains("the receiver may be left without firmware"));
    gui.answer = QMessageBox::Yes;
    gui.Button(ID_UPDATE)->trigger();
    ASSERT_TRUE(gui.WaitFor([&] { return gui.boxes.size() == 2; }));
    EXPECT_TRUE(gui.WaitFor([&] { return list->count() > lines; }));
}

TEST(OpenFailure, ThePortThatDidNotOpenAtStartIsShownInTheList) {
    Gui gui(Options().PortAvailable(false));
    auto* list = gui.Window()->findChild<QListWidget*>("control-1019");
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "COM3: no such device.");
    EXPECT_EQ(gui.Title(), "OrvaneUpdate");
}

TEST(Document, SaveOverAnOpenedNonEmptyFileAsksAndKeepsItOnNo) {
    Gui gui;
    QTemporaryDir dir;
    const QString path = dir.filePath("notes.txt");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("the operator's own notes");
    }
    ASSERT_TRUE(gui.app->OpenDocumentFile(path.toStdU16String()));
    gui.answer = QMessageBox::No;
    QTest::keySequence(gui.Window(), QKeySequence(QStringLiteral("Ctrl+S")));
    ASSERT_EQ(gui.boxes.size(), 1u);
    EXPECT_TRUE(gui.boxes[0].text.contains("is not empty"));
    EXPECT_EQ(QFileInfo(path).size(), 24);

    // A box that has closed leaves no active window offscreen: the key goes to the window again.
    gui.answer = QMessageBox::Yes;
    QApplication::setActiveWindow(gui.Window());
    QTest::keySequence(gui.Window(), QKeySequence(QStringLiteral("Ctrl+S")));
    EXPECT_EQ(gui.boxes.size(), 2u);
    EXPECT_EQ(QFileInfo(path).size(), 0);
    // Empty now: saving again asks nothing.
    QApplication::setActiveWindow(gui.Window());
    QTest::keySequence(gui.Window(), QKeySequence(QStringLiteral("Ctrl+S")));
    EXPECT_EQ(gui.boxes.size(), 2u);
}

} // namespace
} // namespace orvane::gui_testing
