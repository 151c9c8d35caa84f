// The Win32 back end's modal dialogs: the system's dialogs built from the templates, centred
// over their owner, the file dialogs of the document commands and the page set-up.
#include "framework/win32/backend_impl.h"

#include <commdlg.h>

#include <algorithm>

namespace fw::win32ui {

void CenterOver(::HWND hwnd, ::HWND over) {
    RECT area{};
    if (over && IsWindowVisible(over))
        GetWindowRect(over, &area);
    else
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    RECT r{};
    GetWindowRect(hwnd, &r);
    const int x = area.left + ((area.right - area.left) - (r.right - r.left)) / 2;
    const int y = area.top + ((area.bottom - area.top) - (r.bottom - r.top)) / 2;
    SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Backend::InstallDialogRunner() {
    m_impl->previousRunner = SetDialogRunner([this](CDialog& dlg) {
        const DialogTemplate* t = FindTemplate(dlg.GetTemplateId());
        if (!t)
            return; // no template: the dialog counts as cancelled
        const auto data =
            BuildDialogTemplate(*t, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                [this](const std::u16string& s) { return Translate(s); });
        FormContext ctx(*this, dlg, *t, &dlg);
        const ::HWND owner = m_impl->ModalOwner();
        m_impl->openDialogs.push_back(&ctx);
        DialogBoxIndirectParamW(Module(), reinterpret_cast<LPCDLGTEMPLATEW>(data.data()), owner,
                                FormProc, reinterpret_cast<LPARAM>(&ctx));
        m_impl->openDialogs.pop_back();
        RefreshCommandStates();
    });
}

void Backend::SetFileChooser(FileChooser chooser) {
    m_impl->chooser = std::move(chooser);
}

std::optional<std::u16string> Backend::ChooseFile(const FileRequest& request) {
    if (m_impl->chooser)
        return m_impl->chooser(request);
    std::vector<wchar_t> name(32768, L'\0');
    const std::u16string suggested = request.suggestedName.substr(0, name.size() - 1);
    std::copy(suggested.begin(), suggested.end(), name.begin());
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = m_impl->ModalOwner();
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = static_cast<DWORD>(name.size());
    ofn.lpstrFilter = L"All files\0*.*\0";
    // The caller asks before it writes over a file that holds something; the dialog's own
    // question would only ask twice.
    ofn.Flags =
        OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | (request.open ? OFN_FILEMUSTEXIST : 0);
    const BOOL chosen = request.open ? GetOpenFileNameW(&ofn) : GetSaveFileNameW(&ofn);
    RefreshCommandStates();
    if (!chosen)
        return std::nullopt;
    return U(name.data());
}

void Backend::ShowPageSetup() {
    PAGESETUPDLGW setup{};
    setup.lStructSize = sizeof(setup);
    setup.hwndOwner = m_impl->ModalOwner();
    setup.hDevMode = m_impl->devMode;
    setup.hDevNames = m_impl->devNames;
    setup.Flags = PSD_DEFAULTMINMARGINS;
    if (PageSetupDlgW(&setup)) {
        m_impl->devMode = setup.hDevMode;
        m_impl->devNames = setup.hDevNames;
    }
    RefreshCommandStates();
}

} // namespace fw::win32ui
