// Depth from a monocular depth model the user gives (an ONNX file), for a stream's depth
// stage. A learned model costs hundreds of milliseconds a frame on a desktop's cores, so it
// runs on keyframes only (every N-th frame and at each scene cut) and a carry fills the
// frames between. Its output, relative inverse depth at the model's size, is brought to the
// depth plane's levels by percentiles smoothed over time and brought to the picture's size
// along the picture's own edges. One per stream: nothing of one stream's depth reaches
// another.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zqr {

// The model's file and how its input is made and its output read.
struct ModelChoice {
  std::string file;
  int32_t size = 384;  // the input's longer side when the model takes any size
  std::array<float, 3> mean = {0.485f, 0.456f, 0.406f};  // of R, G, B scaled to 0..1
  std::array<float, 3> deviation = {0.229f, 0.224f, 0.225f};
  bool invert = false;  // the model gives distance, larger farther
  int32_t every = 1;    // the model on every N-th frame and at scene cuts
};

// What the frames between two runs of the model get. The simplest holds the model's last
// depth; the model's own carry follows the picture's motion.
class DepthCarry {
 public:
  virtual ~DepthCarry() = default;
  // `plane` is the depth the model just made for `picture` (BGRX, bottom row first).
  virtual void Keyframe(const uint32_t* picture, std::ptrdiff_t stride, const uint8_t* plane) = 0;
  // `plane` holds the depth of the frame before `picture`; it is made this one's.
  virtual void Carry(const uint32_t* picture, std::ptrdiff_t stride, uint8_t* plane) = 0;
  // The next frame does not follow the last one.
  virtual void Reset() = 0;
};

class HoldDepth final : public DepthCarry {
 public:
  void Keyframe(const uint32_t*, std::ptrdiff_t, const uint8_t*) override {}
  void Carry(const uint32_t*, std::ptrdiff_t, uint8_t*) override {}
  void Reset() override {}
};

// A scene cut between two consecutive pictures: their coarse luma (blocks of the picture
// averaged) differs by much more than a moving camera or a moving object makes it.
class SceneCuts {
 public:
  // Whether `picture` (BGRX) begins a new shot after the one given before it.
  bool Next(const uint32_t* picture, std::ptrdiff_t stride, int32_t width, int32_t height);
  void Reset() { last_.clear(); }

 private:
  std::vector<uint8_t> last_;
  std::vector<uint8_t> blocks_;
};

// Which frames the model runs on: the first, every `every`-th after the last run, and
// each scene cut.
class Keyframes {
 public:
  explicit Keyframes(int32_t every) : every_(every < 1 ? 1 : every) {}
  bool Next(bool scene_cut) {
    const bool key = scene_cut || since_ < 0 || since_ + 1 >= every_;
    since_ = key ? 0 : since_ + 1;
    return key;
  }
  void Reset() { since_ = -1; }
  int32_t Every() const { return every_; }

 private:
  int32_t every_;
  int32_t since_ = -1;
};

class ModelDepth {
 public:
  ModelDepth();
  ~ModelDepth();
  ModelDepth(const ModelDepth&) = delete;
  ModelDepth& operator=(const ModelDepth&) = delete;

  // False where the program was built without a model runtime.
  static bool Available();

  // Reads the model and runs it once on a grey picture of width x height; false with the
  // reason (without the file's name) when it is not a model or its input or output cannot
  // be used.
  bool Open(const ModelChoice& choice, int32_t width, int32_t height, std::string& failure);
  void SetCarry(std::unique_ptr<DepthCarry> carry);
  // The next frame does not follow the last one (a seek, a rewind, a new clip).
  void Reset();
  // The depth plane (width bytes a row, bottom row first, 0 farthest, 255 nearest) of
  // `picture` (BGRX, rows `stride` pixels apart, bottom row first), the frame after the one
  // given last. `plane` holds the previous frame's depth for the carry.
  void Estimate(const uint32_t* picture, std::ptrdiff_t stride, uint8_t* plane);
  // How many frames the model ran on since Open.
  int64_t Runs() const;
  // The model's input size (width x height) as it runs.
  int32_t InputWidth() const;
  int32_t InputHeight() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zqr
