#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>

#include "export/MakeCsvFile.h"
#include "support/process_util.h"

namespace fs = std::filesystem;

namespace {

const char kCreateFailed[] = "Unable to create .csv file";
const char kWriteFailed[] = "Unable to write to .csv file";
const char kCloseFailed[] = "Unable to close .csv file";

using brevonix::test::TempDir;

CString Wide(const fs::path& p) {
    return CString::FromUtf8(p.string());
}
std::string Narrow(const CString& s) {
    return s.ToUtf8();
}

std::string ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Fixture(const char* name) {
    const fs::path path = fs::path(BREVONIX_SOURCE_DIR) / "tests" / "fixtures" / "csv" / name;
    if (!fs::exists(path)) ADD_FAILURE() << "missing fixture " << path;
    return ReadBytes(path);
}

CStringArray Array(std::initializer_list<const char16_t*> items) {
    CStringArray a;
    for (const char16_t* s : items)
        a.Add(CString(s));
    return a;
}

using brevonix::test::AnotherProcessCanLock;
using brevonix::test::FileLock;
using brevonix::test::FileLockHolder;

bool EnterPrivateMountNamespace(std::string& reason) {
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(CLONE_NEWNS) != 0) {
        // Not privileged: a user namespace of our own grants mounting inside it.
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            reason = std::string("unshare: ") + std::strerror(errno);
            return false;
        }
        auto put = [](const char* file, const std::string& text) {
            std::ofstream out(file);
            out << text;
            return static_cast<bool>(out.flush());
        };
        if (!put("/proc/self/setgroups", "deny") ||
            !put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            reason = "cannot map ids in a user namespace";
            return false;
        }
    }
    // Nothing mounted here may leak out to the rest of the machine.
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        reason = std::string("making / private: ") + std::strerror(errno);
        return false;
    }
    return true;
}

struct ChildResult {
    bool ran = false;   // false: no private mount namespace could be had (reason in report)
    std::string report; // what the body returned
};

// Runs body in a child process with a private mount namespace, so that it can mount a tiny or
// read-only file system that nobody else sees; the mounts vanish with the child.
ChildResult RunInPrivateMountNamespace(const std::function<std::string()>& body) {
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string reason, out;
        out = EnterPrivateMountNamespace(reason) ? "R" + body() : "S" + reason;
        const char* p = out.data();
        size_t left = out.size();
        while (left > 0) {
            const ssize_t n = write(fds[1], p, left);
            if (n <= 0) break;
            p += n;
            left -= static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string all;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        all.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ChildResult result;
    if (!WIFEXITED(status) || all.empty()) {
        result.ran = true;
        result.report = "child died";
        return result;
    }
    result.ran = all[0] == 'R';
    result.report = all.substr(1);
    return result;
}

// Writes a whole export and tells, step by step, which operations failed and with what message.
std::string ExportAndReport(const fs::path& path, int rows) {
    CMakeCsvFile csv;
    std::string report;
    auto note = [&](const char* step, BOOL ok) {
        if (!ok) report += std::string(step) + " failed: " + Narrow(csv.GetErrorMessage()) + "\n";
        return ok;
    };
    if (!note("create", csv.CreateCsvFile(Wide(path)))) return report;
    bool ok = note("header", csv.WriteFileHeader(u"Talmore", u"07/03/2024 14:05:09")) &&
              note("headings", csv.WriteColumnHeadings(Array({u"NAME", u"DESCRIPTION"})));
    for (int r = 0; ok && r < rows; ++r)
        ok = note("row",
                  csv.WriteRow(Array({u"Some User Name", u"A description long enough to fill pages"}), 2));
    note("close", csv.CloseCsvFile());
    return report;
}

} // namespace

TEST(MakeCsvFileTest, WritesTheHeaderHeadingsAndRowsByteForByte) {
    TempDir dir;
    const fs::path path = dir / "users.csv";
    CMakeCsvFile csv;
    ASSERT_TRUE(csv.CreateCsvFile(Wide(path)));
    EXPECT_TRUE(csv.WriteFileHeader(u"Talmore", u"07/03/2024 14:05:09"));
    EXPECT_TRUE(csv.WriteColumnHeadings(
        Array({u"NAME", u"FIRST NAME", u"INITIAL", u"LAST NAME", u"DISPLAY NAME", u"DESCRIPTION"})));
    EXPECT_TRUE(csv.WriteRow(Array({u"Ann Lee", u"Ann", u"-", u"Lee", u"Ann Lee", u"Sales"}), 6));
    EXPECT_TRUE(csv.WriteRow(Array({u"Bob Roe", u"Bob", u"J", u"Roe", u"Bob Roe", u"-"}), 6));
    EXPECT_TRUE(csv.CloseCsvFile());
    EXPECT_TRUE(csv.GetErrorMessage().IsEmpty());
    EXPECT_EQ(ReadBytes(path), Fixture("example.csv"));
}

// Fields go out as they are: no quoting, é as one byte, a line feed as CR LF, a CR alone as one
// byte; no headings means no heading line; a character without a byte ends the file right
// before it, with the rest of its row missing.
TEST(MakeCsvFileTest, WritesFieldsUnquotedAndStopsAtACharacterWithoutAByte) {
    TempDir dir;
    const fs::path path = dir / "fields.csv";
    CMakeCsvFile csv;
    ASSERT_TRUE(csv.CreateCsvFile(Wide(path)));
    EXPECT_TRUE(csv.WriteFileHeader(u"Talmore", u""));
    EXPECT_TRUE(csv.WriteColumnHeadings(CStringArray()));
    EXPECT_TRUE(csv.WriteRow(Array({u"Zo\u00e9", u"a,b", u"line1\nline2", u"say \"hi\"", u"x\ry"}), 5));
    EXPECT_FALSE(csv.WriteRow(Array({u"ok", u"ab\u20accd", u"z"}), 3));
    EXPECT_EQ(Narrow(csv.GetErrorMessage()), kWriteFailed);
    EXPECT_TRUE(csv.CloseCsvFile());
    EXPECT_EQ(ReadBytes(path), Fixture("fields.csv"));
}

TEST(MakeCsvFileTest, CharactersAboveFFFailEveryWriteOperation) {
    TempDir dir;
    {
        CMakeCsvFile csv;
        ASSERT_TRUE(csv.CreateCsvFile(Wide(dir / "header")));
        EXPECT_FALSE(csv.WriteFileHeader(u"Tal\u2013more", u"07/03/2024 14:05:09"));
        EXPECT_EQ(Narrow(csv.GetErrorMessage()), kWriteFailed);
        EXPECT_TRUE(csv.CloseCsvFile());
        EXPECT_EQ(ReadBytes(dir / "header.csv"), "SOFTWARE    :Tal");
    }
    {
        CMakeCsvFile csv;
        ASSERT_TRUE(csv.CreateCsvFile(Wide(dir / "headings")));
        EXPECT_FALSE(csv.WriteColumnHeadings(Array({u"NAME", u"PRICE \u20ac", u"NOTE"})));
        EXPECT_EQ(Narrow(csv.GetErrorMessage()), kWriteFailed);
        EXPECT_TRUE(csv.CloseCsvFile());
        EXPECT_EQ(ReadBytes(dir / "headings.csv"), "NAME,PRICE ");
    }
}

TEST(MakeCsvFileTest, RowsFollowTheColumnCount) {
    TempDir dir;
    const fs::path path = dir / "rows.csv";
    CMakeCsvFile csv;
    ASSERT_TRUE(csv.CreateCsvFile(Wide(path)));
    EXPECT_TRUE(csv.WriteColumnHeadings(Array({u"A", u"B", u"C"})));
    // Cells beyond the count are left out.
    EXPECT_TRUE(csv.WriteRow(Array({u"a", u"b", u"c", u"d"}), 3));
    // A count of zero or less writes nothing, whatever the cells.
    EXPECT_TRUE(csv.WriteRow(Array({u"x"}), 0));
    EXPECT_TRUE(csv.WriteRow(CStringArray(), -1));
    EXPECT_TRUE(csv.GetErrorMessage().IsEmpty());
    // Too few cells: those there are go out, each with its separator, and the row has no line end.
    EXPECT_FALSE(csv.WriteRow(Array({u"a", u"b"}), 3));
    EXPECT_EQ(Narrow(csv.GetErrorMessage()), kWriteFailed);
    EXPECT_TRUE(csv.CloseCsvFile());
    EXPECT_EQ(ReadBytes(path), "A,B,C\r\na,b,c\r\na,b,");
}

TEST(MakeCsvFileTest, ErrorMessageStaysUntilALaterFailureReplacesIt) {
    TempDir dir;
    CMakeCsvFile csv;
    ASSERT_TRUE(csv.CreateCsvFile(Wide(dir / "m")));
    EXPECT_FALSE(csv.WriteRow(Array({u"\u20ac"}), 1));
    EXPECT_TRUE(csv.WriteRow(Array({u"fine"}), 1));
    EXPECT_EQ(Narrow(csv.GetErrorMessage()), kWriteFailed);
    EXPECT_TRUE(csv.CloseCsvFile());
    EXPECT_FALSE(csv.CreateCsvFile(Wide(dir / "missing" / "x")));
    EXPECT_EQ(Narrow(csv.GetErrorMessage()), kCreateFailed);
}

TEST(MakeCsvFileTest, AppendsCsvOnlyWhenThePathLacksIt) {
    struct Case {
        const char* given;
        const char* created;
    } const cases[] = {
        {"x", "x.csv"},
        {"x.CSV", "x.CSV.csv"},
        {"x.csv", "x.csv"},
        {"a.csv.old", "a.csv.old"},
        {"report.txt", "report.txt.csv"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        CMakeCsvFile csv;
        ASSERT_TRUE(csv.CreateCsvFile(Wide(dir / c.given))) << c.given;
        ASSERT_TRUE(csv.CloseCsvFile());
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            names.push_back(entry.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{c.created}) << c.given;
    }
}

TEST(MakeCsvFileTest, RelativePathsAreTakenFromTheCurrentDirectory) {
    TempDir dir;
    const fs::path old = fs::current_path();
    fs::current_path(dir.Path());
    CMakeCsvFile csv;
    const BOOL created = csv.CreateCsvFile(u"relative");
    const BOOL closed = csv.CloseCsvFile();
    fs::current_path(old);
    EXPECT_TRUE(created);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(fs::exists(dir / "relative.csv"));
}

TEST(MakeCsvFileTest, EmptiesAnExistingLongerFile) {
    TempDir dir;
    const fs::path path = dir / "old.csv";
    WriteBytes(path, std::string(50000, 'o') + "\r\n");
    CMakeCsvFile csv;
    ASSERT_TRUE(csv.CreateCsvFile(Wide(path)));
    EXPECT_TRUE(csv.WriteFileHeader(u"Talmore", u"d"));
    EXPECT_TRUE(csv.CloseCsvFile());
    EXPECT_EQ(ReadBytes(path), "SOFTWARE    :Talmore\r\nCreation Date\\Time   :d\r\n");
}

TEST(MakeCsvFileTest, CreationFailuresLeaveNothingBehind) {
    TempDir dir;
    WriteBytes(dir / "plain", "x");
    fs::create_directory(dir / "gone");
    fs::remove(dir / "gone");
    fs::create_directory(dir / "folder.csv");
    const std::string cases[] = {
        (dir / "missing" / "x").string(),         // folder missing
        (dir / "gone" / "x").string(),            // folder removed before the export
        (dir / "plain" / "x").string(),           // a file where a folder should be: fails for root too
        (dir / "folder.csv").string(),            // the name of a folder
        (dir / (std::string(300, 'n'))).string(), // a name longer than the file system allows
    };
    for (const auto& path : cases) {
        CMakeCsvFile csv;
        EXPECT_FALSE(csv.CreateCsvFile(CString::FromUtf8(path))) << path;
        EXPECT_EQ(Narrow(csv.GetErrorMessage()), kCreateFailed) << path;
        // Closing a writer whose file never opened is not a failure.
        EXPECT_TRUE(csv.CloseCsvFile()) << path;
        EXPECT_EQ(Narrow(csv.GetErrorMessage()), kCreateFailed) << path;
    }
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_FALSE(fs::exists(dir / "gone"));
}

TEST(MakeCsvFileTest, ReadOnlyFolderRefusesCreation) {
    TempDir dir;
    const fs::path mountPoint = dir / "ro";
    fs::create_directory(mountPoint);
    // A read-only mount stops root too, where a folder without write permission would not.
    const ChildResult result = RunInPrivateMountNamespace([&] {
        if (mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0)
            return std::string("mount: ") + std::strerror(errno);
        return ExportAndReport(mountPoint / "report", 1);
    });
    if (!result.ran) GTEST_SKIP() << result.report;
    EXPECT_EQ(result.report, std::string("create failed: ") + kCreateFailed + "\n");
}

TEST(MakeCsvFileTest, AFileHeldByAnotherProcessIsLeftAsItWas) {
    for (const FileLock kind : {FileLock::Flock, FileLock::Record}) {
        SCOPED_TRACE(kind == FileLock::Flock ? "flock" : "record lock");
        TempDir dir;
        const fs::path path = dir / "held.csv";
        WriteBytes(path, "someone else's data\r\n");
        {
            FileLockHolder other(path.string(), kind);
            ASSERT_TRUE(other.Locked());
            CMakeCsvFile csv;
            EXPECT_FALSE(csv.CreateCsvFile(Wide(path)));
            EXPECT_EQ(Narrow(csv.GetErrorMessage()), kCreateFailed);
            EXPECT_TRUE(csv.CloseCsvFile());
        }
        EXPECT_EQ(ReadBytes(path), "someone else's data\r\n");

        // And while the writer has the file, nobody else gets it.
        CMakeCsvFile csv;
        ASSERT_TRUE(csv.CreateCsvFile(Wide(path)));
        EXPECT_FALSE(AnotherProcessCanLock(path.string(), kind));
        EXPECT_TRUE(csv.CloseCsvFile());
        EXPECT_TRUE(AnotherProcessCanLock(path.string(), kind));
    }
}

TEST(MakeCsvFileTest, CreatesTheFileWithTheUmaskApplied) {
    TempDir dir;
    const mode_t old = ::umask(027);
    CMakeCsvFile csv;
    const BOOL created = csv.CreateCsvFile(Wide(dir / "perm"));
    ::umask(old);
    ASSERT_TRUE(created);
    EXPECT_TRUE(csv.CloseCsvFile());
    struct stat st {};
    ASSERT_EQ(::stat((dir / "perm.csv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(MakeCsvFileTest, FullDeviceIsNeverReportedAsSuccess) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TempDir dir;
    const fs::path path = dir / "full.csv";
    fs::create_symlink("/dev/full", path);
    // A small export sits in the buffer until the close, which must report it.
    EXPECT_EQ(ExportAndReport(path, 3), std::string("close failed: ") + kCloseFailed + "\n");
    // A large one fails while writing, and the close can't save the rest either.
    EXPECT_EQ(ExportAndReport(path, 5000),
              std::string("row failed: ") + kWriteFailed + "\nclose failed: " + kCloseFailed + "\n");
}

TEST(MakeCsvFileTest, FullFileSystemIsNeverReportedAsSuccess) {
    TempDir dir;
    const fs::path mountPoint = dir / "tiny";
    fs::create_directory(mountPoint);
    const ChildResult result = RunInPrivateMountNamespace([&] {
        // One page of room: a few kilobytes of rows stay buffered and fail at the close; a large
        // export fails on a row. What did fit stays in the file.
        if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=4k") != 0)
            return std::string("mount: ") + std::strerror(errno);
        std::string report = ExportAndReport(mountPoint / "small", 100);
        report += "size " + std::to_string(fs::file_size(mountPoint / "small.csv")) + "\n";
        fs::remove(mountPoint / "small.csv");
        report += "--\n" + ExportAndReport(mountPoint / "large", 5000);
        return report;
    });
    if (!result.ran) GTEST_SKIP() << result.report;
    EXPECT_EQ(result.report, std::string("close failed: ") + kCloseFailed + "\nsize 4096\n--\nrow failed: " +
                                 kWriteFailed + "\nclose failed: " + kCloseFailed + "\n");
}
