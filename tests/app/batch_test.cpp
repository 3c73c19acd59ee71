// The batch mode's options as they reach the settings: a number switches its control on,
// "off" switches it off and keeps the value, and a value out of range names its range.
#include <gtest/gtest.h>

#include "app/batch.h"
#include "core/settings.h"

namespace zqr {
namespace {

TEST(BatchSettings, NumbersSwitchOnAndOffKeepsTheValue) {
  ResetSettingsToStartValues();
  EXPECT_EQ(ApplyBatchSetting("--brightness", "200"), "");
  EXPECT_EQ(Settings.BrightnessOn, 1);
  EXPECT_EQ(Settings.Brightness, 200);
  EXPECT_EQ(ApplyBatchSetting("--brightness", "off"), "");
  EXPECT_EQ(Settings.BrightnessOn, 0);
  EXPECT_EQ(Settings.Brightness, 200);
  EXPECT_EQ(ApplyBatchSetting("--stereo", "static"), "");
  EXPECT_EQ(Settings.StereoOn, 1);
  EXPECT_EQ(Settings.StereoMode, 1);
  EXPECT_EQ(ApplyBatchSetting("--stereo", "off"), "");
  EXPECT_EQ(Settings.StereoOn, 0);
  EXPECT_EQ(Settings.StereoMode, 1);
  EXPECT_EQ(ApplyBatchSetting("--tuning", "-10"), "");
  EXPECT_EQ(Settings.StereoTuning, -10);
}

TEST(BatchSettings, MenuChoicesByTheirEntries) {
  EXPECT_EQ(ApplyBatchSetting("--bitrate", "950k"), "");
  EXPECT_EQ(Settings.BitrateChoice, 5);
  EXPECT_EQ(ApplyBatchSetting("--codec-mode", "slower"), "");
  EXPECT_EQ(Settings.CodecModeChoice, 5);
  EXPECT_EQ(ApplyBatchSetting("--resize", "70"), "");
  EXPECT_EQ(Settings.ResizeMode, 3);
  EXPECT_EQ(ApplyBatchSetting("--sample-rate", "22050"), "");
  EXPECT_EQ(Settings.SampleRateChoice, 3);
  EXPECT_EQ(ApplyBatchSetting("--channels", "mono"), "");
  EXPECT_EQ(Settings.AudioChannels, 1);
  EXPECT_EQ(ApplyBatchSetting("--quality", "21"), "");
  EXPECT_EQ(Settings.CompressionValue, 21);
  EXPECT_EQ(ApplyBatchSetting("--quality", "default"), "");
  EXPECT_EQ(Settings.CompressionValue, 0);
}

TEST(BatchSettings, OutOfRangeNamesTheOptionAndLeavesTheSetting) {
  Settings.CpuUsage = 80;
  Settings.CpuLimitOn = 1;
  EXPECT_EQ(ApplyBatchSetting("--cpu", "49"), "--cpu takes off or a number from 50 to 100");
  EXPECT_EQ(ApplyBatchSetting("--cpu", "7x"), "--cpu takes off or a number from 50 to 100");
  EXPECT_EQ(Settings.CpuUsage, 80);
  EXPECT_EQ(Settings.CpuLimitOn, 1);
  EXPECT_EQ(ApplyBatchSetting("--radius", "4"), "--radius takes a number from 0 to 3");
  EXPECT_EQ(ApplyBatchSetting("--noise", "0"), "--noise takes off or a number from 1 to 5");
  EXPECT_NE(ApplyBatchSetting("--resize", "75").find("100|90|80|70|60|50"), std::string::npos);
  EXPECT_NE(ApplyBatchSetting("--depth", "on"), "");
  const std::vector<BatchSettingOption> options = BatchSettingOptions();
  EXPECT_EQ(options.size(), 24u);
  for (const BatchSettingOption& option : options) {
    EXPECT_NE(ApplyBatchSetting(option.name, "nonsense"), "") << option.name;
  }
  EXPECT_EQ(ApplyBatchSetting("--stereo", "on"),
            "--stereo takes off, dynamic, static or depth-map");
  EXPECT_EQ(ApplyBatchSetting("--depth-source", "model"),
            "--depth-source takes one of video|prior");
  // Decimal flags store tenths or hundredths; more decimals than that are refused.
  EXPECT_EQ(ApplyBatchSetting("--divergence", "2.5"), "");
  EXPECT_EQ(Settings.Divergence, 25);
  EXPECT_EQ(ApplyBatchSetting("--convergence", "0.35"), "");
  EXPECT_EQ(Settings.Convergence, 35);
  EXPECT_EQ(ApplyBatchSetting("--divergence", "2.55"), "--divergence takes a number from 0 to 25");
  EXPECT_EQ(ApplyBatchSetting("--convergence", "1.5"), "--convergence takes a number from 0 to 1");
  EXPECT_EQ(ApplyBatchSetting("--divergence", "-0.5"), "--divergence takes a number from 0 to 25");
  EXPECT_EQ(Settings.Divergence, 25);
  EXPECT_EQ(ApplyBatchSetting("--depth-model-every", "0"),
            "--depth-model-every takes a number from 1 to 300");
  EXPECT_EQ(ApplyBatchSetting("--depth-model-size", "256"), "");
  EXPECT_EQ(Settings.DepthModelSize, 256);
  EXPECT_EQ(ApplyBatchSetting("--quality", "0"),
            "--quality takes default or a number from 1 to 21");
}

}  // namespace
}  // namespace zqr
