#include "app/sarnel_app.h"

#include "app/about_dlg.h"
#include "app/resources.h"
#include "app/start_language.h"
#include "firmware/update_texts.h"
#include "loading/firmware_loading.h"
#include "platform/console.h"
#include "platform/port_directory.h"
#include "platform/profile.h"
#include "platform/program_path.h"
#include "platform/regkey.h"
#include "platform/text.h"
#include "platform/version.h"
#include "ui/resource_ids.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <system_error>

#ifndef ORVANE_DATA_DIR
#define ORVANE_DATA_DIR ""
#endif

namespace orvane::app {

namespace {

constexpr const char* kLanguageSection = "Selvane Works";
constexpr const char* kLanguageEntry = "UI";

// The restart requests are fixed texts, each in its own language whatever the resources.
constexpr char16_t kRestartEnglish[] = u"This application must re-start, and enable your modify!";
constexpr char16_t kRestartChinese[] = u"请重启应用程序，使设置生效!";

constexpr char16_t kBenchModeLine[] =
    u"Bench mode (--allow-placeholder-firmware): this build's placeholder test firmware may go to "
    u"any port. Only for a simulated receiver at the far end; never link a real receiver.";

std::string RecentFileKey(int i) {
    return "Recent File List/File" + std::to_string(i);
}

std::string Section(const char* section, const char* entry) {
    return std::string(section) + "/" + entry;
}

// The form's panel text for the firmware the updater sends, in the language of `translate`: the
// resource text for the build's own test images, the release name and date of a package (one
// loaded, or embedded in the build, which the resource text would not describe either).
std::u16string FirmwareText(const firmware::FirmwareSet& firmware,
                            const std::function<std::u16string(std::u16string_view)>& translate) {
    if (firmware.IsPlaceholder())
        return translate(kBuiltInFirmwareText);
    const std::u16string release = FromUtf8(firmware.Release());
    if (firmware.Date().empty())
        return firmware::FillText(translate(kUndatedPackageFirmwareText), {release});
    return firmware::FillText(translate(kPackageFirmwareText),
                              {release, FromUtf8(firmware.Date())});
}

} // namespace

CSarnelApp::CSarnelApp(AppOptions options, Clock& clock)
    : fw::CWinApp(clock), m_options(std::move(options)) {
    SetAppName(kAppName);
    m_nLanguage = kEnglish;
}

CSarnelApp::~CSarnelApp() {
    CloseWindows();
}

bool CSarnelApp::InitInstance() {
    // 1. The toolkit's controls: the back end with our dialog templates and pictures.
    fw::CWinApp::InitInstance();
    m_backend = std::make_unique<UiBackend>(kResourceContext);
    for (const auto& t : DialogTemplates())
        m_backend->AddDialogTemplate(t);
    m_backend->AddPictureFolder(kOwnPictures);

    // 2. The profile lives under the registry key and the application name.
    SetRegistryKey(kRegistryKey);
    // 3. Standard profile settings with four recent files.
    LoadStdProfileSettings(kMaxRecentFiles);
    // 4. The interface language, read once; with none stored, the system's.
    const bool chineseSystem =
        m_options.chineseSystem ? *m_options.chineseSystem : SystemLanguageIsChinese();
    m_nLanguage = StartLanguage(OpenAppProfile()->Number(Section(kLanguageSection, kLanguageEntry)),
                                chineseSystem);
    // 5. Anything but English wants the Chinese bundle; a missing one leaves English, quietly.
    if (m_nLanguage != kEnglish) {
        std::vector<std::string> folders = m_options.bundleFolders;
        if (folders.empty()) {
            // Next to the program (a build tree), then the data folder beside its bin folder
            // (wherever the package put it), then the one named at build time.
            // (Paths go through UTF-8: a narrow path on Windows would be the ANSI code page.)
            const std::filesystem::path programDir = PathFromUtf8(ProgramPath()).parent_path();
            folders.push_back(ToUtf8(programDir.u16string()));
            folders.push_back(
                ToUtf8((programDir / "../share/orvane-update").lexically_normal().u16string()));
            if (const std::string data = ORVANE_DATA_DIR; !data.empty())
                folders.push_back(data);
        }
        if (m_hLangBundle.Load(folders)) {
            m_backend->AddPictureFolder(std::string(":") + kBundleRoot + "/pictures", true);
            UseBundleTexts(*m_backend, m_hLangBundle);
        }
    }

    // 6-7. The single document template, carried out for an empty command line (or a file).
    if (!CreateDocumentWindow())
        return false;
    // 8. Show the window.
    if (m_options.showWindow)
        m_backend->ShowMainWindow();
    return true;
}

bool CSarnelApp::CreateDocumentWindow() {
    m_pDoc = std::make_unique<CSarnelDoc>();
    if (m_options.documentPath) {
        if (!OpenDocumentFile(*m_options.documentPath))
            return false;
    } else if (!m_pDoc->OnNewDocument()) {
        return false;
    }
    m_pDoc->SetTitle(GetDocString(kDocTemplateString, DocString::FileNewName));

    ui::MainFrameServices services = m_options.frame;
    // The bundle may carry the two resource images; for the build's placeholder images it is
    // asked first (a package's images are never replaced).
    services.resources = &m_hLangBundle;
    std::u16string firmwareProblem;
    services.firmware = StartFirmware(firmwareProblem);
    if (m_options.onFirmwareChanged)
        m_options.onFirmwareChanged(services.firmware);
    if (!services.storedPortName)
        services.storedPortName = [this] { return GetPortOfMonitor(); };
    // The serial reader posts from its own thread: through a waking target, so the Qt loop
    // pumps our queue at once instead of at its next beat.
    ui::PortOpener opener = services.openPort ? services.openPort : ui::SerialPortOpener();
    services.openPort = [this, opener](IMessageTarget* owner, const ui::PortRequest& request,
                                       ui::OpenFailure& failure) {
        IMessageTarget* target = owner && m_backend ? &m_backend->WakingTarget(*owner) : owner;
        return opener(target, request, failure);
    };
    if (m_options.port) {
        // A port named on the command line (a pseudo-terminal, say) is offered by Setup too.
        ui::PortLister lister = services.listPorts ? services.listPorts : ui::SystemPortLister();
        const int chosen = *m_options.port;
        services.listPorts = [lister, chosen] {
            std::vector<std::u16string> names = lister();
            const std::u16string name = DeviceNameForPort(chosen);
            if (std::find(names.begin(), names.end(), name) == names.end()) {
                names.push_back(name);
                std::stable_sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
                    return ui::PortNumberFromName(a.substr(4)) <
                           ui::PortNumberFromName(b.substr(4));
                });
            }
            return names;
        };
    }

    m_pFrame = std::make_unique<ui::CMainFrame>(std::move(services));
    m_pFrame->SetWindowTextW(
        m_backend->Translate(GetDocString(kDocTemplateString, DocString::WindowTitle)));
    if (m_options.port) {
        m_pFrame->m_nPort = *m_options.port;
        if (!m_options.devicePath.empty())
            m_pFrame->SetDevicePath(*m_options.port, m_options.devicePath);
    }
    // The update asks for the receiver to be switched off and on: one that takes its USB port
    // with it is waited for while the handshake goes on.
    m_pFrame->m_bReopenLostDevice = true;
    m_pView = std::make_unique<ui::CUpdateView>();
    m_pFrame->SetActiveView(m_pView.get());
    m_pView->OnInitialUpdate();
    ShowFirmwareText();
    if (m_options.frame.allowPlaceholderOnAnyDevice) {
        // The operator must not take this window for one that keeps test images off a real
        // receiver: the first line of the list says it does not.
        m_pView->AppendLine(kBenchModeLine);
    }
    m_pMainWnd = m_pFrame.get();

    fw::CommandTarget application;
    application.execute = [this](fw::UINT id) { return OnCmdMsg(id); };
    application.update = [this](fw::CCmdUI& cmdUI) { OnUpdateCmdUI(cmdUI); };
    m_backend->CreateMainWindow(*m_pFrame, MainFrameResources(), {application});
    if (!firmwareProblem.empty())
        orvane::MessageBoxW(m_pMainWnd, firmwareProblem, GetAppName(),
                            fw::MB_OK | fw::MB_ICONERROR);
    if (m_pFrame->OnCreate() == -1)
        return false;
    m_backend->RefreshCommandStates();
    return true;
}

void CSarnelApp::CloseWindows() {
    if (m_backend)
        m_backend->DestroyMainWindow();
    m_pFrame.reset(); // closes the link: the worker's threads stop before the back end goes
    m_pView.reset();
}

int CSarnelApp::ExitInstance() {
    CloseWindows();
    m_hLangBundle.Free();
    SaveStdProfileSettings();
    return fw::CWinApp::ExitInstance();
}

std::u16string CSarnelApp::GetPortOfMonitor() const {
    return orvane::GetPortOfMonitor();
}

std::unique_ptr<IProfile> CSarnelApp::OpenAppProfile() const {
    return OpenProfile(m_strRegistryKey, GetAppName());
}

int CSarnelApp::GetProfileInt(const char* section, const char* entry, int defaultValue) const {
    const auto store = OpenAppProfile();
    const auto value = store->Number(Section(section, entry));
    return value && *value >= INT_MIN && *value <= INT_MAX ? static_cast<int>(*value)
                                                           : defaultValue;
}

bool CSarnelApp::WriteProfileInt(const char* section, const char* entry, int value) {
    const auto store = OpenAppProfile();
    store->SetValue(Section(section, entry), static_cast<long long>(value));
    return store->Sync();
}

void CSarnelApp::LoadStdProfileSettings(int maxRecentFiles) {
    m_nMaxRecentFiles = maxRecentFiles;
    m_recentFiles.clear();
    const auto store = OpenAppProfile();
    for (int i = 1; i <= maxRecentFiles; ++i) {
        const std::string file = store->Text(RecentFileKey(i));
        if (!file.empty())
            m_recentFiles.push_back(FromUtf8(file));
    }
    // "Settings/PreviewPages" belongs to printing, which the updater does not offer.
}

void CSarnelApp::SaveStdProfileSettings() {
    if (m_nMaxRecentFiles == 0)
        return;
    const auto store = OpenAppProfile();
    // Nothing is written while the list is as it was read: a run that opened no file leaves
    // the profile untouched.
    bool same = true;
    for (int i = 1; i <= m_nMaxRecentFiles; ++i) {
        const std::string stored = store->Text(RecentFileKey(i));
        const std::string now = i <= static_cast<int>(m_recentFiles.size())
                                    ? ToUtf8(m_recentFiles[static_cast<std::size_t>(i - 1)])
                                    : std::string();
        same = same && stored == now;
    }
    if (same)
        return;
    store->RemoveSection("Recent File List");
    for (std::size_t i = 0; i < m_recentFiles.size(); ++i)
        store->SetValue(RecentFileKey(static_cast<int>(i) + 1), ToUtf8(m_recentFiles[i]));
    store->Sync();
}

void CSarnelApp::AddToRecentFileList(const std::u16string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(path), error);
    if (error)
        absolute = std::filesystem::path(path);
    const std::u16string entry = absolute.lexically_normal().u16string();
    std::erase(m_recentFiles, entry);
    m_recentFiles.push_front(entry);
    while (static_cast<int>(m_recentFiles.size()) > m_nMaxRecentFiles)
        m_recentFiles.pop_back();
}

bool CSarnelApp::OpenDocumentFile(const std::u16string& path) {
    if (!m_pDoc || !m_pDoc->OnOpenDocument(path)) {
        orvane::MessageBoxW(m_pMainWnd, u"Cannot open the document \"" + path + u"\".",
                            GetAppName(), fw::MB_OK | fw::MB_ICONERROR);
        return false;
    }
    AddToRecentFileList(path);
    return true;
}

void CSarnelApp::OnAppAbout() {
    std::u16string firmware = u"Version " + FromUtf8(kVersion);
    if (m_pFrame)
        firmware += u"\nFirmware: " + FromUtf8(m_pFrame->Firmware()->Origin());
    CAboutDlg aboutDlg(firmware);
    aboutDlg.DoModal();
}

std::shared_ptr<const firmware::FirmwareSet> CSarnelApp::StartFirmware(std::u16string& problem) {
    if (m_options.firmware)
        return m_options.firmware;
    const std::string remembered = OpenAppProfile()->Text(kFirmwarePackageKey);
    if (!remembered.empty()) {
        const auto loaded = LoadFirmwarePackage(remembered, m_options.trustedKeys);
        if (loaded.firmware)
            return loaded.firmware;
        // Kept for the next start: the package may be on a drive that is not there today.
        problem = u"The firmware package loaded last time was refused, so this updater's own "
                  u"firmware is used.\r\n\r\n" +
                  FromUtf8(loaded.error);
    }
    return firmware::BuiltInFirmware();
}

void CSarnelApp::ShowFirmwareText() {
    if (!m_pView || !m_pFrame || !m_backend)
        return;
    m_pView->m_firmwareText.SetWindowTextW(
        FirmwareText(*m_pFrame->Firmware(),
                     [this](std::u16string_view text) { return m_backend->Translate(text); }));
}

bool CSarnelApp::TransferRunning() const {
    return m_pView && m_pView->IsTransferRunning();
}

// The blocks going out come from the firmware the transfer started with; a package loaded now
// would be named by the message list, the About box and the next start as if it had been
// written. The command is refused here, whatever the menu showed.
bool CSarnelApp::RefuseLoadDuringTransfer() {
    if (!TransferRunning())
        return false;
    orvane::MessageBoxW(m_pMainWnd,
                        u"A transfer is running: no firmware package can be loaded until it has "
                        u"ended. Nothing was loaded.",
                        GetAppName(), fw::MB_OK | fw::MB_ICONWARNING);
    return true;
}

void CSarnelApp::OnLoadFirmware() {
    if (!m_backend || RefuseLoadDuringTransfer())
        return;
    const auto chosen = m_backend->ChooseFile({true, {}});
    if (!chosen)
        return;
    // The package is a folder: any file chosen in it (manifest.json, say) names the folder.
    std::error_code error;
    std::filesystem::path chosenPath =
        std::filesystem::absolute(std::filesystem::path(*chosen), error);
    if (error)
        chosenPath = std::filesystem::path(*chosen);
    chosenPath = chosenPath.lexically_normal();
    if (std::filesystem::is_regular_file(chosenPath, error))
        chosenPath = chosenPath.parent_path();
    LoadFirmware(chosenPath.u16string());
}

bool CSarnelApp::LoadFirmware(const std::u16string& path) {
    // Asked again: a transfer may have begun while the file chooser was open.
    if (RefuseLoadDuringTransfer())
        return false;
    const auto loaded = LoadFirmwarePackage(ToUtf8(path), m_options.trustedKeys);
    if (!loaded.firmware) {
        orvane::MessageBoxW(m_pMainWnd,
                            u"The firmware package was refused; nothing will be sent from it."
                            u"\r\n\r\n" +
                                FromUtf8(loaded.error),
                            GetAppName(), fw::MB_OK | fw::MB_ICONERROR);
        return false;
    }
    if (m_pFrame)
        m_pFrame->SetFirmware(loaded.firmware);
    ShowFirmwareText();
    if (m_options.onFirmwareChanged)
        m_options.onFirmwareChanged(loaded.firmware);
    const auto store = OpenAppProfile();
    store->SetValue(kFirmwarePackageKey, ToUtf8(path));
    store->Sync();
    if (m_pView) {
        m_pView->m_list.AddString(u"Firmware: " + FromUtf8(loaded.firmware->Description()));
        m_pView->m_list.SetCurSel(m_pView->m_list.GetCount() - 1);
    }
    return true;
}

void CSarnelApp::OnLanguageEnglish() {
    if (m_nLanguage == kEnglish)
        return;
    if (!WriteProfileInt(kLanguageSection, kLanguageEntry, kEnglish))
        return TellLanguageNotStored();
    orvane::MessageBoxW(m_pMainWnd, kRestartEnglish, GetAppName(),
                        fw::MB_OK | fw::MB_ICONINFORMATION);
}

void CSarnelApp::OnLanguageChinese() {
    if (m_nLanguage == kChinese)
        return;
    if (!WriteProfileInt(kLanguageSection, kLanguageEntry, kChinese))
        return TellLanguageNotStored();
    orvane::MessageBoxW(m_pMainWnd, kRestartChinese, GetAppName(),
                        fw::MB_OK | fw::MB_ICONINFORMATION);
}

// A restart request after a choice that was not stored would send the operator into a restart
// that changes nothing.
void CSarnelApp::TellLanguageNotStored() {
    orvane::MessageBoxW(m_pMainWnd,
                        u"The language could not be stored in this user's settings, so the next "
                        u"start keeps the language of this one.",
                        GetAppName(), fw::MB_OK | fw::MB_ICONERROR);
}

void CSarnelApp::OnFileNew() {
    if (m_pDoc)
        m_pDoc->OnNewDocument();
}

void CSarnelApp::OnFileOpen() {
    if (!m_backend)
        return;
    if (auto path = m_backend->ChooseFile({true, {}}))
        OpenDocumentFile(*path);
}

void CSarnelApp::OnFileSave() {
    SaveDocument(false);
}

void CSarnelApp::SaveDocument(bool askForName) {
    if (!m_pDoc || !m_backend)
        return;
    std::u16string path = m_pDoc->GetPathName();
    if (path.empty() || askForName) {
        auto chosen = m_backend->ChooseFile({false, m_pDoc->GetTitle()});
        if (!chosen)
            return;
        path = *chosen;
    }
    // The document has no content, so saving writes an empty file: over a file that holds
    // something (one opened with Open, or chosen by name) that would destroy it unasked.
    std::error_code error;
    const std::filesystem::path target(path);
    if (std::filesystem::is_regular_file(target, error) &&
        std::filesystem::file_size(target, error) > 0 && !error) {
        const std::u16string question =
            u"\"" + path +
            u"\" is not empty. Saving writes this empty document over it, and what it holds is "
            u"lost.\r\nReplace it with an empty document?";
        if (orvane::MessageBoxW(m_pMainWnd, question, GetAppName(),
                                fw::MB_YESNO | fw::MB_ICONWARNING | fw::MB_DEFBUTTON2) != fw::IDYES)
            return;
    }
    if (!m_pDoc->OnSaveDocument(path)) {
        orvane::MessageBoxW(m_pMainWnd, u"Cannot save the document \"" + path + u"\".",
                            GetAppName(), fw::MB_OK | fw::MB_ICONERROR);
        return;
    }
    AddToRecentFileList(path);
}

bool CSarnelApp::OnCmdMsg(fw::UINT nID) {
    switch (nID) {
    case ui::ID_APP_ABOUT:
        OnAppAbout();
        return true;
    case ui::ID_LANGUAGE_ENGLISH:
        OnLanguageEnglish();
        return true;
    case ui::ID_LANGUAGE_CHINESE:
        OnLanguageChinese();
        return true;
    case ui::ID_FILE_NEW:
        OnFileNew();
        return true;
    case ui::ID_FILE_OPEN:
        OnFileOpen();
        return true;
    case ui::ID_FILE_SAVE:
        OnFileSave();
        return true;
    case ui::ID_FILE_SAVE_AS:
        SaveDocument(true);
        return true;
    case ui::ID_LOAD_FIRMWARE:
        OnLoadFirmware();
        return true;
    case ui::ID_FILE_PRINT_SETUP:
        if (m_backend)
            m_backend->ShowPageSetup();
        return true;
    default:
        return false;
    }
}

void CSarnelApp::OnUpdateCmdUI(fw::CCmdUI& cmdUI) {
    switch (cmdUI.m_nID) {
    case ui::ID_LANGUAGE_ENGLISH:
        cmdUI.Enable(true);
        cmdUI.SetCheck(m_nLanguage == kEnglish ? 1 : 0);
        break;
    case ui::ID_LANGUAGE_CHINESE:
        cmdUI.Enable(true);
        cmdUI.SetCheck(m_nLanguage == kChinese ? 1 : 0);
        break;
    case ui::ID_LOAD_FIRMWARE:
        cmdUI.Enable(!TransferRunning());
        break;
    case ui::ID_APP_ABOUT:
    case ui::ID_FILE_NEW:
    case ui::ID_FILE_OPEN:
    case ui::ID_FILE_SAVE:
    case ui::ID_FILE_SAVE_AS:
    case ui::ID_FILE_PRINT_SETUP:
        cmdUI.Enable(true);
        break;
    default:
        break;
    }
}

} // namespace orvane::app
