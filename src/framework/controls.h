// The controls the system uses: list box, progress bar, combo box.
//
// Each control keeps its whole state here, behaving as the native control does (indexes,
// error results, clamping), and tells an optional peer of every change so a graphical back
// end can mirror it. The *ByUser operations are the back end's way in: the operator changed
// the selection, so the parent is notified as the native control would notify it.
//
// Thread contract: user-interface thread only, like every window (see wnd.h).
#pragma once

#include "framework/wnd.h"

#include <string>
#include <string_view>
#include <vector>

namespace fw {

class IListBoxPeer : public IWndPeer {
public:
    virtual void OnAddString(int /*index*/, std::u16string_view /*text*/) {}
    virtual void OnDeleteString(int /*index*/) {}
    // -1 when the selection was cleared. Selecting a line also scrolls it into view.
    virtual void OnSelect(int /*index*/) {}
};

// An unsorted list box: lines stay in the order they are added.
class CListBox : public CWnd {
public:
    int AddString(std::u16string_view text); // index of the new line
    int DeleteString(int nIndex);            // lines left, or LB_ERR
    int GetCount() const { return static_cast<int>(m_lines.size()); }
    // nSelect, or LB_ERR; -1 clears the selection, a bad index leaves it.
    int SetCurSel(int nSelect);
    int GetCurSel() const { return m_nCurSel; }             // LB_ERR when nothing is selected
    int GetText(int nIndex, std::u16string& rString) const; // length, or LB_ERR
    std::u16string GetText(int nIndex) const;               // empty for a bad index
    void SelectByUser(int nSelect);                         // then LBN_SELCHANGE to the parent
    void SetPeer(IListBoxPeer* peer);

private:
    std::vector<std::u16string> m_lines;
    int m_nCurSel = LB_ERR;
    IListBoxPeer* m_pPeer = nullptr;
};

class IProgressPeer : public IWndPeer {
public:
    virtual void OnRange(int /*lower*/, int /*upper*/) {}
    virtual void OnPos(int /*pos*/) {}
    // The busy animation (the native bar's marquee style) on or off; range and position are
    // kept meanwhile and shown again when it ends.
    virtual void OnMarquee(bool /*on*/) {}
};

// A progress bar. The position always lies within the range: setting the range moves it in,
// and a position outside the range is clamped, as the native bar does. Range 0..100 at first.
class CProgressCtrl : public CWnd {
public:
    void SetRange32(int nLower, int nUpper);
    void GetRange(int& nLower, int& nUpper) const;
    int SetPos(int nPos); // the previous position
    int GetPos() const { return m_nPos; }
    // Shows that something is going on whose length nobody knows (a receiver not answering
    // yet), without touching the range or the position.
    void SetMarquee(bool on);
    bool GetMarquee() const { return m_bMarquee; }
    void SetPeer(IProgressPeer* peer);

private:
    int Clamp(int nPos) const;

    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nPos = 0;
    bool m_bMarquee = false;
    IProgressPeer* m_pPeer = nullptr;
};

class IComboBoxPeer : public IWndPeer {
public:
    virtual void OnAddString(int /*index*/, std::u16string_view /*text*/) {}
    virtual void OnSelect(int /*index*/) {}
};

// A drop-down list combo box (no typing): its text is the selected entry's, or empty.
class CComboBox : public CWnd {
public:
    int AddString(std::u16string_view text); // index of the new entry
    int GetCount() const { return static_cast<int>(m_items.size()); }
    // nSelect, or CB_ERR; -1 or an index without entry clears the selection.
    int SetCurSel(int nSelect);
    int GetCurSel() const { return m_nCurSel; }
    int GetLBText(int nIndex, std::u16string& rString) const; // length, or CB_ERR
    std::u16string GetLBText(int nIndex) const;
    std::u16string GetWindowTextW() const override;
    void SelectByUser(int nSelect); // then CBN_SELCHANGE to the parent
    void SetPeer(IComboBoxPeer* peer);

private:
    std::vector<std::u16string> m_items;
    int m_nCurSel = CB_ERR;
    IComboBoxPeer* m_pPeer = nullptr;
};

// Exchanges a selection index with a combo box: into the control when the exchange loads,
// out of it when it saves (CB_ERR when nothing is selected).
void DDX_CBIndex(CDataExchange* pDX, CComboBox& rCombo, int& index);

} // namespace fw
