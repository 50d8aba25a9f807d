// Export failures found while hardening the tool, kept as regression cases: a file whose folder is
// deleted while it is being written is lost, and must never be reported as written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "export/MakeCsvFile.h"
#include "support/process_util.h"

namespace fs = std::filesystem;

namespace {

CStringArray Cells(int n) {
    CStringArray a;
    for (int i = 0; i < n; ++i)
        a.Add(CString::FromUtf8("cell " + std::to_string(i)));
    return a;
}

} // namespace

// Every write succeeds on Linux (the file lives on without a name until it is closed); the close
// then says the file is gone. Table: how much is written once the folder has gone.
TEST(ExportRegression, AFolderDeletedWhileTheFileIsWrittenFailsTheExport) {
    struct Case {
        const char* what;
        int rowsAfter; // rows written after the folder went (the first rows sit in the buffer)
        int rowsBefore;
    } const cases[] = {
        {"all rows still buffered", 1, 0},
        {"rows flushed before, more after", 200, 3000},
    };
    for (const auto& c : cases) {
        brevonix::test::TempDir dir("brevonix-vanishing");
        ASSERT_TRUE(dir.Valid());
        const fs::path folder = fs::path(dir.Path()) / "chosen";
        fs::create_directory(folder);
        CMakeCsvFile csv;
        ASSERT_TRUE(csv.CreateCsvFile(CString::FromUtf8((folder / "users.csv").string()))) << c.what;
        EXPECT_TRUE(csv.WriteFileHeader(u"Talmore", u"07/03/2024 14:05:09")) << c.what;
        EXPECT_TRUE(csv.WriteColumnHeadings(Cells(6))) << c.what;
        for (int r = 0; r < c.rowsBefore; ++r)
            ASSERT_TRUE(csv.WriteRow(Cells(6), 6)) << c.what;
        fs::remove_all(folder);
        for (int r = 0; r < c.rowsAfter; ++r)
            ASSERT_TRUE(csv.WriteRow(Cells(6), 6)) << c.what;
        EXPECT_FALSE(csv.CloseCsvFile()) << c.what;
        EXPECT_EQ(csv.GetErrorMessage(), CString(u"Unable to close .csv file")) << c.what;
        EXPECT_FALSE(fs::exists(folder)) << c.what;
    }
}

// A file renamed away while it is written still exists under its new name: that is no failure.
TEST(ExportRegression, AFileRenamedWhileWrittenIsStillAFile) {
    brevonix::test::TempDir dir("brevonix-renamed");
    ASSERT_TRUE(dir.Valid());
    const fs::path path = fs::path(dir.Path()) / "users.csv";
    CMakeCsvFile csv;
    ASSERT_TRUE(csv.CreateCsvFile(CString::FromUtf8(path.string())));
    EXPECT_TRUE(csv.WriteFileHeader(u"Talmore", u""));
    fs::rename(path, fs::path(dir.Path()) / "moved.csv");
    EXPECT_TRUE(csv.WriteRow(Cells(2), 2));
    EXPECT_TRUE(csv.CloseCsvFile());
    EXPECT_TRUE(csv.GetErrorMessage().IsEmpty());
}
