// The attribute chooser and the Advanced command, driven as a person would: entries clicked in the
// lists, the move buttons pressed, then OK or one of the ways to cancel.
#include <gtest/gtest.h>

#include "attributes/DlgAttributes.h"
#include "gui_support.h"
#include "res/resource.h"

namespace {

using Labels = std::vector<CString>;

Labels Entries(CListBox& list) {
    Labels out;
    for (int i = 0; i < list.GetCount(); ++i) {
        CString s;
        list.GetText(i, s);
        out.push_back(s);
    }
    return out;
}

Labels ToLabels(const CStringArray& arr) {
    return {arr.begin(), arr.end()};
}

// One step: click the entry with this label in the named list (if any), then press the button.
struct Step {
    int list; // IDC_LST_AVAILABLE, IDC_LST_SELECTED or 0 for no click
    CString label;
    int button; // IDC_BTN_MOVE_ONE ...
};

enum class End { Ok, CancelButton, EscapeOnOk, EscapeOnCancel, CloseBox, EnterOnOk };

struct ChooserRun {
    Labels available, selected, basic, extra;     // seen in the chooser just before it ends
    std::vector<std::pair<CString, int>> columns; // heading and width after the command
    bool searched = false;
    bool dialogWasChooser = false;
};

ChooserRun RunChooser(const std::vector<Step>& steps, End end) {
    RecordingSeam seam;
    CVexlorDlg dlg;
    ChooserRun run;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        afxtest::OnNextModal([&](HWND h) {
            auto* chooser = static_cast<CDlgAttributes*>(CWnd::FromHandlePermanent(h));
            run.dialogWasChooser = chooser && chooser->IsKindOf(RUNTIME_CLASS(CDlgAttributes));
            if (!run.dialogWasChooser) return;
            for (const Step& s : steps) {
                if (s.list) {
                    CListBox& list =
                        s.list == IDC_LST_AVAILABLE ? chooser->m_lstAvailable : chooser->m_lstSelected;
                    const Labels entries = Entries(list);
                    const auto it = std::find(entries.begin(), entries.end(), s.label);
                    EXPECT_NE(it, entries.end()) << s.label.ToUtf8();
                    afxtest::ClickListBoxItem(list.m_hWnd, static_cast<int>(it - entries.begin()));
                }
                afxtest::Click(::GetDlgItem(h, s.button));
            }
            run.available = Entries(chooser->m_lstAvailable);
            run.selected = Entries(chooser->m_lstSelected);
            run.basic = ToLabels(d.m_arrBasicColumns);
            run.extra = ToLabels(d.m_arrExtraColumns);
            switch (end) {
            case End::Ok:
                afxtest::Click(::GetDlgItem(h, IDC_BTN_OK));
                break;
            case End::EnterOnOk:
                afxtest::Key(::GetDlgItem(h, IDC_BTN_OK), VK_RETURN);
                break;
            case End::CancelButton:
                afxtest::Click(::GetDlgItem(h, IDC_BTN_CANCEL));
                break;
            case End::EscapeOnOk:
                afxtest::Key(::GetDlgItem(h, IDC_BTN_OK), VK_ESCAPE);
                break;
            case End::EscapeOnCancel:
                afxtest::Key(::GetDlgItem(h, IDC_BTN_CANCEL), VK_ESCAPE);
                break;
            case End::CloseBox:
                afxtest::CloseWindow(h);
                break;
            }
        });
        afxtest::Click(::GetDlgItem(d.m_hWnd, IDC_BTN_ADVANCED));
        for (int i = 0; i < d.m_lstResult.GetHeaderCtrl()->GetItemCount(); ++i)
            run.columns.emplace_back(Headings(d)[static_cast<size_t>(i)], d.m_lstResult.GetColumnWidth(i));
    });
    // The domain is empty: a search that runs says so.
    for (const auto& m : seam.messages)
        if (m.text == CString(u"Enter all credentials.")) run.searched = true;
    return run;
}

const Labels kStartAvailable = {u"ADDRESS",          u"CITY",
                                u"COUNTRY",          u"E-MAIL ID",
                                u"LOGON NAME",       u"OFFICE",
                                u"POST BOX NUMBER",  u"STATE\\PROVINCE",
                                u"TELEPHONE NUMBER", u"WEB SITE ADDRESS",
                                u"ZIP CODE"};
const Labels kStartSelected = {u"DESCRIPTION", u"DISPLAY NAME", u"FIRST NAME",
                               u"INITIAL",     u"LAST NAME",    u"NAME"};
const Labels kStartBasic = {u"NAME",      u"FIRST NAME",   u"INITIAL",
                            u"LAST NAME", u"DISPLAY NAME", u"DESCRIPTION"};
const Labels kStartExtra = {u"OFFICE",   u"TELEPHONE NUMBER", u"E-MAIL ID", u"WEB SITE ADDRESS",
                            u"ADDRESS",  u"POST BOX NUMBER",  u"CITY",      u"STATE\\PROVINCE",
                            u"ZIP CODE", u"COUNTRY",          u"LOGON NAME"};

std::vector<std::pair<CString, int>> StartColumns() {
    std::vector<std::pair<CString, int>> c;
    for (const CString& l : kStartBasic)
        c.emplace_back(l, 80);
    return c;
}

Labels Without(Labels labels, const Labels& gone) {
    for (const CString& g : gone)
        labels.erase(std::remove(labels.begin(), labels.end(), g), labels.end());
    return labels;
}

} // namespace

TEST(AttributeChooser, OpensWithBothSetsSortedAndTheCheckBoxHidden) {
    CVexlorDlg dlg;
    bool checkBoxVisible = true;
    bool focusOnSelected = false;
    CString caption;
    const char* className = nullptr;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        afxtest::OnNextModal([&](HWND h) {
            checkBoxVisible = CWnd::FromHandle(::GetDlgItem(h, IDC_CHK_REPLACE))->IsWindowVisible();
            // The hidden check box comes first in the tab order; the keyboard starts on the next one.
            afxtest::ProcessEvents();
            focusOnSelected = ::GetFocus() == ::GetDlgItem(h, IDC_LST_SELECTED);
            CWnd::FromHandle(h)->GetWindowText(caption);
            className = CWnd::FromHandlePermanent(h)->GetRuntimeClass()->m_lpszClassName;
            afxtest::Click(::GetDlgItem(h, IDC_BTN_CANCEL));
        });
        afxtest::Click(::GetDlgItem(d.m_hWnd, IDC_BTN_ADVANCED));
    });
    EXPECT_FALSE(checkBoxVisible);
    EXPECT_TRUE(focusOnSelected);
    EXPECT_EQ(caption, u"Attributes");
    EXPECT_STREQ(className, "CDlgAttributes");
    EXPECT_TRUE(RUNTIME_CLASS(CDlgAttributes)->IsDerivedFrom(RUNTIME_CLASS(CDialog)));

    const ChooserRun run = RunChooser({}, End::CancelButton);
    EXPECT_EQ(run.available, kStartAvailable);
    EXPECT_EQ(run.selected, kStartSelected);
    EXPECT_EQ(run.basic, kStartBasic);
    EXPECT_EQ(run.extra, kStartExtra);
}

TEST(AttributeChooser, MovesThatCannotBeMadeChangeNothing) {
    const std::vector<std::vector<Step>> sequences = {
        {{0, {}, IDC_BTN_MOVE_ONE}},   // ">" with nothing selected
        {{0, {}, IDC_BTN_REMOVE_ONE}}, // "<" with nothing selected
        {{0, {}, IDC_BTN_MOVE_ONE}, {0, {}, IDC_BTN_REMOVE_ONE}},
    };
    for (const auto& steps : sequences) {
        const ChooserRun run = RunChooser(steps, End::Ok);
        EXPECT_EQ(run.available, kStartAvailable);
        EXPECT_EQ(run.selected, kStartSelected);
        EXPECT_EQ(run.basic, kStartBasic);
        EXPECT_EQ(run.extra, kStartExtra);
        EXPECT_EQ(run.columns, StartColumns());
        EXPECT_TRUE(run.searched);
    }
}

TEST(AttributeChooser, RemoveAllKeepsTheAlphabeticallyLastAndTheLastOneNeverMoves) {
    const ChooserRun run =
        RunChooser({{0, {}, IDC_BTN_REMOVE_ALL}, {IDC_LST_SELECTED, u"NAME", IDC_BTN_REMOVE_ONE}}, End::Ok);
    EXPECT_EQ(run.selected, Labels{u"NAME"});
    EXPECT_EQ(run.basic, Labels{u"NAME"});
    Labels extra = kStartExtra;
    for (const CString& l : kStartSelected)
        if (l != CString(u"NAME")) extra.push_back(l);
    EXPECT_EQ(run.extra, extra);
    EXPECT_EQ(run.available.size(), 16u);
    EXPECT_TRUE(std::is_sorted(run.available.begin(), run.available.end()));
    EXPECT_EQ(run.columns, (std::vector<std::pair<CString, int>>{{u"NAME", 80}}));
}

TEST(AttributeChooser, NewColumnsGoToTheRightAtNinetyPixelsInLabelOrder) {
    const ChooserRun run = RunChooser(
        {{IDC_LST_AVAILABLE, u"OFFICE", IDC_BTN_MOVE_ONE}, {IDC_LST_AVAILABLE, u"CITY", IDC_BTN_MOVE_ONE}},
        End::Ok);
    EXPECT_EQ(run.available, Without(kStartAvailable, {u"OFFICE", u"CITY"}));
    Labels basic = kStartBasic;
    basic.push_back(u"OFFICE");
    basic.push_back(u"CITY");
    EXPECT_EQ(run.basic, basic);
    EXPECT_EQ(run.extra, Without(kStartExtra, {u"OFFICE", u"CITY"}));
    auto columns = StartColumns();
    columns.emplace_back(u"CITY", 90);
    columns.emplace_back(u"OFFICE", 90);
    EXPECT_EQ(run.columns, columns);
    EXPECT_TRUE(run.searched);
}

TEST(AttributeChooser, AColumnWhoseLabelIsNoLongerSelectedGoes) {
    const ChooserRun run = RunChooser({{IDC_LST_SELECTED, u"NAME", IDC_BTN_REMOVE_ONE}}, End::Ok);
    auto columns = StartColumns();
    columns.erase(columns.begin());
    EXPECT_EQ(run.columns, columns);
    EXPECT_EQ(run.extra.back(), u"NAME");
}

TEST(AttributeChooser, MoveAllAppendsTheElevenInAlphabeticalOrder) {
    const ChooserRun run = RunChooser({{0, {}, IDC_BTN_MOVE_ALL}}, End::Ok);
    EXPECT_TRUE(run.available.empty());
    EXPECT_TRUE(run.extra.empty());
    auto columns = StartColumns();
    for (const CString& l : kStartAvailable)
        columns.emplace_back(l, 90);
    EXPECT_EQ(run.columns, columns);
}

TEST(AttributeChooser, OkWithoutAMoveKeepsTheColumnsAndSearchesAgain) {
    for (End end : {End::Ok, End::EnterOnOk}) {
        const ChooserRun run = RunChooser({}, end);
        EXPECT_EQ(run.columns, StartColumns());
        EXPECT_TRUE(run.searched);
    }
}

TEST(AttributeChooser, EveryKindOfCancelPutsTheSetsBackAndSearchesNothing) {
    const std::vector<Step> moves = {{IDC_LST_AVAILABLE, u"OFFICE", IDC_BTN_MOVE_ONE},
                                     {IDC_LST_SELECTED, u"INITIAL", IDC_BTN_REMOVE_ONE},
                                     {0, {}, IDC_BTN_MOVE_ALL}};
    for (End end : {End::CancelButton, End::EscapeOnOk, End::EscapeOnCancel, End::CloseBox}) {
        RecordingSeam seam;
        CVexlorDlg dlg;
        Labels basicAfter, extraAfter;
        std::vector<CString> headingsAfter;
        bool chooserEnded = false;
        RunMainWindow(dlg, [&](CVexlorDlg& d) {
            afxtest::OnNextModal([&](HWND h) {
                auto* chooser = static_cast<CDlgAttributes*>(CWnd::FromHandlePermanent(h));
                for (const Step& s : moves) {
                    if (s.list) {
                        CListBox& list =
                            s.list == IDC_LST_AVAILABLE ? chooser->m_lstAvailable : chooser->m_lstSelected;
                        const Labels entries = Entries(list);
                        afxtest::ClickListBoxItem(
                            list.m_hWnd, static_cast<int>(std::find(entries.begin(), entries.end(), s.label) -
                                                          entries.begin()));
                    }
                    afxtest::Click(::GetDlgItem(h, s.button));
                }
                if (end == End::CancelButton)
                    afxtest::Click(::GetDlgItem(h, IDC_BTN_CANCEL));
                else if (end == End::EscapeOnOk)
                    afxtest::Key(::GetDlgItem(h, IDC_BTN_OK), VK_ESCAPE);
                else if (end == End::EscapeOnCancel)
                    afxtest::Key(::GetDlgItem(h, IDC_BTN_CANCEL), VK_ESCAPE);
                else
                    afxtest::CloseWindow(h);
            });
            afxtest::Click(::GetDlgItem(d.m_hWnd, IDC_BTN_ADVANCED));
            chooserEnded = afxtest::ActiveModal() == d.m_hWnd;
            basicAfter = ToLabels(d.m_arrBasicColumns);
            extraAfter = ToLabels(d.m_arrExtraColumns);
            headingsAfter = Headings(d);
        });
        EXPECT_TRUE(chooserEnded);
        EXPECT_EQ(basicAfter, kStartBasic);
        EXPECT_EQ(extraAfter, kStartExtra);
        EXPECT_EQ(headingsAfter, kStartBasic);
        EXPECT_TRUE(seam.messages.empty()) << "no search runs after a cancel";
    }
}

TEST(AttributeChooser, EnterAndEscapeInAListDoNothing) {
    CVexlorDlg dlg;
    bool stillOpen = false;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        afxtest::OnNextModal([&](HWND h) {
            for (int list : {IDC_LST_AVAILABLE, IDC_LST_SELECTED})
                for (UINT key : {VK_RETURN, VK_ESCAPE})
                    afxtest::Key(::GetDlgItem(h, list), key);
            afxtest::ProcessEvents(10);
            stillOpen = afxtest::ActiveModal() == h;
            afxtest::Click(::GetDlgItem(h, IDC_BTN_CANCEL));
        });
        afxtest::Click(::GetDlgItem(d.m_hWnd, IDC_BTN_ADVANCED));
    });
    EXPECT_TRUE(stillOpen);
}

TEST(AttributeChooser, MovingOneSelectsTheEntryThatFollowed) {
    CVexlorDlg dlg;
    CString selectedAfter;
    int selectionAfterLast = 0;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        afxtest::OnNextModal([&](HWND h) {
            auto* chooser = static_cast<CDlgAttributes*>(CWnd::FromHandlePermanent(h));
            afxtest::ClickListBoxItem(chooser->m_lstAvailable.m_hWnd, 1); // CITY
            afxtest::Click(::GetDlgItem(h, IDC_BTN_MOVE_ONE));
            chooser->m_lstAvailable.GetText(chooser->m_lstAvailable.GetCurSel(), selectedAfter);
            const int last = chooser->m_lstAvailable.GetCount() - 1;
            afxtest::ClickListBoxItem(chooser->m_lstAvailable.m_hWnd, last);
            afxtest::Click(::GetDlgItem(h, IDC_BTN_MOVE_ONE));
            selectionAfterLast = chooser->m_lstAvailable.GetCurSel();
            afxtest::Click(::GetDlgItem(h, IDC_BTN_CANCEL));
        });
        afxtest::Click(::GetDlgItem(d.m_hWnd, IDC_BTN_ADVANCED));
    });
    EXPECT_EQ(selectedAfter, u"COUNTRY");
    EXPECT_EQ(selectionAfterLast, LB_ERR);
}
