// The export command from the window when the file system works against it: the chosen folder
// disappears, another process holds the file, the disk fills in the middle, the path is 300
// characters long. Each failure shows the writer's message and never passes for a success.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "gui_support.h"
#include "support/process_util.h"
#include "support/samba_fixture.h"

namespace fs = std::filesystem;
using TestDir = brevonix::test::TempDir;

namespace {

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Fills the six default columns with `rows` rows of Latin-1 text, about 100 bytes a row.
void FillList(CVexlorDlg& d, int rows) {
    for (int r = 0; r < rows; ++r) {
        const CString n = CString::FromUtf8(std::to_string(r));
        d.m_lstResult.InsertItem(r, CString(u"User ") + n);
        d.m_lstResult.SetItemText(r, 1, u"Given");
        d.m_lstResult.SetItemText(r, 2, u"-");
        d.m_lstResult.SetItemText(r, 3, CString(u"Surname ") + n);
        d.m_lstResult.SetItemText(r, 4, CString(u"User ") + n + u" shown");
        d.m_lstResult.SetItemText(r, 5, u"A description that makes every row about a hundred bytes long");
    }
}

// Fills the list, then clicks the export link with the Save dialog answered by `path`.
std::vector<ShownMessage> Export(RecordingSeam& seam, const CString& path, int rows = 20) {
    CVexlorDlg dlg;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        FillList(d, rows);
        seam.fileAnswers.push_back(path);
        afxtest::Click(d.m_lnkExport.m_hWnd);
    });
    return seam.messages;
}

std::string Texts(const std::vector<ShownMessage>& messages) {
    std::string all;
    for (const auto& m : messages)
        all += "[" + m.text.ToUtf8() + "] ";
    return all;
}

// The Save dialog answers, and then the chosen folder is gone before anything is written.
class VanishingFolderSeam : public RecordingSeam {
public:
    explicit VanishingFolderSeam(fs::path folder) : m_folder(std::move(folder)) {}
    bool ChooseFile(HWND owner, const CFileDialogRequest& request, CString& path) override {
        const bool chosen = RecordingSeam::ChooseFile(owner, request, path);
        fs::remove_all(m_folder);
        return chosen;
    }

private:
    fs::path m_folder;
};

} // namespace

TEST(RobustnessOfExport, AFolderThatDisappearsAfterTheSaveDialogGivesTheWritersMessage) {
    TestDir dir("brevonix-vanishing");
    const fs::path folder = fs::path(dir.Path()) / "chosen";
    fs::create_directory(folder);
    VanishingFolderSeam seam(folder);
    const auto messages = Export(seam, CString::FromUtf8((folder / "users.csv").string()));
    ASSERT_EQ(messages.size(), 1u) << Texts(messages);
    EXPECT_EQ(messages[0].text, u"Unable to create .csv file");
    EXPECT_EQ(messages[0].type, MB_OK);
    EXPECT_FALSE(fs::exists(folder));
}

TEST(RobustnessOfExport, AFileAnotherProcessHoldsIsLeftAsItWasWithTheWritersMessage) {
    using brevonix::test::FileLock;
    for (const FileLock kind : {FileLock::Flock, FileLock::Record}) {
        SCOPED_TRACE(kind == FileLock::Flock ? "flock" : "record lock");
        TestDir dir("brevonix-locked");
        const fs::path path = fs::path(dir.Path()) / "held.csv";
        { std::ofstream(path, std::ios::binary) << "another program's data\r\n"; }
        brevonix::test::FileLockHolder other(path.string(), kind);
        ASSERT_TRUE(other.Locked());
        RecordingSeam seam;
        const auto messages = Export(seam, CString::FromUtf8(path.string()));
        ASSERT_EQ(messages.size(), 1u) << Texts(messages);
        EXPECT_EQ(messages[0].text, u"Unable to create .csv file");
        EXPECT_EQ(Read(path), "another program's data\r\n");
    }
}

// A small tmpfs, mounted in a private mount namespace (the test runs again in a child of its own
// under `unshare --mount`), fills up in the middle of the export.
TEST(RobustnessOfExport, ADiskThatFillsInTheMiddleIsNeverASuccess) {
    using namespace brevonix::samba_test;
    if (!InLabNamespace()) {
        TestDir files("brevonix-ns-files");
        const std::string d = files.Path() + "/";
        std::ofstream(d + "resolv.conf") << "nameserver 127.0.0.1\n";
        std::ofstream(d + "hosts") << "127.0.0.1 localhost\n";
        std::ofstream(d + "nsswitch.conf") << "hosts: files dns\n";
        return RunCurrentTestInNamespace({d + "resolv.conf", d + "hosts", d + "nsswitch.conf"});
    }
    TestDir dir("brevonix-tmpfs");
    const fs::path mountPoint = fs::path(dir.Path()) / "small";
    fs::create_directory(mountPoint);
    ASSERT_EQ(mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=40k"), 0) << std::strerror(errno);
    RecordingSeam seam;
    // About 200 KB of rows for 40 KB of room.
    const auto messages = Export(seam, CString::FromUtf8((mountPoint / "users.csv").string()), 2000);
    const auto written = fs::file_size(mountPoint / "users.csv");
    umount2(mountPoint.c_str(), MNT_DETACH);
    // The row that hit the full disk fails, and the close cannot save the rest either.
    ASSERT_EQ(messages.size(), 2u) << Texts(messages);
    EXPECT_EQ(messages[0].text, u"Unable to write to .csv file");
    EXPECT_EQ(messages[1].text, u"Unable to close .csv file");
    EXPECT_EQ(messages[0].type, MB_OK);
    // What fitted stays.
    EXPECT_GT(written, 0u);
    EXPECT_LE(written, 40u * 1024u);
}

// Linux allows paths far longer than Windows' 260 characters, but no single name over 255 bytes.
TEST(RobustnessOfExport, PathsOf300CharactersEitherWriteTheWholeFileOrGiveTheWritersMessage) {
    TestDir dir("brevonix-long");
    {
        // One name of 300 characters: no file system takes it.
        const fs::path path = fs::path(dir.Path()) / (std::string(296, 'n') + ".csv");
        RecordingSeam seam;
        const auto messages = Export(seam, CString::FromUtf8(path.string()));
        ASSERT_EQ(messages.size(), 1u) << Texts(messages);
        EXPECT_EQ(messages[0].text, u"Unable to create .csv file");
        EXPECT_TRUE(fs::is_empty(dir.Path()));
    }
    {
        // 300 characters and more in folders of ordinary names: the file is written whole.
        fs::path folder = dir.Path();
        while (folder.string().size() < 300)
            folder /= std::string(50, 'f');
        fs::create_directories(folder);
        const fs::path path = folder / "users.csv";
        ASSERT_GE(path.string().size(), 300u);
        RecordingSeam seam;
        const auto messages = Export(seam, CString::FromUtf8(path.string()), 20);
        EXPECT_TRUE(messages.empty()) << Texts(messages);
        const std::string bytes = Read(path);
        EXPECT_EQ(bytes.rfind("User 19,Given,-,Surname 19,User 19 shown,A description"),
                  bytes.rfind("\r\nUser") + 2);
        EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    }
}
