#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/stdiofile.h"
#include "support/process_util.h"

namespace fs = std::filesystem;

namespace {

using brevonix::test::TempDir;

CString Wide(const fs::path& p) {
    return CString::FromUtf8(p.string());
}

std::string ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

constexpr UINT kCreateReadWrite = CFile::modeCreate | CFile::modeReadWrite;

} // namespace

TEST(StdioFileTest, TextModeWritesOneBytePerCodeUnitAndCrLfForEachLineFeed) {
    TempDir dir;
    const fs::path path = dir / "out.txt";
    CStdioFile file;
    ASSERT_TRUE(file.Open(Wide(path), kCreateReadWrite));
    file.WriteString(u"a\nb\rc\r\nd");
    file.WriteString(u"\u00e9\u00ff\u0001\u007f\u0080 \"q\",");
    file.WriteString(u"");
    file.WriteString(nullptr);
    file.Close();
    EXPECT_EQ(ReadBytes(path), std::string("a\r\nb\rc\r\r\nd\xE9\xFF\x01\x7F\x80 \"q\","));
}

TEST(StdioFileTest, BinaryModeLeavesLineFeedsAlone) {
    TempDir dir;
    const fs::path path = dir / "out.bin";
    CStdioFile file;
    ASSERT_TRUE(file.Open(Wide(path), kCreateReadWrite | CFile::typeBinary));
    file.WriteString(u"a\nb\u00e9");
    file.Close();
    EXPECT_EQ(ReadBytes(path), std::string("a\nb\xE9"));
}

TEST(StdioFileTest, CodeUnitAboveFFThrowsAndKeepsTheBytesBeforeIt) {
    TempDir dir;
    for (const char16_t* text : {u"ab\u20accd", u"ab\u2013cd", u"ab\U0001F600cd", u"ab\u0100cd"}) {
        const fs::path path = dir / "out.txt";
        CStdioFile file;
        ASSERT_TRUE(file.Open(Wide(path), kCreateReadWrite));
        file.WriteString(u"x\n");
        try {
            file.WriteString(text);
            ADD_FAILURE() << "no exception";
        } catch (const CFileException& e) {
            EXPECT_EQ(e.m_lOsError, EILSEQ);
        }
        // The stream stays usable; nothing of the failed text after the character is written.
        file.WriteString(u"|");
        file.Close();
        EXPECT_EQ(ReadBytes(path), "x\r\nab|");
    }
}

TEST(StdioFileTest, BytesBeforeAFailingCharacterReachTheFileEvenWithoutClose) {
    TempDir dir;
    const fs::path path = dir / "out.txt";
    {
        CStdioFile file;
        ASSERT_TRUE(file.Open(Wide(path), kCreateReadWrite));
        EXPECT_THROW(file.WriteString(u"abc\u20ac"), CFileException);
    }
    EXPECT_EQ(ReadBytes(path), "abc");
}

TEST(StdioFileTest, LargeOutputCrossesTheBufferIntact) {
    TempDir dir;
    const fs::path path = dir / "big.txt";
    CStdioFile file;
    ASSERT_TRUE(file.Open(Wide(path), kCreateReadWrite));
    std::string expected;
    // Line feeds land on every offset around the buffer's edge, so a CR LF pair is split there too.
    for (int i = 0; i < 20000; ++i) {
        std::u16string line(static_cast<size_t>(i % 37), static_cast<char16_t>(u'a' + i % 26));
        line += u'\n';
        file.SeekToEnd();
        file.WriteString(line.c_str());
        expected.append(static_cast<size_t>(i % 37), static_cast<char>('a' + i % 26));
        expected += "\r\n";
    }
    EXPECT_EQ(file.GetPosition(), expected.size());
    EXPECT_EQ(file.GetLength(), expected.size());
    file.Close();
    EXPECT_EQ(ReadBytes(path), expected);
}

TEST(StdioFileTest, SeekMovesTheWritePosition) {
    TempDir dir;
    const fs::path path = dir / "seek.txt";
    CStdioFile file;
    ASSERT_TRUE(file.Open(Wide(path), kCreateReadWrite));
    file.WriteString(u"0123456789");
    EXPECT_EQ(file.Seek(0, CFile::begin), 0u);
    file.WriteString(u"ab");
    EXPECT_EQ(file.Seek(3, CFile::current), 5u);
    file.WriteString(u"X");
    EXPECT_EQ(file.Seek(0, CFile::end), 10u);
    file.WriteString(u"\n");
    EXPECT_EQ(file.Seek(-1, CFile::end), 11u);
    file.WriteString(u"!");
    EXPECT_THROW(file.Seek(-100, CFile::begin), CFileException);
    file.Close();
    EXPECT_EQ(ReadBytes(path), "ab234X6789\r!");
}

TEST(StdioFileTest, CreateEmptiesAnExistingFileAndHonoursTheUmask) {
    TempDir dir;
    const fs::path path = dir / "existing.txt";
    WriteBytes(path, std::string(100000, 'z'));
    {
        CStdioFile file;
        ASSERT_TRUE(file.Open(Wide(path), kCreateReadWrite));
        file.WriteString(u"short");
        file.Close();
    }
    EXPECT_EQ(ReadBytes(path), "short");

    // modeNoTruncate keeps what is there.
    {
        CStdioFile file;
        ASSERT_TRUE(file.Open(Wide(path), kCreateReadWrite | CFile::modeNoTruncate));
        file.WriteString(u"S");
        file.Close();
    }
    EXPECT_EQ(ReadBytes(path), "Short");

    struct Case {
        mode_t umask;
        mode_t mode;
    } const cases[] = {{022, 0644}, {027, 0640}, {077, 0600}, {0, 0666}};
    for (const auto& c : cases) {
        const fs::path fresh = dir / ("mode-" + std::to_string(c.umask));
        const mode_t old = ::umask(c.umask);
        CStdioFile file;
        const BOOL opened = file.Open(Wide(fresh), kCreateReadWrite);
        ::umask(old);
        ASSERT_TRUE(opened);
        file.Close();
        struct stat st {};
        ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.mode) << "umask " << c.umask;
    }
}

TEST(StdioFileTest, OpenFailuresReturnFalseWithTheCause) {
    TempDir dir;
    WriteBytes(dir / "plain", "x");
    fs::create_directory(dir / "folder");
    struct Case {
        const char* what;
        std::string path;
        int cause;
        int osError;
    } const cases[] = {
        {"missing folder", (dir / "missing" / "x.txt").string(), CFileException::fileNotFound, ENOENT},
        {"parent is a file", (dir / "plain" / "x.txt").string(), CFileException::badPath, ENOTDIR},
        {"path is a folder", (dir / "folder").string(), CFileException::accessDenied, EISDIR},
        {"name too long", (dir / std::string(300, 'n')).string(), CFileException::badPath, ENAMETOOLONG},
        {"empty path", "", CFileException::fileNotFound, ENOENT},
    };
    for (const auto& c : cases) {
        CStdioFile file;
        CFileException error;
        EXPECT_FALSE(file.Open(CString::FromUtf8(c.path), kCreateReadWrite, &error)) << c.what;
        EXPECT_EQ(error.m_cause, c.cause) << c.what;
        EXPECT_EQ(error.m_lOsError, c.osError) << c.what;
        EXPECT_FALSE(file.IsOpen()) << c.what;
        EXPECT_NO_THROW(file.Close()) << c.what;
        // Without an error object it still only returns FALSE.
        EXPECT_FALSE(file.Open(CString::FromUtf8(c.path), kCreateReadWrite)) << c.what;
    }
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(StdioFileTest, LongPathsAreNotLimited) {
    TempDir dir;
    fs::path deep = dir.Path();
    for (int i = 0; i < 6; ++i)
        deep /= std::string(60, static_cast<char>('a' + i));
    fs::create_directories(deep);
    const fs::path path = deep / "file.txt";
    ASSERT_GT(path.string().size(), 360u);
    CStdioFile file;
    ASSERT_TRUE(file.Open(Wide(path), kCreateReadWrite));
    file.WriteString(u"ok");
    file.Close();
    EXPECT_EQ(ReadBytes(path), "ok");
}

TEST(StdioFileTest, AnOpenFileIsHeldExclusively) {
    TempDir dir;
    const fs::path path = dir / "held.txt";
    WriteBytes(path, "previous contents");
    CStdioFile first;
    ASSERT_TRUE(first.Open(Wide(path), kCreateReadWrite));
    first.WriteString(u"new");
    first.Flush();

    // A second opener (its own open file description, as another process would have) is refused
    // and doesn't empty the file.
    CStdioFile second;
    CFileException error;
    EXPECT_FALSE(second.Open(Wide(path), kCreateReadWrite, &error));
    EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
    EXPECT_EQ(ReadBytes(path), "new");

    // shareDenyNone asks for no lock and gets in.
    CStdioFile reader;
    EXPECT_TRUE(reader.Open(Wide(path), CFile::modeRead | CFile::shareDenyNone));
    reader.Close();

    first.Close();
    EXPECT_TRUE(second.Open(Wide(path), kCreateReadWrite));
    second.Close();
}

TEST(StdioFileTest, FullDiskIsReportedAtWriteOrAtClose) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    {
        // Few bytes stay buffered: the close is where the error shows.
        CStdioFile file;
        ASSERT_TRUE(file.Open(u"/dev/full", kCreateReadWrite));
        file.WriteString(u"a few bytes\n");
        try {
            file.Close();
            ADD_FAILURE() << "close on a full disk succeeded";
        } catch (const CFileException& e) {
            EXPECT_EQ(e.m_cause, CFileException::diskFull);
            EXPECT_EQ(e.m_lOsError, ENOSPC);
        }
        EXPECT_FALSE(file.IsOpen());
        EXPECT_NO_THROW(file.Close());
    }
    {
        // More than a buffer's worth: the write itself fails, and so does the close after it.
        CStdioFile file;
        ASSERT_TRUE(file.Open(u"/dev/full", kCreateReadWrite));
        const std::u16string line(1000, u'x');
        bool writeFailed = false;
        for (int i = 0; i < 200 && !writeFailed; ++i) {
            try {
                file.SeekToEnd();
                file.WriteString(line.c_str());
            } catch (const CFileException& e) {
                writeFailed = true;
                EXPECT_EQ(e.m_cause, CFileException::diskFull);
            }
        }
        EXPECT_TRUE(writeFailed);
        EXPECT_THROW(file.Close(), CFileException);
    }
}

TEST(StdioFileTest, WritingToAClosedFileThrows) {
    CStdioFile file;
    EXPECT_THROW(file.WriteString(u"x"), CFileException);
    EXPECT_THROW(file.Seek(0, CFile::end), CFileException);
    EXPECT_NO_THROW(file.Close());
}
