// The depth stage: the plane of each picture from its source, the output file, and the
// views rendered in two bands of rows side by side.
#include "video/depth_stage.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <thread>

#include "core/run_log.h"
#include "core/settings.h"
#include "frames/depth_prior.h"
#include "platform/path.h"

namespace zqr {

namespace {
// Pictures of fewer rows are rendered on one thread: a second would cost more than it saves.
constexpr int32_t kTwoBandRows = 64;
// A frame further on than this from the last one the estimator saw is a jump (a seek), not
// the next frame of the shot: the estimator starts again.
constexpr int32_t kLongestGap = 8;
}  // namespace

ModelChoice SettingsModelChoice(const std::string& file) {
  ModelChoice choice;
  choice.file = file;
  choice.every = Settings.DepthModelEvery;
  choice.size = Settings.DepthModelSize;
  return choice;
}

bool DepthStage::Open(const DepthChoice& choice, int32_t width, int32_t height,
                      double frames_per_second, std::string& failure) {
  choice_ = choice;
  width_ = width;
  height_ = height;
  const auto pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  plane_.assign(pixels, 0);
  left_.assign(pixels, 0);
  right_.assign(pixels, 0);
  if (!choice.video.empty()) {
    std::string why;
    reader_ = platform::OpenGreyVideo(choice.video, width, height, why);
    if (!reader_) {
      failure = "The depth file " + choice.video + " cannot be used: " + why + ".";
      return false;
    }
  }
  if (!choice.out.empty()) {
    std::string why;
    // Written under a name of its own beside it, and given its name once whole: a run that
    // fails leaves whatever had that name as it was.
    const std::filesystem::path out = platform::PathOf(choice.out);
    partial_ = platform::PathText(
        out.parent_path() / platform::PathOf("." + platform::PathText(out.stem()) + ".partial" +
                                             platform::PathText(out.extension())));
    writer_ = platform::CreateGreyVideo(partial_, width, height, frames_per_second, why);
    if (!writer_) {
      failure = "The depth output " + choice.out + " cannot be written: " + why + ".";
      Discard();
      return false;
    }
  }
  if (choice.video.empty() && !choice.model.file.empty()) {
    model_ = std::make_unique<ModelDepth>();
    std::string why;
    if (!model_->Open(choice.model, width, height, why)) {
      failure = "The depth model " + choice.model.file + " cannot be used: " + why + ".";
      model_.reset();
      Discard();
      return false;
    }
  }
  frame_seconds_ = frames_per_second > 0 ? 1.0 / frames_per_second : 1.0 / 25.0;
  frames::FillVerticalDepthPrior(plane_.data(), width, width, height);
  if (reader_) {
    next_plane_.assign(pixels, 0);
    ReadAhead();
  } else if (!model_ && !choice.prior) {
    motion_ = std::make_unique<MotionDepth>();
    motion_->Open(width, height);
  }
  return true;
}

std::string DepthStage::SourceText() const {
  if (model_) {
    return "the depth model " + choice_.model.file + " at " + std::to_string(model_->InputWidth()) +
           "x" + std::to_string(model_->InputHeight()) + ", every " +
           std::to_string(std::max(1, choice_.model.every)) + " frames and at scene cuts";
  }
  if (motion_) return MotionDepth::SourceText();
  if (!reader_) return "the vertical prior (lower in the picture is nearer)";
  return (reader_->IsStill() ? "the depth picture " : "the depth video ") + choice_.video;
}

const uint8_t* DepthStage::NextDepth(int32_t number, const uint32_t* picture) {
  if (number < 0 || ((motion_ || model_) && number == last_number_)) return plane_.data();
  while (writer_ && out_failure_.empty() && frames_written_ < number) Write();
  if (motion_ || model_) {
    // Not the next frame (a seek, a rewind): what was carried from frame to frame starts anew.
    if (last_number_ >= 0 && (number < last_number_ || number > last_number_ + kLongestGap)) {
      if (model_) model_->Reset();
      if (motion_) motion_->Reset();
    }
    last_number_ = number;
    if (model_) {
      model_->Estimate(picture, width_, plane_.data());
    } else {
      motion_->Estimate(picture, width_, plane_.data());
    }
  }
  // The source's frames up to half a frame past this one's time: the last of them is shown.
  const double due = (number + 0.5) * frame_seconds_;
  while (has_next_ && (frames_read_ == 0 || next_seconds_ <= due)) {
    plane_.swap(next_plane_);
    shown_seconds_ = next_seconds_;
    ++frames_read_;
    ReadAhead();
  }
  if (choice_.log_end && source_ended_ && !said_ended_ && due > shown_seconds_ + frame_seconds_) {
    said_ended_ = true;
    LogLine("The depth video " + choice_.video + " ended after " + std::to_string(frames_read_) +
            " frames; its last frame serves the rest of the video");
  }
  if (writer_ && out_failure_.empty() && frames_written_ == number) Write();
  return plane_.data();
}

void DepthStage::ReadAhead() {
  has_next_ = !source_ended_ && !(reader_->IsStill() && frames_read_ > 0) &&
              reader_->Next(next_plane_.data(), width_, next_seconds_);
  source_ended_ = source_ended_ || (!has_next_ && !reader_->IsStill());
}

void DepthStage::Write() {
  if (writer_->Write(plane_.data(), width_)) {
    ++frames_written_;
  } else {
    out_failure_ = writer_->Failure();
  }
}

void DepthStage::RenderViews(const uint32_t* picture, const frames::DibrSettings& settings) {
  const int32_t split = height_ >= kTwoBandRows ? height_ / 2 : height_;
  std::jthread second;
  if (split < height_) {
    second = std::jthread([&] {
      frames::RenderDibrRows(picture, width_, plane_.data(), width_, width_, split, height_,
                             settings, left_.data(), right_.data(), scratch_[1]);
    });
  }
  frames::RenderDibrRows(picture, width_, plane_.data(), width_, width_, 0, split, settings,
                         left_.data(), right_.data(), scratch_[0]);
}

void DepthStage::DepthAsViews() {
  for (size_t i = 0; i < plane_.size(); ++i) {
    const uint32_t g = plane_[i];
    left_[i] = g | g << 8 | g << 16;
  }
  right_ = left_;
}

bool DepthStage::Finish(std::string& failure) {
  if (!writer_) return true;
  const bool finished = writer_->Finish() && out_failure_.empty();
  if (!finished) {
    failure = "The depth output " + choice_.out + " could not be written: " +
              (out_failure_.empty() ? writer_->Failure() : out_failure_) + ".";
  }
  writer_.reset();
  std::error_code error;
  if (finished) {
    std::filesystem::rename(platform::PathOf(partial_), platform::PathOf(choice_.out), error);
    if (error) {
      failure =
          "The depth output " + choice_.out + " could not be written: " + error.message() + ".";
      Discard();
      return false;
    }
    partial_.clear();
    return true;
  }
  Discard();
  return false;
}

void DepthStage::Discard() {
  writer_.reset();
  if (partial_.empty()) return;
  std::error_code error;
  std::filesystem::remove(platform::PathOf(partial_), error);
  partial_.clear();
}

DepthStage::~DepthStage() {
  Discard();
}

}  // namespace zqr
