// The main window's command and control identifiers: small fixed integers shared by a
// menu item and its button. The options table names the controls of each setting by them,
// so they stand on the floor every client builds on.
#pragma once

namespace zqr {

// Command and control identifiers shared by a menu item and its button.
enum ControlId : int {
  kIdLoad = 100,
  kIdPlayPause = 101,
  kIdSave = 102,
  kIdAbout = 103,
  kIdConvert = 104,
  kIdExit = 107,
  kIdHelp = 110,
  kIdSetTempPath = 111,
  kIdTempPathLabel = 112,
  kIdOperationLabel = 207,
  kIdSharpenSwitch = 208,
  kIdCompressionList = 213,
  kIdFileNameLabel = 303,
  kIdFrameSizeLabel = 304,
  kIdFrameRateLabel = 305,
  kIdFrameCountLabel = 306,
  kIdFramesDoneLabel = 307,
  kIdDurationLabel = 409,
  kIdShowInputVideo = 511,
  kIdContrast = 519,
  kIdBrightness = 520,
  kIdSharpenAmount = 518,
  kIdContrastSwitch = 522,
  kIdBrightnessSwitch = 523,
  kIdCpuUsage = 570,
  kIdCpuSwitch = 571,
  kIdNoisePasses = 572,
  kIdNoiseSwitch = 573,
  kIdResetSharpen = 581,
  kIdResetBrightness = 582,
  kIdResetContrast = 583,
  kIdResetNoise = 584,
  kIdResetCpu = 585,
  kIdSharpenRadius = 590,
  kIdFileInformation = 597,
  kIdAutoSave = 599,
  kIdBuildLabel = 701,
  kIdStop = 806,
  kIdStereo = 808,
  kIdStereoTuning = 809,
  kIdOutputStream = 810,
  kIdDepthSwitch = 899,
  kIdDepthList = 900,
  kIdPreviewConverted = 930,
  kIdDepthMapItem = 931,  // the stereo type popup's third item
  kIdDivergence = 932,    // the depth map's sliders, their captions and value labels
  kIdConvergence = 933,
  kIdShowDepth = 934,
  kIdDivergenceValue = 935,
  kIdConvergenceValue = 936,
  kIdDivergenceCaption = 937,
  kIdConvergenceCaption = 938,
  kIdDepthFromFile = 939,   // the depth map's source: a file the user picks, the prior, the
  kIdDepthFromPrior = 940,  // depth found in the video itself, or a depth model the user picks
  kIdDepthFromMotion = 941,
  kIdDepthFromModel = 942,
  kIdPreview = 2007,
  kIdPositionFrame = 3011,
  kIdPositionBar = 3012,
};

}  // namespace zqr
