// The controls behave as the native ones do: indexes, error results, selection, clamping,
// and what their peers are told.
#include "framework/controls.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using fw::CB_ERR;
using fw::LB_ERR;

// Operations on a list box holding "a", "b", "c" with "c" selected; the result, the lines
// and the selection afterwards.
TEST(ListBox, OperationsTable) {
    struct Case {
        const char* what;
        std::function<int(fw::CListBox&)> op;
        int result;
        std::vector<std::u16string> lines;
        int sel;
    };
    const Case cases[] = {
        {"add appends at the end",
         [](auto& l) { return l.AddString(u"d"); },
         3,
         {u"a", u"b", u"c", u"d"},
         2},
        {"delete the last line, the selected one",
         [](auto& l) { return l.DeleteString(2); },
         2,
         {u"a", u"b"},
         LB_ERR},
        {"delete above the selection moves it up",
         [](auto& l) { return l.DeleteString(0); },
         2,
         {u"b", u"c"},
         1},
        {"delete past the end",
         [](auto& l) { return l.DeleteString(3); },
         LB_ERR,
         {u"a", u"b", u"c"},
         2},
        {"delete a negative index",
         [](auto& l) { return l.DeleteString(-1); },
         LB_ERR,
         {u"a", u"b", u"c"},
         2},
        {"select a line", [](auto& l) { return l.SetCurSel(0); }, 0, {u"a", u"b", u"c"}, 0},
        {"select past the end keeps the selection",
         [](auto& l) { return l.SetCurSel(3); },
         LB_ERR,
         {u"a", u"b", u"c"},
         2},
        {"select -1 clears and answers LB_ERR",
         [](auto& l) { return l.SetCurSel(-1); },
         LB_ERR,
         {u"a", u"b", u"c"},
         LB_ERR},
        {"text of a bad index",
         [](auto& l) {
             std::u16string s = u"untouched";
             return l.GetText(5, s) == LB_ERR && s == u"untouched" ? 1 : 0;
         },
         1,
         {u"a", u"b", u"c"},
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fw::CListBox list;
        for (const char16_t* s : {u"a", u"b", u"c"})
            list.AddString(s);
        list.SetCurSel(2);
        EXPECT_EQ(c.op(list), c.result);
        ASSERT_EQ(list.GetCount(), static_cast<int>(c.lines.size()));
        for (int i = 0; i < list.GetCount(); ++i)
            EXPECT_EQ(list.GetText(i), c.lines[static_cast<std::size_t>(i)]);
        EXPECT_EQ(list.GetCurSel(), c.sel);
    }
}

TEST(ListBox, ReplacingTheLastLineAsTheUpdateViewDoesTellsThePeerEachStep) {
    struct Peer : fw::IListBoxPeer {
        std::vector<std::string> log;
        void OnAddString(int i, std::u16string_view t) override {
            log.push_back("add " + std::to_string(i) + " " + std::string(t.begin(), t.end()));
        }
        void OnDeleteString(int i) override { log.push_back("del " + std::to_string(i)); }
        void OnSelect(int i) override { log.push_back("sel " + std::to_string(i)); }
    } peer;
    fw::CListBox list;
    list.SetPeer(&peer);
    list.AddString(u"Address: 0");
    list.SetCurSel(list.GetCount() - 1);
    EXPECT_EQ(list.DeleteString(list.GetCount() - 1), 0);
    list.AddString(u"Address: 80");
    list.SetCurSel(list.GetCount() - 1);
    EXPECT_EQ(peer.log, (std::vector<std::string>{"add 0 Address: 0", "sel 0", "del 0", "sel -1",
                                                  "add 0 Address: 80", "sel 0"}));
}

TEST(ProgressCtrl, PositionsClampToTheRange) {
    struct Case {
        const char* what;
        int lo, hi;
        int before; // position set before the range changes (range 0..100 then)
        int set;
        int previous; // SetPos's answer
        int pos;
    };
    const Case cases[] = {
        {"inside the range", 0, 520, 0, 384, 0, 384},
        {"at the top", 0, 520, 0, 520, 0, 520},
        {"above the top", 0, 520, 0, 700, 0, 520},
        {"below the bottom", 10, 20, 0, 3, 10, 10},
        {"range change pulls the position in", 0, 50, 90, 40, 50, 40},
        {"a position beyond a two-stage total", 0, 1000, 0, 1128, 0, 1000},
        {"negative range", -10, -5, 0, 0, -5, -5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fw::CProgressCtrl bar;
        bar.SetPos(c.before);
        bar.SetRange32(c.lo, c.hi);
        int lo = 0, hi = 0;
        bar.GetRange(lo, hi);
        EXPECT_EQ(lo, c.lo);
        EXPECT_EQ(hi, c.hi);
        EXPECT_EQ(bar.SetPos(c.set), c.previous);
        EXPECT_EQ(bar.GetPos(), c.pos);
    }
}

TEST(ComboBox, SelectionAndTextTable) {
    struct Case {
        const char* what;
        int select;
        int result;
        int sel;
        std::u16string text;
    };
    const Case cases[] = {
        {"first", 0, 0, 0, u"COM1"},
        {"last", 2, 2, 2, u"COM12"},
        {"past the end clears", 3, CB_ERR, CB_ERR, u""},
        {"-1 clears", -1, CB_ERR, CB_ERR, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fw::CComboBox combo;
        EXPECT_EQ(combo.GetWindowTextW(), u"");
        for (const char16_t* s : {u"COM1", u"COM3", u"COM12"})
            combo.AddString(s);
        combo.SetCurSel(1);
        EXPECT_EQ(combo.SetCurSel(c.select), c.result);
        EXPECT_EQ(combo.GetCurSel(), c.sel);
        EXPECT_EQ(combo.GetWindowTextW(), c.text);
        std::u16string item;
        EXPECT_EQ(combo.GetLBText(2, item), 5);
        EXPECT_EQ(item, u"COM12");
        EXPECT_EQ(combo.GetLBText(3, item), CB_ERR);
    }
}

} // namespace
