// Runs a fuzz target over its seed corpus and every input that ever made it fail.
// The target aborts on any broken invariant, which fails the test.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::string> Inputs() {
    std::vector<std::string> files;
    for (const char* dir : {FUZZ_CORPUS_DIR, FUZZ_REGRESSION_DIR}) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                files.push_back(entry.path().string());
        }
    }
    return files;
}

TEST(FUZZ_TEST_SUITE, KeptInputsRunClean) {
    std::vector<std::string> files = Inputs();
    EXPECT_FALSE(files.empty());
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        std::ifstream in(path, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        std::string data = bytes.str();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    }
}

}  // namespace
