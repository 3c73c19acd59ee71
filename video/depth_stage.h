// The depth stage of a stream's frame step: where each picture's depth plane comes from (a
// depth video or picture the user gives, else the depth found in the video itself or, when
// asked for, the vertical prior), the plane written out when asked, and both eyes' views
// rendered from it. One per stream: a recording owns its
// own, so nothing of one stream's depth reaches another.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frames/dibr.h"
#include "platform/grey_video.h"
#include "video/model_depth.h"
#include "video/motion_depth.h"

namespace zqr {

// What a run takes its depth from and writes it to (no video: the depth found in the video,
// or the vertical prior with `prior`; no output).
struct DepthChoice {
  std::string video;    // a depth video or a still depth picture
  ModelChoice model;    // a depth model run on the pictures (no file: none)
  bool prior = false;   // without a video or model: lower in the picture is nearer
  std::string out;      // the depth of every frame, written as a grey movie
  bool log_end = true;  // a log line when a depth video ends before the picture
};

// A model `file` with the settings' keyframe interval and input size, the rest as usual.
ModelChoice SettingsModelChoice(const std::string& file);

class DepthStage {
 public:
  DepthStage() = default;
  ~DepthStage();  // an output not finished is removed
  DepthStage(const DepthStage&) = delete;
  DepthStage& operator=(const DepthStage&) = delete;

  // For width x height pictures at frames_per_second. False with the reason, naming the
  // file, when the depth file cannot be read or the output cannot be made (nothing is then
  // left of the output).
  bool Open(const DepthChoice& choice, int32_t width, int32_t height, double frames_per_second,
            std::string& failure);
  // The depth plane (width x height, bottom row first) of `picture` (rows `width` apart),
  // the movie's frame `number`: the source's frame shown at that frame's time (so a depth
  // video made from the same clip pairs up whether it repeats the clip's held frames or keeps
  // their times), its last one when it has no more; else the model's depth of this picture,
  // the depth found in this picture and the ones before it, or the prior's for every frame.
  // Written out as that frame, after the plane before it for the frames a gap repeats the
  // picture before over. A picture without a number (-1), or the same number again, keeps the
  // plane as it is.
  const uint8_t* NextDepth(int32_t number, const uint32_t* picture);
  // Both views of `picture` (width x height, rows `width` apart) from the last plane, split
  // across two threads for large pictures.
  void RenderViews(const uint32_t* picture, const frames::DibrSettings& settings);
  // The plane as a grey picture in both views, for a preview that shows the depth.
  void DepthAsViews();
  const uint32_t* left() const { return left_.data(); }
  const uint32_t* right() const { return right_.data(); }
  const uint8_t* depth() const { return plane_.data(); }
  // Ends the depth output and gives it its name; false with the reason when it could not be
  // written whole (nothing of it is then left).
  bool Finish(std::string& failure);
  // The output removed unfinished (a run that failed or was stopped).
  void Discard();
  // What the source is, for the log: "the depth video NAME", the depth found in the video or
  // "the vertical prior".
  std::string SourceText() const;

 private:
  void Write();  // the plane as the output's next frame
  void ReadAhead();

  DepthChoice choice_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  std::unique_ptr<platform::GreyVideoReader> reader_;
  std::unique_ptr<platform::GreyVideoWriter> writer_;
  std::unique_ptr<ModelDepth> model_;
  std::unique_ptr<MotionDepth> motion_;
  int32_t last_number_ = -1;  // the frame whose depth the model or the estimator made last
  double frame_seconds_ = 0.0;
  bool source_ended_ = false;
  std::vector<uint8_t> next_plane_;  // the source's frame after the one in the plane
  double next_seconds_ = 0.0;
  bool has_next_ = false;
  double shown_seconds_ = 0.0;  // the time of the source's frame in the plane
  bool said_ended_ = false;
  int64_t frames_read_ = 0;
  int64_t frames_written_ = 0;
  std::string out_failure_;
  std::string partial_;  // the output while it is written
  std::vector<uint8_t> plane_;
  std::vector<uint32_t> left_;
  std::vector<uint32_t> right_;
  frames::DibrRowScratch scratch_[2];
};

}  // namespace zqr
