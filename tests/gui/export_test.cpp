// The export command from the window: the Save dialog's answers, and the file it writes from the
// list as shown.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "gui_support.h"
#include "res/resource.h"
#include "support/slapd_fixture.h"
#include "support/test_env.h"

namespace fs = std::filesystem;
using brevonix::test::MakeSeedUser;
using brevonix::test::SlapdServer;

namespace {

class ExportCommand : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/brevonix-export-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    CString Path(const std::string& name) const { return CString::FromUtf8((m_dir / name).string()); }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(m_dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(m_dir / name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Clicks the export link with the Save dialog answered by `answer` (nullopt: Cancel).
    void Export(CVexlorDlg& d, RecordingSeam& seam, std::optional<CString> answer) {
        seam.fileAnswers.push_back(std::move(answer));
        afxtest::Click(d.m_lnkExport.m_hWnd);
    }

    fs::path m_dir;
};

// The lines of a CSV file (CR LF ends), the two header lines checked and removed.
std::vector<std::string> BodyLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t pos; (pos = bytes.find("\r\n", start)) != std::string::npos; start = pos + 2)
        lines.push_back(bytes.substr(start, pos - start));
    EXPECT_EQ(start, bytes.size()) << "the file ends with a line end";
    EXPECT_GE(lines.size(), 2u);
    if (lines.size() < 2) return {};
    EXPECT_EQ(lines[0], "SOFTWARE    :Talmore");
    EXPECT_TRUE(
        std::regex_match(lines[1], std::regex(R"(Creation Date\\Time   :\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)")))
        << lines[1];
    return {lines.begin() + 2, lines.end()};
}

} // namespace

TEST_F(ExportCommand, AsksWithTheSaveDialogAndCancelWritesNothing) {
    RecordingSeam seam;
    CVexlorDlg dlg;
    const fs::path cwd = fs::current_path();
    RunMainWindow(dlg, [&](CVexlorDlg& d) { Export(d, seam, std::nullopt); });
    ASSERT_EQ(seam.fileRequests.size(), 1u);
    const CFileDialogRequest& r = seam.fileRequests[0];
    EXPECT_TRUE(r.bSave);
    EXPECT_EQ(r.strTitle, u"Save as");
    ASSERT_EQ(r.filters.size(), 1u);
    EXPECT_EQ(r.filters[0].first, u"csv Files (*.csv)");
    EXPECT_EQ(r.filters[0].second, u"*.csv");
    EXPECT_EQ(r.dwFlags, 0x00A00802u);
    EXPECT_TRUE(r.strInitialName.IsEmpty());
    EXPECT_TRUE(Files().empty());
    EXPECT_TRUE(seam.messages.empty());
    EXPECT_EQ(fs::current_path(), cwd);
}

TEST_F(ExportCommand, ANameWithoutExtensionBecomesACsvFile) {
    RecordingSeam seam;
    CVexlorDlg dlg;
    RunMainWindow(dlg, [&](CVexlorDlg& d) { Export(d, seam, Path("report")); });
    EXPECT_EQ(Files(), std::vector<std::string>{"report.csv"});
    EXPECT_TRUE(seam.messages.empty());
    // An empty list: the header block and the heading row of the columns it has.
    EXPECT_EQ(BodyLines(Read("report.csv")),
              std::vector<std::string>{"NAME,FIRST NAME,INITIAL,LAST NAME,DISPLAY NAME,DESCRIPTION"});
}

TEST_F(ExportCommand, AnotherExtensionWritesNothingAndSaysWhy) {
    for (const char* name : {"REPORT.CSV", "x.txt", "data.csv.old"}) {
        RecordingSeam seam;
        CVexlorDlg dlg;
        RunMainWindow(dlg, [&](CVexlorDlg& d) { Export(d, seam, Path(name)); });
        EXPECT_TRUE(Files().empty()) << name;
        ASSERT_EQ(seam.messages.size(), 1u) << name;
        EXPECT_EQ(seam.messages[0].text, u"The export is saved only to a file whose name ends in \".csv\".");
        EXPECT_EQ(seam.messages[0].type, MB_ICONINFORMATION);
    }
}

TEST_F(ExportCommand, AListWithoutColumnsWritesTheHeaderBlockOnly) {
    RecordingSeam seam;
    CVexlorDlg dlg;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        while (d.m_lstResult.DeleteColumn(0)) {
        }
        Export(d, seam, Path("empty.csv"));
    });
    EXPECT_TRUE(BodyLines(Read("empty.csv")).empty());
    EXPECT_TRUE(seam.messages.empty());
}

TEST_F(ExportCommand, AnExistingFileIsReplaced) {
    {
        std::ofstream out(m_dir / "old.csv", std::ios::binary);
        out << std::string(10000, 'x');
    }
    RecordingSeam seam;
    CVexlorDlg dlg;
    RunMainWindow(dlg, [&](CVexlorDlg& d) { Export(d, seam, Path("old.csv")); });
    EXPECT_EQ(BodyLines(Read("old.csv")).size(), 1u);
}

TEST_F(ExportCommand, AFolderThatIsNotThereGivesTheWritersMessage) {
    RecordingSeam seam;
    CVexlorDlg dlg;
    RunMainWindow(dlg, [&](CVexlorDlg& d) { Export(d, seam, Path("gone/report.csv")); });
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, u"Unable to create .csv file");
    EXPECT_EQ(seam.messages[0].type, MB_OK);
}

TEST_F(ExportCommand, TheFileOfARealSearchMatchesTheListCellForCell) {
    std::string error;
    auto server = SlapdServer::Start({.userCount = 120}, error);
    if (!server) {
        if (RunningInCi()) FAIL() << "slapd did not start: " << error;
        GTEST_SKIP() << "slapd did not start: " << error;
    }
    const auto beyondLatin1 = MakeSeedUser(brevonix::test::kUserBeyondLatin1);
    RecordingSeam seam;
    CVexlorDlg dlg;
    std::vector<std::vector<CString>> rows;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        d.m_lstResult.InsertColumn(6, u"ADDRESS", LVCFMT_LEFT, 90);
        d.m_lstResult.InsertColumn(7, u"E-MAIL ID", LVCFMT_LEFT, 90);
        d.m_edtDomain.SetWindowText(CString::FromUtf8(server->HostPort()));
        d.SetDlgItemText(IDC_EDT_USER, CString(SlapdServer::BindDn16()));
        d.SetDlgItemText(IDC_EDT_PASSWORD, CString(SlapdServer::BindPassword16()));
        // Everyone whose names the file's one byte per character can hold.
        d.m_edtQuery.SetWindowText(
            CString::FromUtf8("(&(objectClass=user)(objectCategory=user)(!(cn=" + beyondLatin1.cn + ")))"));
        afxtest::Click(::GetDlgItem(d.m_hWnd, IDC_BTN_GENERATE));
        rows = Rows(d);
        Export(d, seam, Path("users.csv"));
    });
    EXPECT_TRUE(seam.messages.empty()) << (seam.messages.empty() ? "" : seam.messages[0].text.ToUtf8());
    ASSERT_EQ(static_cast<int>(rows.size()), server->UserObjectCount() - 1);
    const auto lines = BodyLines(Read("users.csv"));
    ASSERT_EQ(lines.size(), rows.size() + 1);
    EXPECT_EQ(lines[0], "NAME,FIRST NAME,INITIAL,LAST NAME,DISPLAY NAME,DESCRIPTION,ADDRESS,E-MAIL ID");
    for (size_t r = 0; r < rows.size(); ++r) {
        std::string expected;
        for (size_t c = 0; c < rows[r].size(); ++c) {
            if (c) expected += ',';
            // One byte per character: ISO 8859-1.
            for (int i = 0; i < rows[r][c].GetLength(); ++i)
                expected += static_cast<char>(rows[r][c][i]);
        }
        EXPECT_EQ(lines[r + 1], expected) << "row " << r;
    }
}

TEST_F(ExportCommand, ACharacterBeyondLatin1StopsTheFileJustBeforeIt) {
    RecordingSeam seam;
    CVexlorDlg dlg;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        d.m_lstResult.InsertItem(0, u"Ann Lee");
        d.m_lstResult.SetItemText(0, 1, u"Ann");
        d.m_lstResult.InsertItem(1, u"Euro \u20AC sign");
        d.m_lstResult.SetItemText(1, 1, u"Bob");
        d.m_lstResult.InsertItem(2, u"Never written");
        Export(d, seam, Path("partial.csv"));
    });
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, u"Unable to write to .csv file");
    EXPECT_EQ(seam.messages[0].type, MB_OK);
    const std::string bytes = Read("partial.csv");
    const std::string tail = "\r\nAnn Lee,Ann,,,,\r\nEuro ";
    ASSERT_GE(bytes.size(), tail.size());
    EXPECT_EQ(bytes.substr(bytes.size() - tail.size()), tail);
}
