// The main window's commands on the headless model: each command's effect on the
// settings, the flags, the labels, the check marks and the menus, clicked as a user would.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "app/commands.h"
#include "app/output_file.h"
#include "app/window_layout.h"
#include "convert/convert_state.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "platform/headless/headless_ui.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "tests/support/test_support.h"
#include "video/load.h"
#include "video/play.h"
#include "video/video_state.h"

namespace zqr {
namespace {

using platform::MediaStatus;
using platform::RefTime;

// A graph that only answers the calls the commands make, and records them.
class PlayedGraph final : public platform::MediaGraph {
 public:
  RefTime position = 0;
  RefTime duration = 0;
  std::vector<std::string> calls;
  const char* Name() const override { return "played"; }
  MediaStatus CreateSampleGrabber() override { return MediaStatus::kOk; }
  MediaStatus AddGrabberFilter(const std::string&) override { return MediaStatus::kOk; }
  MediaStatus SetMediaType(const platform::MediaType&) override { return MediaStatus::kOk; }
  MediaStatus AddSourceFilter(const std::string&, const std::string&) override {
    return MediaStatus::kOk;
  }
  MediaStatus ConnectSourceToGrabber() override { return MediaStatus::kOk; }
  MediaStatus AddNullRenderer(const std::string&) override { return MediaStatus::kOk; }
  MediaStatus ConnectGrabberToNullRenderer() override { return MediaStatus::kOk; }
  MediaStatus SetBufferSamples(bool) override { return MediaStatus::kOk; }
  MediaStatus SetOneShot(bool) override { return MediaStatus::kOk; }
  MediaStatus SetCallback(platform::SampleGrabberCallback*, int32_t) override {
    return MediaStatus::kOk;
  }
  MediaStatus GetConnectedMediaType(platform::MediaType*) override { return MediaStatus::kOk; }
  MediaStatus GetCurrentBuffer(int32_t*, void*) override { return MediaStatus::kOk; }
  MediaStatus RenderFile(const std::string&) override { return MediaStatus::kOk; }
  MediaStatus Run() override { return Call("Run"); }
  MediaStatus Pause() override { return Call("Pause"); }
  MediaStatus Stop() override { return Call("Stop"); }
  MediaStatus SetDefaultSyncSource() override { return MediaStatus::kOk; }
  MediaStatus SetNoSyncSource() override { return MediaStatus::kOk; }
  MediaStatus GetTimeFormat(platform::TimeFormat*) override { return MediaStatus::kOk; }
  MediaStatus SetTimeFormat(platform::TimeFormat) override { return MediaStatus::kOk; }
  MediaStatus GetDuration(RefTime* d) override {
    *d = duration;
    return MediaStatus::kOk;
  }
  MediaStatus GetCurrentPosition(RefTime* p) override {
    *p = position;
    return MediaStatus::kOk;
  }
  MediaStatus SetPositions(RefTime* current, int32_t, RefTime*, int32_t) override {
    position = *current;
    return Call("SetPositions " + std::to_string(position));
  }
  MediaStatus GetEvent(int32_t*, intptr_t*, intptr_t*, int32_t) override {
    return MediaStatus::kNoEvent;
  }
  MediaStatus FreeEventParams(int32_t, intptr_t, intptr_t) override { return MediaStatus::kOk; }
  MediaStatus PutVolume(int32_t) override { return MediaStatus::kOk; }

 private:
  MediaStatus Call(const std::string& name) {
    calls.push_back(name);
    return MediaStatus::kOk;
  }
};

// `graph` as the graph of the video the window shows, loaded from `path`.
std::shared_ptr<LoadedVideo> ShowVideo(std::shared_ptr<platform::MediaGraph> graph,
                                       const std::string& path = "/v/clip.mp4") {
  auto video = std::make_shared<LoadedVideo>(path);
  video->SetGraph(std::move(graph));
  SetCurrentLoadedVideo(video);
  return video;
}

class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramLocation(dir_.File("zqrstereo"));
    ResetSettingsToStartValues();
    Commands.Paused = 0;
    Conversion.StopRequested = 0;
    Loader.VideoLoaded = 0;
    Video.PlayState = 0;
    Video.Converting = 0;
    Conversion.EncoderRunning = 0;
    CommandHooks hooks;
    hooks.sleep = [this](int ms) { slept_ += ms; };
    hooks.choose_output_file = [this] {
      ++conversions_;
      busy_during_conversion_ = !ui_->IsEnabled(kIdLoad) && ui_->IsEnabled(kIdStop);
    };
    hooks.clean_temp_files = [this] { ++cleanups_; };
    SetCommandHooks(hooks);
    auto ui = std::make_unique<platform::HeadlessUi>();
    ui_ = ui.get();
    platform::InstallUi(std::move(ui));
    Build();
  }
  void TearDown() override {
    SetCurrentLoadedVideo(nullptr);
    Video.PlayState = 0;
    SetCommandHooks({});
  }
  void Build() { ui_->BuildWindow(MainWindowLayout(), MainWindowEvents()); }

  test::ScratchDir dir_;
  test::ProgramLocationGuard location_;
  platform::HeadlessUi* ui_ = nullptr;
  int slept_ = 0;
  int conversions_ = 0;
  int cleanups_ = 0;
  bool busy_during_conversion_ = false;
};

TEST_F(CommandsTest, LayoutTableBuildsEveryControlOnce) {
  std::set<int> ids;
  for (const ControlRow& row : MainControlRows()) {
    if (row.spec.id < 0) continue;
    EXPECT_TRUE(ids.insert(row.spec.id).second) << "id " << row.spec.id << " twice";
    EXPECT_TRUE(ui_->HasControl(row.spec.id)) << row.spec.id;
  }
  EXPECT_EQ(ids.size(), 68u);
  // The help button at the top right, Stop 29 pixels below About, the others 24 apart.
  EXPECT_EQ(FindControlRow(kIdHelp)->spec.x, 900);
  EXPECT_EQ(FindControlRow(kIdHelp)->spec.y, 8);
  EXPECT_EQ(FindControlRow(kIdStop)->spec.y - FindControlRow(kIdAbout)->spec.y, 29);
  EXPECT_EQ(FindControlRow(kIdPlayPause)->spec.y - FindControlRow(kIdLoad)->spec.y, 24);
  EXPECT_EQ(ui_->ListText(kIdDepthList), "30");
  EXPECT_EQ(FindControlRow(kIdDepthList)->spec.items.size(), 17u);
  EXPECT_EQ(ui_->ListText(kIdCompressionList), "Default Quality");
  EXPECT_EQ(FindControlRow(kIdCompressionList)->spec.items.back(), "21:Lower Quality");
  EXPECT_EQ(ui_->GetLabel(kIdTempPathLabel), Shell.TempFolder);
  EXPECT_EQ(ui_->GetLabel(kIdBuildLabel), "Build 005.01");
  // No settings file: sliders at their lowest positions, sharpen on with amount 0.
  EXPECT_EQ(ui_->SliderPos(kIdBrightness), 0);
  EXPECT_EQ(ui_->SliderPos(kIdNoisePasses), 1);
  EXPECT_EQ(ui_->SliderPos(kIdCpuUsage), 50);
  EXPECT_EQ(ui_->SliderPos(kIdStereoTuning), 6);
  EXPECT_TRUE(ui_->IsChecked(kIdSharpenSwitch));
  EXPECT_EQ(ui_->TextColour(kIdSharpenSwitch), ImageSwitchColours(true).foreground);
  EXPECT_TRUE(ui_->IsChecked(kIdShowInputVideo));
  EXPECT_FALSE(ui_->IsMenuChecked(kIdStereo));
}

TEST_F(CommandsTest, MenusFollowTheSettingsTheyAreBuiltFrom) {
  Settings.AutoSave = 0;
  Settings.BitrateChoice = 5;
  Settings.StereoMode = 1;
  Build();
  EXPECT_FALSE(ui_->IsMenuChecked(kIdAutoSave));
  EXPECT_FALSE(ui_->IsChecked(kIdAutoSave));
  for (int id = 830; id <= 839; ++id) EXPECT_EQ(ui_->IsMenuChecked(id), id == 835) << id;
  EXPECT_TRUE(ui_->IsMenuChecked(898));
  EXPECT_FALSE(ui_->IsMenuChecked(897));
  // Each popup item sets its field and moves the popup's one check mark.
  ui_->Click(872);
  EXPECT_EQ(Settings.ResizeMode, 2);
  ui_->Click(884);
  EXPECT_EQ(Settings.SampleRateChoice, 4);
  ui_->Click(831);
  EXPECT_EQ(Settings.BitrateChoice, 1);
  for (int id = 830; id <= 839; ++id) EXPECT_EQ(ui_->IsMenuChecked(id), id == 831) << id;
  ui_->Click(891);
  ui_->Click(845);
  EXPECT_EQ(Settings.AudioChannels, 1);
  EXPECT_EQ(Settings.CodecModeChoice, 5);
  EXPECT_EQ(ui_->SoundsPlayed(), 0);
}

TEST_F(CommandsTest, RestoredStereoAndOutputChoicesShowInTheWindow) {
  Settings.StereoOn = 1;
  Settings.StereoTuning = -4;
  Settings.DepthOn = 1;
  Settings.DepthDivisor = 55;
  Settings.ResizeMode = 3;
  Settings.AudioChannels = 1;
  Settings.SampleRateChoice = 2;
  Settings.CompressionValue = 15;
  Build();
  EXPECT_TRUE(ui_->IsChecked(kIdStereo));
  EXPECT_TRUE(ui_->IsMenuChecked(kIdStereo));
  EXPECT_EQ(ui_->SliderPos(kIdStereoTuning), -4);
  EXPECT_TRUE(ui_->IsChecked(kIdDepthSwitch));
  EXPECT_EQ(ui_->ListText(kIdDepthList), "55");
  EXPECT_EQ(ui_->ListText(kIdCompressionList), "15:");
  for (int id = 870; id <= 875; ++id) EXPECT_EQ(ui_->IsMenuChecked(id), id == 873) << id;
  EXPECT_TRUE(ui_->IsMenuChecked(891));
  EXPECT_FALSE(ui_->IsMenuChecked(890));
  EXPECT_TRUE(ui_->IsMenuChecked(882));
  // The first click on a restored 3D Vision switches it off.
  ui_->Click(kIdStereo);
  EXPECT_EQ(Settings.StereoOn, 0);
  EXPECT_FALSE(ui_->IsChecked(kIdStereo));
}

TEST_F(CommandsTest, AutoSavingToggledTwiceFollowsTheMenuMark) {
  ui_->Click(kIdAutoSave);  // the check box
  EXPECT_EQ(Settings.AutoSave, 0);
  EXPECT_FALSE(ui_->IsChecked(kIdAutoSave));
  EXPECT_FALSE(ui_->IsMenuChecked(kIdAutoSave));
  ui_->Click(kIdAutoSave);
  EXPECT_EQ(Settings.AutoSave, 1);
  EXPECT_TRUE(ui_->IsChecked(kIdAutoSave));
  EXPECT_TRUE(ui_->IsMenuChecked(kIdAutoSave));
  // The field follows the menu's mark even when the box says otherwise.
  ui_->SetChecked(kIdAutoSave, false);
  ui_->Click(kIdAutoSave);
  EXPECT_EQ(Settings.AutoSave, 0);
  EXPECT_FALSE(ui_->IsChecked(kIdAutoSave));
  // 3D Vision the same way, with its click.
  ui_->Click(kIdStereo);
  EXPECT_EQ(Settings.StereoOn, 1);
  EXPECT_TRUE(ui_->IsMenuChecked(kIdStereo));
  EXPECT_EQ(ui_->SoundsPlayed(), 1);
}

TEST_F(CommandsTest, FolderPickerCancelledOrChosen) {
  Shell.TempFolder = dir_.path() + "/mine";
  ui_->Click(kIdSetTempPath);  // cancelled: the folder there was stays
  EXPECT_EQ(Shell.TempFolder, dir_.path() + "/mine");
  EXPECT_EQ(ui_->GetLabel(kIdTempPathLabel), dir_.path() + "/mine");
  ui_->QueueFileDialogAnswer(dir_.path() + "/work//");
  ui_->Click(kIdSetTempPath);
  EXPECT_EQ(Shell.TempFolder, dir_.path() + "/work");
  EXPECT_EQ(ui_->GetLabel(kIdTempPathLabel), dir_.path() + "/work");
}

TEST_F(CommandsTest, DepthSourceItemsMarkOneSourceAndAModelIsRemembered) {
  Shell.DepthSource = std::string();
  Shell.DepthModel = std::string();
  const std::string model = dir_.File("depth.onnx");
  ui_->Click(kIdDepthFromModel);  // cancelled: still the depth found in the video
  EXPECT_TRUE(ui_->IsMenuChecked(kIdDepthFromMotion));
  EXPECT_FALSE(ui_->IsMenuChecked(kIdDepthFromModel));
  Shell.DepthSource = dir_.File("depth.mkv");
  ui_->QueueFileDialogAnswer(model);
  ui_->Click(kIdDepthFromModel);
  EXPECT_EQ(Shell.DepthModel, model);
  EXPECT_EQ(Shell.DepthSource, "");  // the model, not the file, gives the depth now
  EXPECT_TRUE(ui_->IsMenuChecked(kIdDepthFromModel));
  EXPECT_FALSE(ui_->IsMenuChecked(kIdDepthFromFile));
  EXPECT_FALSE(ui_->IsMenuChecked(kIdDepthFromPrior));
  // A window built again (a model kept with the settings) marks it.
  Build();
  EXPECT_TRUE(ui_->IsMenuChecked(kIdDepthFromModel));
  ui_->Click(kIdDepthFromPrior);
  EXPECT_EQ(Shell.DepthModel, "");
  EXPECT_TRUE(ui_->IsMenuChecked(kIdDepthFromPrior));
  EXPECT_FALSE(ui_->IsMenuChecked(kIdDepthFromModel));
}

TEST_F(CommandsTest, PlayPauseNeedsAVideoAndRestartsAtTheEnd) {
  auto graph = std::make_shared<PlayedGraph>();
  ui_->Click(kIdPlayPause);  // nothing loaded
  EXPECT_EQ(Commands.Paused, 0);
  EXPECT_EQ(ui_->SoundsPlayed(), 0);
  ShowVideo(graph);
  Video.PlayState = 1;
  graph->duration = graph->position = 50'000'000;
  ui_->Click(kIdPlayPause);  // played to its end: the first press starts it again
  EXPECT_EQ(Commands.Paused, 0);
  EXPECT_EQ(graph->calls, (std::vector<std::string>{"SetPositions 0", "Run"}));
  EXPECT_EQ(ui_->ProgressPos(kIdPositionBar), 1);
  EXPECT_EQ(ui_->Picture(kIdPlayPause), "b_pause1");
  ui_->Accelerator(false, 'P');  // no such accelerator: nothing happens
  ui_->Click(kIdPlayPause);
  ui_->Click(kIdPlayPause);
  EXPECT_EQ(Commands.Paused, 0);
  EXPECT_EQ(graph->calls, (std::vector<std::string>{"SetPositions 0", "Run", "Pause", "Run"}));
  // Paused at the end, it starts again too.
  ui_->Click(kIdPlayPause);
  graph->position = graph->duration;
  ui_->Click(kIdPlayPause);
  EXPECT_EQ(Commands.Paused, 0);
  EXPECT_EQ(graph->calls.back(), "Run");
  EXPECT_EQ(graph->calls[graph->calls.size() - 2], "SetPositions 0");
  EXPECT_EQ(slept_, 5 * 600);
}

TEST_F(CommandsTest, ExitSavesOnlyAfterALoadAndAsksFirst) {
  const std::string settings = dir_.File("zqrstereo.ini");
  ui_->SetDefaultAnswer(platform::kIdCancel);
  EXPECT_FALSE(ui_->RequestClose());
  EXPECT_FALSE(ui_->WindowClosed());
  ASSERT_EQ(ui_->Messages().size(), 1u);
  EXPECT_EQ(ui_->Messages()[0].text, "Are you sure?");
  EXPECT_EQ(ui_->Messages()[0].caption, "Exit IDE");
  EXPECT_EQ(cleanups_, 0);

  ui_->SetDefaultAnswer(platform::kIdOk);
  ui_->Click(kIdExit);  // AutoSave 1, no video loaded in this run
  EXPECT_TRUE(ui_->WindowClosed());
  EXPECT_FALSE(test::FileExists(settings));
  EXPECT_EQ(cleanups_, 1);
  EXPECT_EQ(Video.PlayState, 0);

  Loader.VideoLoaded = 1;
  Build();
  EXPECT_TRUE(ui_->RequestClose());
  EXPECT_TRUE(test::FileExists(settings));
  EXPECT_EQ(Commands.ExitGuard, 0);
}

TEST_F(CommandsTest, ClosingDuringAConversionStopsItThenCloses) {
  bool close_accepted = true;
  CommandHooks hooks = CurrentCommandHooks();
  hooks.choose_output_file = [&] {
    Video.Converting = 1;  // the user closes the window while the encoder runs
    Conversion.EncoderRunning = 1;
    close_accepted = ui_->RequestClose();
    EXPECT_EQ(ui_->Messages().back().text,
              std::string("Are you sure?\r\n") + kCloseStopsConversionText);
    EXPECT_EQ(Conversion.StopRequested, 1);
    EXPECT_FALSE(ui_->WindowClosed());
    Video.Converting = 0;  // the driver stops and cleans up
    Conversion.EncoderRunning = 0;
    Conversion.StopRequested = 0;
  };
  SetCommandHooks(hooks);
  ShowVideo(std::make_shared<PlayedGraph>());
  Video.PlayState = 1;
  ui_->Click(kIdConvert);
  EXPECT_FALSE(close_accepted);
  EXPECT_TRUE(ui_->WindowClosed());  // once the conversion has returned
  EXPECT_EQ(cleanups_, 1);           // after the exit sequence
  EXPECT_EQ(Commands.CloseAfterConversion, 0);

  // Cancelled, nothing stops.
  Conversion.StopRequested = 0;
  Build();
  ui_->SetDefaultAnswer(platform::kIdCancel);
  Video.Converting = 1;
  EXPECT_FALSE(ui_->RequestClose());
  EXPECT_EQ(Conversion.StopRequested, 0);
  Video.Converting = 0;
}

TEST_F(CommandsTest, SaveWorksWithoutAVideoConvertNeedsOne) {
  ui_->Click(kIdSave);
  EXPECT_TRUE(test::FileExists(dir_.File("zqrstereo.ini")));
  EXPECT_EQ(ui_->SoundsPlayed(), 1);
  EXPECT_EQ(ui_->Picture(kIdSave), "b_save1");
  std::remove(dir_.File("zqrstereo.ini").c_str());
  ui_->Click(kIdConvert);
  EXPECT_EQ(ui_->SoundsPlayed(), 1);
  EXPECT_EQ(conversions_, 0);
  // The user is told why nothing happened, until the next Load.
  EXPECT_EQ(ui_->GetLabel(kIdOperationLabel), "Load a video first");
  ui_->Click(kIdLoad);
  EXPECT_EQ(ui_->GetLabel(kIdOperationLabel), " Operation:");
  for (int i = 0; i < 500 && LoadThreadsRunning() > 0; ++i) platform::SleepMs(5);
  EXPECT_EQ(LoadThreadsRunning(), 0);

  auto graph = std::make_shared<PlayedGraph>();
  graph->position = 7;
  ShowVideo(graph);
  Video.PlayState = 1;
  ui_->Accelerator(true, 'S');
  EXPECT_TRUE(test::FileExists(dir_.File("zqrstereo.ini")));
  ui_->Accelerator(true, 'C');
  EXPECT_EQ(conversions_, 1);
  EXPECT_TRUE(busy_during_conversion_);
  EXPECT_TRUE(ui_->IsEnabled(kIdLoad));
  EXPECT_FALSE(ui_->IsEnabled(kIdStop));
  EXPECT_EQ(graph->calls, (std::vector<std::string>{"Stop", "SetPositions 0"}));
  // The clip the dialog left loaded waits at its start: the next press plays it.
  EXPECT_EQ(Commands.Paused, 1);
  ui_->Click(kIdPlayPause);
  EXPECT_EQ(graph->calls.back(), "Run");
}

TEST_F(CommandsTest, CancelledSaveDialogKeepsTheClipLoadedWithItsFigures) {
  auto graph = std::make_shared<PlayedGraph>();
  graph->position = 7;
  ShowVideo(graph)->SetFigures({.DurationSeconds = 5.0});
  Video.PlayState = 1;
  ui_->SetLabel(kIdFileNameLabel, " /v/clip.mp4 ");
  ui_->SetLabel(kIdDurationLabel, "00:00:05");
  ChooseOutputFile(dir_.path(), 0);  // no answer: Cancel
  // It offers every type the encoder writes, MP4 chosen for the proposed name.
  const auto requests = ui_->FileDialogRequests();
  ASSERT_EQ(requests.size(), 1u);
  std::string patterns;
  for (const auto& filter : requests[0].filters) patterns += filter.second + " ";
  EXPECT_EQ(patterns, "*.flv *.avi *.mov *.mp4 *.mkv *.webm *.m4v *.ogg;*.ogv ");
  EXPECT_EQ(requests[0].filters[requests[0].filter_index].second, "*.mp4");
  EXPECT_TRUE(ui_->Messages().empty());
  EXPECT_EQ(Video.PlayState, 1);
  EXPECT_EQ(CurrentGraph(), graph);
  EXPECT_EQ(graph->calls, (std::vector<std::string>{"Stop", "SetPositions 0", "Pause"}));
  EXPECT_EQ(ui_->GetLabel(kIdFileNameLabel), " /v/clip.mp4 ");
  EXPECT_EQ(ui_->GetLabel(kIdDurationLabel), "00:00:05");
}

TEST_F(CommandsTest, BusyWindowIgnoresLoadSaveConvertAndPlay) {
  SetBusyUi(0);
  for (int id : {kIdLoad, kIdSave, kIdConvert, kIdPlayPause, kIdSetTempPath}) {
    EXPECT_FALSE(ui_->IsEnabled(id)) << id;
  }
  EXPECT_TRUE(ui_->IsEnabled(kIdStop));
  EXPECT_TRUE(ui_->IsEnabled(kIdBrightness));
  SetBusyUi(1);
  EXPECT_TRUE(ui_->IsEnabled(kIdSetTempPath));
}

TEST_F(CommandsTest, StopOnlyDuringAConversion) {
  EXPECT_FALSE(ui_->IsEnabled(kIdStop));
  Video.Converting = 1;
  ui_->Click(kIdStop);
  EXPECT_EQ(Conversion.StopRequested, 0);
  SetBusyUi(0);  // as the Convert command does while it converts
  Video.Converting = 0;
  ui_->Click(kIdStop);
  EXPECT_EQ(Conversion.StopRequested, 0);
  Video.Converting = 1;
  ui_->Click(kIdStop);
  EXPECT_EQ(Conversion.StopRequested, 1);
  EXPECT_EQ(ui_->Picture(kIdStop), "b_stopt1");
}

TEST_F(CommandsTest, DepthListSwitchesAndSliders) {
  ui_->SelectListItem(kIdDepthList, 0);
  EXPECT_EQ(Settings.DepthDivisor, 20);
  ui_->SelectListItem(kIdDepthList, 16);
  EXPECT_EQ(Settings.DepthDivisor, 100);
  for (const std::string& text : FindControlRow(kIdDepthList)->spec.items) {
    EXPECT_GT(std::stoi(text), 0);
  }
  ui_->Click(kIdDepthSwitch);
  EXPECT_EQ(Settings.DepthOn, 1);
  ui_->Click(kIdShowInputVideo);
  EXPECT_EQ(Settings.ShowInputVideo, 0);

  ui_->Click(kIdBrightnessSwitch);
  EXPECT_EQ(Settings.BrightnessOn, 1);
  EXPECT_EQ(ui_->TextColour(kIdBrightnessSwitch), ImageSwitchColours(true).foreground);
  ui_->Click(kIdSharpenSwitch);
  EXPECT_EQ(Settings.SharpenOn, 0);
  EXPECT_EQ(ui_->TextColour(kIdSharpenSwitch), ImageSwitchColours(false).foreground);

  ui_->MoveSlider(kIdStereoTuning, -7);
  EXPECT_EQ(Settings.StereoTuning, -7);
  ui_->MoveSlider(kIdBrightness, 300);  // the slider stops at its end
  EXPECT_EQ(Settings.Brightness, 255);
  ui_->Click(kIdResetBrightness);
  EXPECT_EQ(Settings.Brightness, 127);
  EXPECT_EQ(ui_->SliderPos(kIdBrightness), 127);
  ui_->MoveSlider(kIdSharpenAmount, 4);
  ui_->MoveSlider(kIdSharpenRadius, 3);
  ui_->Click(kIdResetSharpen);
  EXPECT_EQ(Settings.SharpenAmount, 1);
  EXPECT_EQ(Settings.SharpenRadius, 0);
  ui_->Click(kIdResetCpu);
  EXPECT_EQ(ui_->SliderPos(kIdCpuUsage), 100);
}

TEST_F(CommandsTest, HoverShowsOneButtonAtATime) {
  EXPECT_TRUE(ui_->Hover(kIdSave));
  EXPECT_EQ(ui_->Picture(kIdSave), "b_save3");
  EXPECT_TRUE(ui_->Hover(kIdHelp));
  EXPECT_EQ(ui_->Picture(kIdSave), "b_save1");
  EXPECT_EQ(ui_->Picture(kIdHelp), "help3");
  EXPECT_FALSE(ui_->Hover(kIdBrightness));
  EXPECT_EQ(ui_->Picture(kIdHelp), "help1");
}

TEST_F(CommandsTest, InformationOutputStreamAndAbout) {
  ui_->Click(kIdFileInformation);  // no clip: said where the buttons say it
  EXPECT_TRUE(ui_->Messages().empty());
  EXPECT_EQ(ui_->GetLabel(kIdOperationLabel), "Load a video first");
  ui_->Accelerator(true, 'O');
  ui_->Accelerator(true, 'O');
  EXPECT_EQ(ui_->OutputStreamOpenings(), 2);
  ui_->Click(kIdAbout);
  EXPECT_EQ(ui_->AboutShown(), 1);
  EXPECT_EQ(ui_->Picture(kIdAbout), "b_about1");
}

TEST_F(CommandsTest, CompressionListSetsTheValueTheEncoderTakes) {
  ui_->SelectListItem(kIdCompressionList, 15);
  EXPECT_EQ(Settings.CompressionValue, 15);
  ui_->SelectListItem(kIdCompressionList, 21);
  EXPECT_EQ(Settings.CompressionValue, 21);
  ui_->SelectListItem(kIdCompressionList, 0);  // "Default Quality"
  EXPECT_EQ(Settings.CompressionValue, 0);
}

TEST_F(CommandsTest, LoadStartsTheLoaderOnItsOwnThreadAndACancelChangesNothing) {
  std::atomic<int> loads{0};
  std::atomic<int> play_state_at_dialog{-1};
  CommandHooks hooks;
  hooks.sleep = [](int) {};
  hooks.get_multiple_files = [&] {  // the dialog, cancelled
    play_state_at_dialog = Video.PlayState.load();
    loads.fetch_add(1);
  };
  SetCommandHooks(hooks);
  auto graph = std::make_shared<PlayedGraph>();
  ShowVideo(graph);
  Video.PlayState = 1;  // a paused clip
  Commands.Paused = 1;
  ui_->Accelerator(true, 'L');
  for (int i = 0; i < 500 && LoadThreadsRunning() > 0; ++i) platform::SleepMs(5);
  EXPECT_EQ(loads.load(), 1);
  EXPECT_EQ(LoadThreadsRunning(), 0);
  EXPECT_EQ(play_state_at_dialog.load(), 1) << "the clip plays on while the dialog is open";
  EXPECT_EQ(Video.PlayState, 1);
  EXPECT_EQ(Commands.Paused, 1);
  EXPECT_TRUE(graph->calls.empty());
}

}  // namespace
}  // namespace zqr
