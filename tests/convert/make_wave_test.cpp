// The sound-extraction arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/make_wave.h"

namespace zqr {
namespace {

TEST(SoundArguments, TheVideoAndTheFileGoWholeWhateverTheyHold) {
  const std::vector<std::string> expected = {"/App/PLUG-IN/ffmpeg",
                                             "-i",
                                             " /v/a\" -y \"b\nc.avi ",
                                             "-f",
                                             "wav",
                                             "-ar",
                                             "44100",
                                             "-ac",
                                             "2",
                                             "-acodec",
                                             "pcm_s16le",
                                             "-y",
                                             "/my temp/temp.wav"};
  EXPECT_EQ(SoundArguments("/App/PLUG-IN/ffmpeg", " /v/a\" -y \"b\nc.avi ", "/my temp/temp.wav"),
            expected);
}

}  // namespace
}  // namespace zqr
