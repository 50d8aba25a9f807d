// Every seed of the fuzz corpus (fuzz/corpus/), crashes found by fuzzing included, run through the
// fuzz targets' own checks in the ordinary and the sanitized builds, so that a fixed crash stays
// fixed without clang or libFuzzer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_harness.h"
#include "support/process_util.h"

namespace fs = std::filesystem;

namespace {

// Seeds named upstream-* show a fault of a system library (see fuzz/lsan.supp); they are replayed by
// scripts/fuzz.sh, which knows to expect it, not here.
std::vector<fs::path> Seeds(const std::string& corpus) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(fs::path(BREVONIX_SOURCE_DIR) / "fuzz" / "corpus" / corpus))
        if (e.is_regular_file() && !e.path().filename().string().starts_with("upstream-"))
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A failed check aborts with the input's name (see fuzz_harness.h); a passing run returns.
template <typename Run> void ReplayAll(const std::string& corpus, Run run) {
    const auto seeds = Seeds(corpus);
    ASSERT_GT(seeds.size(), 0u) << "no seeds under fuzz/corpus/" << corpus;
    for (const auto& seed : seeds) {
        const std::string name = seed.string();
        brevonix::fuzz::CurrentInputName() = name.c_str();
        const auto bytes = Bytes(seed);
        run(bytes.data(), bytes.size());
    }
    brevonix::fuzz::CurrentInputName() = nullptr;
}

} // namespace

TEST(FuzzCorpusRegression, AttributeValuesConvertAndRender) {
    ReplayAll("attribute_values", [](const uint8_t* data, size_t size) {
        brevonix::fuzz::RunValueConversion(data, size);
        brevonix::fuzz::RunFormat(data, size);
    });
}

TEST(FuzzCorpusRegression, SchemasResolveWithoutLoopingOrReadingPastTheirTypes) {
    ReplayAll("schema", [](const uint8_t* data, size_t size) { brevonix::fuzz::RunSchema(data, size); });
}

TEST(FuzzCorpusRegression, EntryAttributesAreReadInPlaceWithinTheirBounds) {
    ReplayAll("ber_attributes",
              [](const uint8_t* data, size_t size) { brevonix::fuzz::RunBerAttributes(data, size); });
}

TEST(FuzzCorpusRegression, CsvWriterWritesExactlyTheCells) {
    brevonix::test::TempDir dir("brevonix-csv-corpus");
    ASSERT_TRUE(dir.Valid());
    const std::string path = dir.Path() + "/cells.csv";
    ReplayAll("csv_writer",
              [&](const uint8_t* data, size_t size) { brevonix::fuzz::RunCsvWriter(data, size, path); });
}
