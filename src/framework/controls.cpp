#include "framework/controls.h"

namespace fw {

namespace {
bool InRange(int index, std::size_t count) {
    return index >= 0 && static_cast<std::size_t>(index) < count;
}
} // namespace

// ---- CListBox ----

int CListBox::AddString(std::u16string_view text) {
    m_lines.emplace_back(text);
    const int index = GetCount() - 1;
    if (m_pPeer)
        m_pPeer->OnAddString(index, text);
    return index;
}

int CListBox::DeleteString(int nIndex) {
    if (!InRange(nIndex, m_lines.size()))
        return LB_ERR;
    m_lines.erase(m_lines.begin() + nIndex);
    // The selection stays on the same line: it moves up when a line above it goes, and is
    // cleared when its own line goes.
    const int before = m_nCurSel;
    if (nIndex == m_nCurSel)
        m_nCurSel = LB_ERR;
    else if (nIndex < m_nCurSel)
        --m_nCurSel;
    if (m_pPeer) {
        m_pPeer->OnDeleteString(nIndex);
        if (m_nCurSel != before)
            m_pPeer->OnSelect(m_nCurSel);
    }
    return GetCount();
}

int CListBox::SetCurSel(int nSelect) {
    // -1 clears the selection and, as on Windows, still answers LB_ERR.
    if (nSelect != -1 && !InRange(nSelect, m_lines.size()))
        return LB_ERR;
    m_nCurSel = nSelect;
    if (m_pPeer)
        m_pPeer->OnSelect(m_nCurSel);
    return nSelect == -1 ? LB_ERR : nSelect;
}

int CListBox::GetText(int nIndex, std::u16string& rString) const {
    if (!InRange(nIndex, m_lines.size()))
        return LB_ERR;
    rString = m_lines[static_cast<std::size_t>(nIndex)];
    return static_cast<int>(rString.size());
}

std::u16string CListBox::GetText(int nIndex) const {
    std::u16string text;
    GetText(nIndex, text);
    return text;
}

void CListBox::SelectByUser(int nSelect) {
    if (SetCurSel(nSelect) != LB_ERR)
        NotifyParent(LBN_SELCHANGE);
}

void CListBox::SetPeer(IListBoxPeer* peer) {
    m_pPeer = peer;
    SetWndPeer(peer);
}

// ---- CProgressCtrl ----

int CProgressCtrl::Clamp(int nPos) const {
    // Checked in this order so that an inverted range still gives a defined position.
    if (nPos < m_nLower)
        nPos = m_nLower;
    if (nPos > m_nUpper)
        nPos = m_nUpper;
    return nPos;
}

void CProgressCtrl::SetRange32(int nLower, int nUpper) {
    m_nLower = nLower;
    m_nUpper = nUpper;
    const int pos = Clamp(m_nPos);
    if (m_pPeer)
        m_pPeer->OnRange(m_nLower, m_nUpper);
    if (pos != m_nPos) {
        m_nPos = pos;
        if (m_pPeer)
            m_pPeer->OnPos(m_nPos);
    }
}

void CProgressCtrl::GetRange(int& nLower, int& nUpper) const {
    nLower = m_nLower;
    nUpper = m_nUpper;
}

int CProgressCtrl::SetPos(int nPos) {
    const int previous = m_nPos;
    m_nPos = Clamp(nPos);
    if (m_pPeer && m_nPos != previous)
        m_pPeer->OnPos(m_nPos);
    return previous;
}

void CProgressCtrl::SetMarquee(bool on) {
    if (on == m_bMarquee)
        return;
    m_bMarquee = on;
    if (m_pPeer)
        m_pPeer->OnMarquee(on);
}

void CProgressCtrl::SetPeer(IProgressPeer* peer) {
    m_pPeer = peer;
    SetWndPeer(peer);
}

// ---- CComboBox ----

int CComboBox::AddString(std::u16string_view text) {
    m_items.emplace_back(text);
    const int index = GetCount() - 1;
    if (m_pPeer)
        m_pPeer->OnAddString(index, text);
    return index;
}

int CComboBox::SetCurSel(int nSelect) {
    if (nSelect != -1 && !InRange(nSelect, m_items.size())) {
        // Windows clears the selection when asked for an entry that does not exist.
        nSelect = -1;
    }
    m_nCurSel = nSelect;
    if (m_pPeer)
        m_pPeer->OnSelect(m_nCurSel);
    return nSelect == -1 ? CB_ERR : nSelect;
}

int CComboBox::GetLBText(int nIndex, std::u16string& rString) const {
    if (!InRange(nIndex, m_items.size()))
        return CB_ERR;
    rString = m_items[static_cast<std::size_t>(nIndex)];
    return static_cast<int>(rString.size());
}

std::u16string CComboBox::GetLBText(int nIndex) const {
    std::u16string text;
    GetLBText(nIndex, text);
    return text;
}

std::u16string CComboBox::GetWindowTextW() const {
    return GetLBText(m_nCurSel);
}

void CComboBox::SelectByUser(int nSelect) {
    if (SetCurSel(nSelect) != CB_ERR)
        NotifyParent(CBN_SELCHANGE);
}

void CComboBox::SetPeer(IComboBoxPeer* peer) {
    m_pPeer = peer;
    SetWndPeer(peer);
}

void DDX_CBIndex(CDataExchange* pDX, CComboBox& rCombo, int& index) {
    if (pDX->m_bSaveAndValidate)
        index = rCombo.GetCurSel();
    else
        rCombo.SetCurSel(index);
}

} // namespace fw
