// The conversion driver: records every frame of the loaded video as a frame file while the
// sound is extracted, then has the encoder make the movie, as often as the user asks for
// another compression, and leaves the temporary folder empty. Runs on the thread of the
// window's Convert command (or the batch run's main thread) and returns when all is over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/observer.h"
#include "video/depth_stage.h"
#include "video/video_state.h"

namespace zqr {

// Texts of the driver's message boxes.
inline constexpr const char* kNoVideoText = "VIDEO file not found!";
inline constexpr const char* kSameNameText = "Incorrect name of output file";
// Why it is refused: writing over the video being converted would destroy it.
inline constexpr const char* kSameNameReason = "\r\nIt is the VIDEO being converted.";
inline constexpr const char* kSuccessCaption = "Successful termination";
inline constexpr const char* kSuccessText =
    "Movie converted successfully.\r\nDo you want to save it with another compression value ?";

// The longest output name taken; a longer one is refused, never shortened.
inline constexpr size_t kMaxOutputNameLength = 255;

// One conversion, as a client asks for it.
struct ConversionJob {
  // The loaded video, with its graph built (LoadVideo): none refuses the run.
  std::shared_ptr<LoadedVideo> video;
  std::string output;       // the movie to write; taken exactly as given
  std::string temp_folder;  // where the frame files and the sound file go
  // The window asks after each export whether to encode the recording again; a batch run
  // makes one movie (and its frame files then go as soon as they are encoded).
  bool offer_another_compression = true;
  bool keep_work_files = false;
  // The caller holds the temporary folder's lock (FolderLock) for its whole run.
  bool temp_folder_held = false;
  // The pauses that let a graph that was just playing settle; a client that never played it
  // (the batch mode) goes without.
  bool settle_pauses = true;
  // Set for a recording made again because the first delivered more than the video
  // announced: its length in seconds, which the encoder's -t then covers.
  double recorded_seconds = 0.0;
  // With the depth-map effect: the depth file the views are rendered from (none: the vertical
  // prior), and where the depth of every frame is written (none: nowhere).
  DepthChoice depth;
};

// What a run came to, for the batch mode's exit status and tests.
struct ConversionReport {
  bool recorded = false;       // the recording ran to its end (not stopped, not refused)
  bool movie_written = false;  // the last export wrote a non-empty movie
  bool stopped = false;        // a stop request (the Stop button, a signal) ended it
  int32_t exports = 0;         // encoder runs
  int32_t frames_delivered = 0;
  int32_t frame_files = 0;         // files written, repeats of a gap included
  int64_t failed_frame_files = 0;  // files the writers could not write
  std::string output_name;         // the last output name used
  std::string failure;             // one line saying what failed; empty on success
  std::string warning;             // one line on what the movie lacks though written
};
ConversionReport LastConversionReport();

// The stall rule of the recording loop: progress is compared every 17 passes, and the
// recording ends after this many comparisons without a new frame.
inline constexpr int32_t kStallLimit = 12;

// How long the driver waits for the sound extraction after the recording (milliseconds).
inline constexpr int64_t kSoundWaitLimitMs = 120000;

// A conversion as a client polls it: what it is doing and how far it has come.
struct ConversionProgress {
  enum class State { kIdle, kRecording, kEncoding };
  State state = State::kIdle;
  int32_t frames_total = 0;     // the frames the video announced
  int32_t frames_recorded = 0;  // frames delivered since the recording began
  int64_t frames_encoded = 0;   // frames the encoder says it has encoded
};
ConversionProgress PollConversion();

// The free space the recording needs: every frame file (`numframes` of them) plus the
// sound file.
int64_t RecordingBytesNeeded(int32_t numframes, int32_t frame_width, int32_t frame_height,
                             double duration_seconds);

// The driver, for the window's Convert command and the batch mode alike. The report's
// output_name is the name of the last export. The loaded clip stays loaded: the caller
// ends or keeps it. What the user is shown and asked goes to `observer`.
ConversionReport ConvertMovie(const ConversionJob& job, Observer& observer);

}  // namespace zqr
