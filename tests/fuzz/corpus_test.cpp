// The fuzz targets' regression corpus: every input that once found a fault (and the seeds
// the fuzzer starts from) runs through its target on every test run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_targets.h"

namespace zqr::fuzz {
namespace {

using Target = int (*)(const uint8_t*, size_t);

// Runs every file of corpus/<folder> through `target`; returns how many there were.
int RunCorpus(const std::string& folder, Target target) {
  int count = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(ZQR_FUZZ_CORPUS) + "/" + folder)) {
    std::ifstream file(entry.path(), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    SCOPED_TRACE(entry.path().string());
    EXPECT_EQ(target(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
    ++count;
  }
  return count;
}

TEST(FuzzCorpus, EveryTargetRunsItsCorpusCleanly) {
  const struct {
    const char* folder;
    Target target;
  } targets[] = {{"settingsloader", SettingsLoader},
                 {"commandline", CommandLine},
                 {"probe", Probe},
                 {"numbers", Numbers},
                 {"jpeg", Jpeg},
                 {"stereomarks", StereoMarks}};
  for (const auto& t : targets) EXPECT_GT(RunCorpus(t.folder, t.target), 0) << t.folder;
}

}  // namespace
}  // namespace zqr::fuzz
