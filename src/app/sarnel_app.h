// The application object: start-up in the desktop order, the interface language kept in the
// profile, the single document with its main window and update view, and the commands the
// application handles itself (About, English, Chinese, New, Open, Save).
//
// The language is chosen once, at start-up, from the profile value "UI" in section
// "Selvane Works": 1 is English; any other value loads the Chinese bundle when it is there.
// With no value stored (a first start) the system's language decides: Chinese on a Chinese
// system, English on any other (start_language.h). The language commands only store the new
// value and ask for a restart.
//
// Thread contract: one object per process, on the user-interface thread, created after the
// toolkit's application object (Qt) or at the start of the program (Win32). Every member runs on
// that thread.
#pragma once

#include "app/language_bundle.h"
#include "app/sarnel_doc.h"
#include "framework/app.h"
#include "platform/profile.h"
#include "ui/main_frame.h"
#include "ui/update_view.h"

// The window back end of this system's desktop updater; both keep framework/backend.h.
#ifdef _WIN32
#include "framework/win32/backend.h"
#else
#include "framework/qt/backend.h"
#endif

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane::app {

#ifdef _WIN32
using UiBackend = fw::win32ui::Backend;
#else
using UiBackend = fw::qtui::Backend;
#endif

// Makes the window's resource texts those of the loaded bundle, as far as this system's back end
// needs telling (language_bundle.cpp, language_bundle_win32.cpp).
void UseBundleTexts(UiBackend& backend, const CLanguageBundle& bundle);

// Whether the user's interface language on this system is Chinese (same files).
bool SystemLanguageIsChinese();

struct AppOptions {
    // Ports, port list, stored port name; the resource chain is filled in at start-up.
    ui::MainFrameServices frame;
    // Where the language bundle is looked for, in order; empty: next to the program, then
    // the installed data folder.
    std::vector<std::string> bundleFolders;
    // A port chosen on the command line: replaces the stored one before the window is built.
    std::optional<int> port;
    // The device path named for that port, opened exactly as named; empty: the port
    // directory's device for the number.
    std::string devicePath;
    // A document named on the command line.
    std::optional<std::u16string> documentPath;
    bool showWindow = true;
    // Whether the system's language is Chinese, for a start with no language stored; empty:
    // the system is asked.
    std::optional<bool> chineseSystem;
    // A firmware package named on the command line (already checked): used for this run
    // instead of the one loaded last time, and not remembered.
    std::shared_ptr<const firmware::FirmwareSet> firmware;
    // Public key files trusted besides the installed ones (--trusted-key).
    std::vector<std::string> trustedKeys;
    // Told whenever the firmware changes (the in-process simulated receiver follows it).
    std::function<void(const std::shared_ptr<const firmware::FirmwareSet>&)> onFirmwareChanged;
};

// Where the desktop updater remembers the package loaded last.
inline constexpr const char* kFirmwarePackageKey = "Firmware/Package";

class CSarnelApp : public fw::CWinApp {
public:
    static constexpr int kMaxRecentFiles = 4;

    explicit CSarnelApp(AppOptions options = {}, Clock& clock = RealClock());
    ~CSarnelApp() override;

    bool InitInstance() override;
    int ExitInstance() override;

    // Commands of the application object.
    void OnAppAbout();
    void OnLanguageEnglish();
    void OnLanguageChinese();
    void OnFileNew();
    void OnFileOpen();
    void OnFileSave();
    // Asks for a firmware package (its folder, or any file in it) and loads it.
    void OnLoadFirmware();
    // Loads and checks a package; on success it becomes the firmware of every later update
    // and is remembered for the next start. Failures are shown in a box, and change nothing.
    // Refused (with a box) while a transfer runs, like the command.
    bool LoadFirmware(const std::u16string& path);
    bool OnCmdMsg(fw::UINT nID);
    void OnUpdateCmdUI(fw::CCmdUI& cmdUI);

    // The port name stored in the registry settings ("PortOfMonitor").
    std::u16string GetPortOfMonitor() const;

    // The framework's profile: numbers and texts under the registry key and application name.
    int GetProfileInt(const char* section, const char* entry, int defaultValue) const;
    bool WriteProfileInt(const char* section, const char* entry, int value);

    // Opens a file as the document and enters it in the recent-file list.
    bool OpenDocumentFile(const std::u16string& path);
    const std::deque<std::u16string>& RecentFiles() const { return m_recentFiles; }

    int m_nLanguage = 1;           // 1 English; any other value Chinese
    CLanguageBundle m_hLangBundle; // the loaded bundle, or none

    ui::CMainFrame* Frame() const { return m_pFrame.get(); }
    ui::CUpdateView* View() const { return m_pView.get(); }
    CSarnelDoc* Document() const { return m_pDoc.get(); }
    UiBackend* Backend() const { return m_backend.get(); }
    const std::u16string& RegistryKey() const { return m_strRegistryKey; }

private:
    void SetRegistryKey(std::u16string key) { m_strRegistryKey = std::move(key); }
    // The framework's profile under the registry key and the application name.
    std::unique_ptr<IProfile> OpenAppProfile() const;
    void TellLanguageNotStored();
    bool TransferRunning() const;
    // Shows the frame's firmware in the form's panel.
    void ShowFirmwareText();
    // While a transfer runs: says that no package can be loaded now, and returns true.
    bool RefuseLoadDuringTransfer();
    void LoadStdProfileSettings(int maxRecentFiles);
    void SaveStdProfileSettings();
    void AddToRecentFileList(const std::u16string& path);
    bool CreateDocumentWindow();
    void SaveDocument(bool askForName);
    void CloseWindows();

    AppOptions m_options;
    std::u16string m_strRegistryKey;
    std::deque<std::u16string> m_recentFiles;
    int m_nMaxRecentFiles = 0;
    // The firmware the frame starts with, and why a remembered package was not used.
    std::shared_ptr<const firmware::FirmwareSet> StartFirmware(std::u16string& problem);
    // Declared in the order that lets them go in reverse: the back end's waking targets
    // outlive the frame's serial worker; the window goes before the frame (CloseWindows).
    std::unique_ptr<UiBackend> m_backend;
    std::unique_ptr<CSarnelDoc> m_pDoc;
    std::unique_ptr<ui::CUpdateView> m_pView;
    std::unique_ptr<ui::CMainFrame> m_pFrame;
};

} // namespace orvane::app
