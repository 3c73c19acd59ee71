// The sound-extraction command line.
#include <gtest/gtest.h>

#include <string>

#include "convert/make_wave.h"
#include "platform/process.h"

namespace zqr {
namespace {

TEST(SoundCommandLine, ExactText) {
  EXPECT_EQ(SoundCommandLine("/App/PLUG-IN/ffmpeg", "  /Videos/clip.avi ", "/App/TEMP/temp.wav"),
            "/App/PLUG-IN/ffmpeg -i \"/Videos/clip.avi\" -f wav -ar 44100 -ac 2 -acodec pcm_s16le "
            "-y \"/App/TEMP/temp.wav\"");
}

TEST(SoundCommandLine, RefusesNamesThatBreakTheQuoting) {
  EXPECT_EQ(SoundCommandLine("/App/PLUG-IN/ffmpeg", "/v/a\" -y \"/x.avi", "/App/TEMP/temp.wav"),
            "");
  EXPECT_EQ(SoundCommandLine("/App/PLUG-IN/ffmpeg", "/v/a.avi", "/T\"/temp.wav"), "");
}

TEST(SoundCommandLine, ToolSeesTheVideoAsOneArgument) {
  std::vector<std::string> args = platform::SplitCommandLine(
      SoundCommandLine("/App/PLUG-IN/ffmpeg", "/v/my clip.avi", "/my temp/temp.wav"));
  ASSERT_EQ(args.size(), 13u);
  EXPECT_EQ(args[2], "/v/my clip.avi");
  EXPECT_EQ(args[12], "/my temp/temp.wav");
}

}  // namespace
}  // namespace zqr
