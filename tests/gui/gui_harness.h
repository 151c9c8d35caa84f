// The desktop updater, whole, in an offscreen Qt window: the application object with its
// real back end, a temporary settings folder, and a scripted receiver in place of the serial
// port. Message boxes and dialogs are real Qt widgets, answered by a watcher that plays the
// operator.
#pragma once

#include "app/sarnel_app.h"
#include "platform/settings.h"
#include "ui/resource_ids.h"
#include "ui/scripted_link.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane::gui_testing {

// One QApplication for the whole test program, offscreen unless told otherwise.
inline void EnsureQApplication() {
    if (QApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "orvane-gui-tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv); // lives until the process ends
}

struct BoxSeen {
    QString text;
    QString caption;
    QMessageBox::Icon icon;
};

struct Options {
    std::optional<int> language = 1; // the stored "UI" value; nullopt: none stored
    bool chineseSystem = true;       // the system's language, for a start with none stored
    bool bundle = true;              // the built language bundle is where the updater looks
    bool portAvailable = true;       // the scripted port opens
    std::u16string storedPort = u"COM3";
    std::vector<std::u16string> ports{u"\\\\.\\COM1", u"\\\\.\\COM3", u"\\\\.\\COM12"};
    std::string identifier;        // answered to the handshake when not empty
    bool pseudoTerminal = true;    // the scripted line stands for the simulated receiver's
    bool allowPlaceholder = false; // the bench override: test images to any port
    // Another frame right behind every acknowledgement, its first byte delivered with the
    // acknowledgement and the rest with the next one.
    bool extraFrames = false;
    // The receiver answers nothing more once this many blocks are acknowledged (0: no limit).
    std::size_t silentAfter = 0;
    std::function<void()> prepare; // runs in the settings folder, before the start

    Options& PseudoTerminal(bool v) {
        pseudoTerminal = v;
        return *this;
    }
    Options& AllowPlaceholder(bool v) {
        allowPlaceholder = v;
        return *this;
    }
    Options& Prepare(std::function<void()> f) {
        prepare = std::move(f);
        return *this;
    }

    Options& Language(std::optional<int> v) {
        language = v;
        return *this;
    }
    Options& ChineseSystem(bool v) {
        chineseSystem = v;
        return *this;
    }
    Options& Bundle(bool v) {
        bundle = v;
        return *this;
    }
    Options& PortAvailable(bool v) {
        portAvailable = v;
        return *this;
    }
    Options& StoredPort(std::u16string v) {
        storedPort = std::move(v);
        return *this;
    }
    Options& Ports(std::vector<std::u16string> v) {
        ports = std::move(v);
        return *this;
    }
    Options& Identifier(std::string v) {
        identifier = std::move(v);
        return *this;
    }
    Options& ExtraFrames(bool v) {
        extraFrames = v;
        return *this;
    }
    Options& SilentAfter(std::size_t blocks) {
        silentAfter = blocks;
        return *this;
    }
};

class Gui {
public:
    explicit Gui(Options o = {}) : m_options(std::move(o)) {
        EnsureQApplication();
        SetSettingsFolder(m_dir.path().toStdString());
        if (m_options.language)
            WriteLanguage(*m_options.language);
        rx.identifier = m_options.identifier;
        rx.autoAck = true;
        rx.pseudoTerminal = m_options.pseudoTerminal;
        if (m_options.prepare)
            m_options.prepare();
        // The operator: answers every message box, hands every dialog to the script; from the
        // start, since a start may already ask something.
        m_watch.setInterval(5);
        QObject::connect(&m_watch, &QTimer::timeout, [this] { Watch(); });
        m_watch.start();

        app::AppOptions a;
        a.frame.openPort = [this](IMessageTarget* owner, const ui::PortRequest& request,
                                  ui::OpenFailure& failure) -> std::unique_ptr<ui::IPortWorker> {
            const int port = request.number;
            if (!portAvailable) {
                failure.reason = "no such device";
                return nullptr;
            }
            ++opens;
            openedPort = port;
            rx.port = port;
            return std::make_unique<Worker>(rx, owner, m_options.extraFrames,
                                            m_options.silentAfter);
        };
        a.frame.listPorts = [this] { return m_options.ports; };
        a.frame.allowPlaceholderOnAnyDevice = m_options.allowPlaceholder;
        a.frame.describePort = [](int n) {
            return FormatText("/dev/ttyUSB%d\nFT232R USB UART, USB 0403:6001\nSerial number A%d", n,
                              n);
        };
        a.frame.storedPortName = [this] { return m_options.storedPort; };
        a.bundleFolders = {m_options.bundle
                               ? std::string(ORVANE_BUNDLE_DIR)
                               : m_dir.filePath(QStringLiteral("nowhere")).toStdString()};
        a.chineseSystem = m_options.chineseSystem;
        portAvailable = m_options.portAvailable;
        app = std::make_unique<app::CSarnelApp>(std::move(a));
        started = app->InitInstance();
        // Ending the Qt loop here would end every later modal loop of the test program at
        // once; note the end instead.
        if (app->Backend())
            app->Backend()->SetOnMainFrameDestroyed([this] { ++loopEnds; });

        if (started && Window()) {
            Window()->activateWindow();
            QApplication::setActiveWindow(Window());
            WaitFor([this] { return Window()->isActiveWindow(); }, 1000);
        }
    }
    ~Gui() {
        m_watch.stop();
        if (app)
            app->ExitInstance();
        app.reset();
    }

    QMainWindow* Window() const { return app->Backend()->Window(); }
    QAction* Menu(fw::UINT id) const {
        return Window()->findChild<QAction*>(QStringLiteral("command-%1").arg(id));
    }
    QAction* Button(fw::UINT id) const {
        return Window()->findChild<QAction*>(QStringLiteral("button-%1").arg(id));
    }
    QString Title() const { return Window()->windowTitle(); }
    ui::CMainFrame& Frame() const { return *app->Frame(); }

    // Runs the Qt loop until done() or the time is up.
    bool WaitFor(const std::function<bool()>& done, int ms = 3000) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return done();
    }
    void Settle(int ms = 30) {
        WaitFor([] { return false; }, ms);
    }

    int StoredLanguage() const {
        return static_cast<int>(OpenSettingsStore()->Number("Selvane Works/UI").value_or(-1));
    }
    void WriteLanguage(int value) {
        const auto store = OpenSettingsStore();
        store->SetValue("Selvane Works/UI", static_cast<long long>(value));
        store->Sync();
    }

    ui::testing::ScriptedReceiver rx;
    bool portAvailable = true;
    int opens = 0;
    int loopEnds = 0;
    int openedPort = 0;
    bool started = false;
    std::vector<BoxSeen> boxes;
    // The operator's button for a question (Yes/No); a notice is always answered OK.
    QMessageBox::StandardButton answer = QMessageBox::No;
    // While set, boxes stay open (their modal loops keep running).
    bool holdBoxes = false;
    // Plays the operator of the next dialog; it must end the dialog (or the watcher cancels).
    std::function<void(QDialog&)> dialogScript;
    std::vector<QString> dialogsSeen;
    std::unique_ptr<app::CSarnelApp> app;

private:
    class Worker final : public ui::IPortWorker {
    public:
        Worker(ui::testing::ScriptedReceiver& rx, IMessageTarget* owner, bool extraFrames,
               std::size_t silentAfter)
            : m_rx(rx), m_inner(rx), m_target(owner), m_extraFrames(extraFrames),
              m_silentAfter(silentAfter) {}
        bool QueueWrite(const std::uint8_t* bytes, int length) override {
            // The scripted receiver answers through the frame's posting target (the one the
            // serial reader would use), so the Qt loop is woken as in a real run.
            ui::testing::Bytes frame(bytes, bytes + length);
            m_rx.written.push_back(frame);
            if (m_silentAfter > 0 && m_rx.Blocks().size() > m_silentAfter)
                return true;
            if (frame[3] == 'S' && !m_rx.identifier.empty())
                Reply(ui::testing::ReplyFrame('S', 'S', m_rx.identifier));
            else if (frame[3] == 'X' && m_rx.autoAck && m_extraFrames)
                ReplyWithExtra();
            else if (frame[3] == 'X' && m_rx.autoAck)
                Reply(ui::testing::ReplyFrame('S', 'X'));
            return true;
        }
        void ReplyWithExtra() {
            ui::testing::Bytes out = std::move(m_carry);
            const auto ack = ui::testing::ReplyFrame('S', 'X');
            const char code = "TVC"[m_extras++ % 3]; // ST, SV, SC in turn
            const auto extra = ui::testing::ReplyFrame('S', code);
            out.insert(out.end(), ack.begin(), ack.end());
            out.push_back(extra.front());
            m_carry.assign(extra.begin() + 1, extra.end());
            Reply(out);
        }
        bool SetBaudRate(int baud) override {
            m_rx.baudChanges.push_back(baud);
            return true;
        }
        int TakeReceived(std::uint8_t* dest) override { return m_inner.TakeReceived(dest); }
        bool IsPseudoTerminal() const override { return m_rx.pseudoTerminal; }

    private:
        void Reply(const ui::testing::Bytes& bytes) {
            m_rx.pending.insert(m_rx.pending.end(), bytes.begin(), bytes.end());
            m_target->PostMessageW(ui::WM_SERIAL_RECEIVED, bytes.size(), m_rx.port);
        }
        ui::testing::ScriptedReceiver& m_rx;
        ui::testing::ScriptedWorker m_inner;
        IMessageTarget* m_target = nullptr;
        bool m_extraFrames = false;
        std::size_t m_silentAfter = 0;
        ui::testing::Bytes m_carry;
        unsigned m_extras = 0;
    };

    void Watch() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            if (holdBoxes)
                return;
            boxes.push_back({box->text(), box->windowTitle(), box->icon()});
            if (QAbstractButton* button = box->button(answer))
                button->click();
            else
                box->accept();
            return;
        }
        if (auto* dlg = qobject_cast<QDialog*>(modal)) {
            dialogsSeen.push_back(dlg->objectName());
            auto script = std::move(dialogScript);
            dialogScript = nullptr;
            if (script)
                script(*dlg);
            if (dlg->isVisible())
                dlg->reject();
        }
    }

    Options m_options;
    QTemporaryDir m_dir;
    QTimer m_watch;
};

} // namespace orvane::gui_testing
