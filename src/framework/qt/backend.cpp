#include "framework/qt/backend.h"

#include "framework/app.h"
#include "framework/qt/widgets.h"
#include "framework/waking_target.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QScreen>
#include <QTimer>

#include <atomic>
#include <map>

namespace fw::qtui {

namespace {

Backend* g_pBackend = nullptr;

// A pump hands control back to Qt after this many messages or this long, so the window
// repaints and takes input during a transfer that answers as fast as it is fed.
constexpr int kMaxBatch = 256;
constexpr qint64 kMaxBatchMs = 30;

} // namespace

struct Backend::Impl {
    std::string context;
    std::vector<std::string> pictureFolders;
    std::map<UINT, DialogTemplate> templates;
    CFrameWnd* frame = nullptr;
    std::unique_ptr<FrameWindow> window;
    std::vector<CommandTarget> targets;
    std::vector<std::unique_ptr<fw::WakingTarget<Backend>>> wakers;
    FileChooser chooser;
    std::unique_ptr<QPrinter> printer; // made at the first page set-up, kept for the run
    std::function<void()> onFrameDestroyed;
    QObject pumpContext; // queued wake-ups are delivered to it, on the user-interface thread
    QTimer nextTimer;    // single shot at the framework's next due timer
    bool hooked = false;
    std::atomic<bool> wakePending{false};
    orvane::MessageBoxHandler previousBoxes;
    DialogRunner previousRunner;
};

Backend::Backend(std::string translationContext) : m_impl(std::make_unique<Impl>()) {
    g_pBackend = this;
    m_impl->context = std::move(translationContext);
    // No polling beat: the framework tells us when something is posted or a timer set, and
    // a single-shot Qt timer wakes us for the next framework timer, so an idle window with
    // an open link sleeps until the line or the operator has something for it.
    m_impl->nextTimer.setSingleShot(true);
    m_impl->nextTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_impl->nextTimer, &QTimer::timeout, &m_impl->pumpContext,
                     [this] { Pump(); });
    HookApplication();

    m_impl->previousBoxes =
        orvane::SetMessageBoxHandler([this](orvane::IMessageTarget*, std::u16string_view text,
                                            std::u16string_view caption, unsigned style) {
            QMessageBox::Icon icon = QMessageBox::NoIcon;
            switch (style & orvane::MB_ICONMASK) {
            case MB_ICONERROR:
                icon = QMessageBox::Critical;
                break;
            case MB_ICONWARNING:
                icon = QMessageBox::Warning;
                break;
            case MB_ICONINFORMATION:
                icon = QMessageBox::Information;
                break;
            default:
                break;
            }
            QMessageBox::StandardButtons buttons = QMessageBox::Ok;
            QMessageBox::StandardButton second = QMessageBox::NoButton;
            switch (style & orvane::MB_TYPEMASK) {
            case MB_YESNO:
                buttons = QMessageBox::Yes | QMessageBox::No;
                second = QMessageBox::No;
                break;
            case MB_OKCANCEL:
                buttons = QMessageBox::Ok | QMessageBox::Cancel;
                second = QMessageBox::Cancel;
                break;
            default:
                break;
            }
            QWidget* parent =
                m_impl->window && m_impl->window->isVisible() ? m_impl->window.get() : nullptr;
            QString body = ToQ(text);
            body.replace(QLatin1String("\r\n"), QLatin1String("\n"));
            QMessageBox box(icon, ToQ(caption), body, buttons, parent);
            box.setObjectName(QStringLiteral("message-box"));
            if ((style & MB_DEFBUTTON2) != 0 && second != QMessageBox::NoButton)
                box.setDefaultButton(second);
            // exec() runs a nested Qt loop; the wake-ups and the timer keep pumping in it.
            const auto chosen = static_cast<QMessageBox::StandardButton>(box.exec());
            RefreshCommandStates();
            switch (chosen) {
            case QMessageBox::Yes:
                return IDYES;
            case QMessageBox::No:
                return IDNO;
            case QMessageBox::Cancel:
                return IDCANCEL;
            case QMessageBox::Ok:
                return IDOK;
            default:
                // Closed another way (Esc, the caption's button): the answer that changes nothing.
                return orvane::CautiousAnswer(style);
            }
        });

    m_impl->previousRunner = SetDialogRunner([this](CDialog& dlg) {
        const DialogTemplate* t = FindTemplate(dlg.GetTemplateId());
        if (!t)
            return; // no template: the dialog counts as cancelled
        QWidget* parent =
            m_impl->window && m_impl->window->isVisible() ? m_impl->window.get() : nullptr;
        CoreDialog q(dlg, *t, *this, parent);
        q.exec();
        RefreshCommandStates();
    });
}

Backend::~Backend() {
    DestroyMainWindow();
    m_impl->nextTimer.stop();
    if (m_impl->hooked) {
        if (CWinApp* app = AfxGetApp())
            app->SetWakeHook(nullptr);
    }
    SetDialogRunner(std::move(m_impl->previousRunner));
    orvane::SetMessageBoxHandler(std::move(m_impl->previousBoxes));
    if (g_pBackend == this)
        g_pBackend = nullptr;
}

Backend* Backend::Instance() {
    return g_pBackend;
}

void Backend::AddPictureFolder(std::string folder, bool first) {
    auto& folders = m_impl->pictureFolders;
    folders.insert(first ? folders.begin() : folders.end(), std::move(folder));
}

std::string Backend::PicturePath(const std::string& name) const {
    if (name.empty())
        return {};
    for (const std::string& folder : m_impl->pictureFolders) {
        const QString path =
            QDir(QString::fromStdString(folder)).filePath(QString::fromStdString(name));
        if (QFile::exists(path))
            return path.toStdString();
    }
    return {};
}

void Backend::AddDialogTemplate(DialogTemplate dialogTemplate) {
    const UINT id = dialogTemplate.id;
    m_impl->templates[id] = std::move(dialogTemplate);
}

const DialogTemplate* Backend::FindTemplate(UINT id) const {
    auto it = m_impl->templates.find(id);
    return it == m_impl->templates.end() ? nullptr : &it->second;
}

void Backend::CreateMainWindow(CFrameWnd& frame, const FrameResources& resources,
                               std::vector<CommandTarget> targets) {
    DestroyMainWindow();
    m_impl->frame = &frame;
    m_impl->targets = std::move(targets);
    m_impl->window = std::make_unique<FrameWindow>(frame, resources, *this);
    auto* central = new QWidget;
    central->setObjectName(QStringLiteral("view"));
    // The view starts at the frame's corner with the size the system gives every new view;
    // the frame's layout then makes it fill the client area.
    central->setGeometry(0, 0, 320, 350);
    QSize formSize;
    if (auto* form = dynamic_cast<CFormView*>(frame.GetActiveView())) {
        if (const DialogTemplate* t = FindTemplate(form->GetTemplateId())) {
            formSize = BuildForm(
                *t, *form, central, [this](const std::u16string& s) { return ToQ(Translate(s)); },
                [this](const std::string& name) {
                    return QPixmap(QString::fromStdString(PicturePath(name)));
                },
                {});
        }
    }
    m_impl->window->setCentralWidget(central);
    // The view's initial update: the frame shrinks until the view is no larger than its form.
    if (formSize.isValid()) {
        central->setProperty("formSize", formSize);
        m_impl->window->FitToForm(formSize);
    }
    RefreshCommandStates();
}

void Backend::ShowMainWindow() {
    FrameWindow* w = m_impl->window.get();
    if (!w)
        return;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        w->move(area.center() - QPoint(w->width() / 2, w->height() / 2));
    }
    w->show();
    RefreshCommandStates();
}

void Backend::DestroyMainWindow() {
    m_impl->window.reset();
    m_impl->frame = nullptr;
    m_impl->targets.clear();
}

QMainWindow* Backend::Window() const {
    return m_impl->window.get();
}

CCmdUI Backend::QueryCommand(UINT id) const {
    return QueryCommandState(m_impl->frame, m_impl->targets, id);
}

bool Backend::RunCommand(UINT id) {
    const bool handled = RouteCommand(m_impl->frame, m_impl->targets, id);
    Pump();
    RefreshCommandStates();
    return handled;
}

void Backend::RefreshCommandStates() {
    if (m_impl->window)
        m_impl->window->RefreshStates();
}

void Backend::HookApplication() {
    CWinApp* app = AfxGetApp();
    if (!app || m_impl->hooked)
        return;
    m_impl->hooked = true;
    app->SetWakeHook([this] { Wake(); });
    Wake(); // timers set and messages posted before the hook
}

void Backend::ScheduleNextTimer() {
    CWinApp* app = AfxGetApp();
    const auto left = app ? app->TimeUntilNextTimer() : std::nullopt;
    if (!left) {
        m_impl->nextTimer.stop();
        return;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*left).count();
    m_impl->nextTimer.start(static_cast<int>(std::min<long long>(ms, 24 * 3600 * 1000)));
}

void Backend::Pump() {
    CWinApp* app = AfxGetApp();
    if (!app)
        return;
    HookApplication();
    QElapsedTimer elapsed;
    elapsed.start();
    bool dispatched = false;
    for (int n = 0; app->PeekAndDispatchOne(); ++n) {
        dispatched = true;
        if (n + 1 >= kMaxBatch || elapsed.elapsed() >= kMaxBatchMs) {
            Wake(); // the rest after Qt's own events
            break;
        }
    }
    if (m_impl->frame && !m_impl->frame->IsWindow() && m_impl->window &&
        m_impl->window->FrameGone()) {
        // The frame has destroyed itself (Exit, the caption's close button): end the loop.
        auto onDestroyed = m_impl->onFrameDestroyed;
        m_impl->frame = nullptr;
        if (onDestroyed)
            onDestroyed();
        else
            QCoreApplication::exit(0);
        return;
    }
    if (dispatched)
        RefreshCommandStates();
    ScheduleNextTimer();
}

void Backend::Wake() {
    if (m_impl->wakePending.exchange(true))
        return;
    QMetaObject::invokeMethod(
        &m_impl->pumpContext,
        [this] {
            m_impl->wakePending.store(false);
            Pump();
        },
        Qt::QueuedConnection);
}

orvane::IMessageTarget& Backend::WakingTarget(orvane::IMessageTarget& inner) {
    m_impl->wakers.push_back(std::make_unique<fw::WakingTarget<Backend>>(inner, *this));
    return *m_impl->wakers.back();
}

void Backend::SetFileChooser(FileChooser chooser) {
    m_impl->chooser = std::move(chooser);
}

void Backend::ShowPageSetup() {
    if (!m_impl->printer)
        m_impl->printer = std::make_unique<QPrinter>();
    QPageSetupDialog dialog(m_impl->printer.get(), m_impl->window.get());
    dialog.setObjectName(QStringLiteral("page-setup"));
    dialog.exec();
}

std::optional<std::u16string> Backend::ChooseFile(const FileRequest& request) {
    if (m_impl->chooser)
        return m_impl->chooser(request);
    QWidget* parent = m_impl->window.get();
    // The caller asks before it writes over a file that holds something; the dialog's own
    // question would only ask twice.
    const QString name =
        request.open
            ? QFileDialog::getOpenFileName(parent)
            : QFileDialog::getSaveFileName(parent, QString(), ToQ(request.suggestedName), QString(),
                                           nullptr, QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty())
        return std::nullopt;
    return FromQ(name);
}

void Backend::SetOnMainFrameDestroyed(std::function<void()> onDestroyed) {
    m_impl->onFrameDestroyed = std::move(onDestroyed);
}

std::u16string Backend::Translate(std::u16string_view text) const {
    if (text.empty())
        return {};
    const QByteArray source = ToQ(text).toUtf8();
    return FromQ(QCoreApplication::translate(m_impl->context.c_str(), source.constData()));
}

} // namespace fw::qtui
