// The settings record and its tagged text file beside the executable.
#pragma once

#include <cstdint>
#include <string>

#include "core/shared_value.h"

namespace zqr {

// Process-wide settings: image controls, option-menu choices, stereo values and
// switches. Read by the streaming thread while the window changes them, hence Shared32.
// Start values, ranges and everything else about each field: the options table
// (core/options.h). A record is made with the start values.
struct SettingsRecord {
  SettingsRecord();
  SettingsRecord(const SettingsRecord&) = default;
  SettingsRecord& operator=(const SettingsRecord&) = default;

  Shared32 FixAspect;
  Shared32 SharpenOn;
  Shared32 ContrastOn;
  Shared32 BrightnessOn;
  Shared32 NoiseOn;
  Shared32 CpuLimitOn;
  Shared32 ShowInputVideo;
  Shared32 AutoSave;
  Shared32 ResizeMode;
  Shared32 SampleRateChoice;
  Shared32 AudioChannels;
  Shared32 BitrateChoice;
  Shared32 CodecModeChoice;
  Shared32 StereoOn;
  Shared32 StereoMode;
  Shared32 StereoTuning;
  Shared32 DepthOn;
  Shared32 DepthDivisor;
  Shared32 SharpenAmount;
  Shared32 SharpenRadius;
  Shared32 Brightness;
  Shared32 Contrast;
  Shared32 CpuUsage;
  Shared32 NoisePasses;
  // The leading number of the quality list's current text (0 for "Default Quality"); not
  // kept in the settings file.
  Shared32 CompressionValue;
  // How the stereo stage lays out the two views of each frame (frames::OutputLayout), and
  // whether anaglyphs are encoded with full colour resolution (4:4:4) where the codec can.
  Shared32 Layout;
  Shared32 Chroma444;
  // Whether the frames of a video that says it is interlaced are deinterlaced (1) or keep
  // their two fields (0).
  Shared32 Deinterlace;
  // Whether the playing preview shows each frame as a conversion would write it (sharpen,
  // stereo, the output layout) rather than the filtered picture alone.
  Shared32 PreviewConverted;
  // The depth-map effect's parallax (tenths of a percent of the width), the depth level at
  // the screen's plane (percent of the nearest), and which eyes it renders
  // (frames::SyntheticView).
  Shared32 Divergence;
  Shared32 Convergence;
  Shared32 SyntheticView;
  // Whether the preview draws the depth map instead of the picture (depth-map effect).
  Shared32 ShowDepth;
  // Where the depth-map effect's depth comes from when no depth file is given: 0 found in
  // the video itself, 1 the vertical prior (lower in the picture is nearer).
  Shared32 DepthFromPrior;
  // A depth model's keyframe interval (it runs on every N-th frame and at scene cuts) and
  // its input's longer side when the model takes any size.
  Shared32 DepthModelEvery;
  Shared32 DepthModelSize;
};

// The one process-wide record.
extern SettingsRecord Settings;

// Several fields changed together on the window's thread (a Reset button sets two, a
// slider one, a list its field and its switch): while a change is open, a snapshot waits
// for it to close, so a frame never takes half old and half new settings. Changes may
// nest; only the outermost counts. Writers that run while no frame is processed (start-up,
// the batch mode, tests) need none.
class SettingsChange {
 public:
  SettingsChange();
  ~SettingsChange();
  SettingsChange(const SettingsChange&) = delete;
  SettingsChange& operator=(const SettingsChange&) = delete;
};

// One consistent copy of `Settings`, taken between changes: what a frame is processed
// with. Its version counts the changes closed so far.
struct SettingsSnapshot {
  SettingsRecord values;
  uint64_t version = 0;
};
SettingsSnapshot TakeSettingsSnapshot();

// Whether two records hold the same value in every field.
bool SameSettingsValues(const SettingsRecord& a, const SettingsRecord& b);

// Gives every field of `Settings` its start-up value (the options table's).
void ResetSettingsToStartValues();
// A first run, without a settings file: the values that a stored 0 stands for (sharpen
// amount, brightness, contrast, CPU, noise) start as if the file held 0, since their start
// value 0 would make a flat grey picture the moment their switch is ticked.
void UseFirstRunValues();

// Writes the settings file: two header lines, then one tagged line per key, CR LF ends.
// Returns false when the file could not be written (the save is lost silently).
bool SaveSettings();
// Reads the settings file (see the loader's rules in settings.cpp). Sets Settings
// fields, TempFolder, VideoFolder, DepthSource and DepthModel.
// Returns true when every key was read; false when loading stopped early.
bool LoadSettings();

// The text SaveSettings writes, for the given record and paths.
std::string SettingsFileText(const SettingsRecord& record, const std::string& temp_folder,
                             const std::string& video_folder, const std::string& depth_source = {},
                             const std::string& depth_model = {});

}  // namespace zqr
