// The model's depth through OpenCV's DNN module: the graph normalised first (OpenCV 4.6
// refuses much of what today's exporters write), the picture made into the model's input,
// the output brought to levels and to the picture's size by a guided filter whose
// coefficients are found at the model's size and applied at the picture's (a guided filter
// at 1080p itself costs about twenty times as much). Between keyframes the depth follows
// the picture's motion.
#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <cmath>

#include "platform/files.h"
#include "video/model_depth.h"
#include "video/onnx_graph.h"

namespace zqr {

namespace {
// The depth's scale: these percentiles of a keyframe's output become levels 0 and 255, so a
// few stray values do not flatten the rest; smoothed over keyframes so the scale does not
// pump from one to the next.
constexpr double kLowPercentile = 0.02;
constexpr double kHighPercentile = 0.98;
constexpr double kScaleFollow = 0.35;
// The guided filter at the model's output size: its window's radius per 100 pixels of width
// and the smoothing that keeps flat areas flat (luma and depth scaled to 0..1).
constexpr double kRadiusPer100 = 1.0;
constexpr double kEpsilon = 1e-3;
// Far more than a monocular depth model that runs on a desktop's cores weighs.
constexpr size_t kLargestModel = size_t{2} << 30;
// The width the motion between keyframes is measured at, and the least either side needs
// for the flow to say anything; smaller pictures keep the keyframe's depth.
constexpr int32_t kFlowWidth = 480;
constexpr int32_t kMinFlowSide = 32;

// The first line of OpenCV's message, without the source file's place.
std::string Reason(const cv::Exception& e) {
  std::string text = e.err.empty() ? e.what() : e.err;
  text = text.substr(0, text.find('\n'));
  while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
  return text;
}
// Carries the depth along the picture's motion between keyframes: dense flow (DIS) from each
// picture back to the one before, measured at about 480 pixels wide and chained back to the
// keyframe, moves the keyframe's depth plane at full size, so that a pan does not leave the
// depth behind the things it belongs to. The keyframe's refined plane is resampled once for
// each frame, not the last frame's again, so its edges stay as sharp as the keyframe made them.
class FollowMotion final : public DepthCarry {
 public:
  FollowMotion(int32_t width, int32_t height) : width_(width), height_(height) {
    const int32_t work_width = std::min(width, kFlowWidth);
    work_ = cv::Size(
        work_width,
        std::max<int32_t>(1, static_cast<int32_t>(std::lround(static_cast<double>(height) *
                                                              work_width / std::max(width, 1)))));
    if (work_.width >= kMinFlowSide && work_.height >= kMinFlowSide) {
      flow_ = cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_ULTRAFAST);
    }
  }
  void Keyframe(const uint32_t* picture, std::ptrdiff_t stride, const uint8_t* plane) override {
    has_last_ = flow_ && Grey(picture, stride, last_);
    if (!has_last_) return;
    cv::Mat(height_, width_, CV_8U, const_cast<uint8_t*>(plane)).copyTo(keyframe_);
    to_keyframe_ = cv::Mat::zeros(work_, CV_32FC2);
  }
  void Carry(const uint32_t* picture, std::ptrdiff_t stride, uint8_t* plane) override {
    if (!has_last_ || !Grey(picture, stride, grey_)) {
      has_last_ = false;
      return;
    }
    try {
      Follow(plane);
      cv::swap(grey_, last_);
    } catch (const cv::Exception&) {
      // The plane stays the last frame's, as it would without a carry, until the next keyframe.
      has_last_ = false;
    }
  }
  void Reset() override { has_last_ = false; }

 private:
  bool Grey(const uint32_t* picture, std::ptrdiff_t stride, cv::Mat& out) {
    try {
      const cv::Mat full(height_, width_, CV_8UC4, const_cast<uint32_t*>(picture),
                         static_cast<size_t>(stride) * 4);
      cv::cvtColor(full, full_grey_, cv::COLOR_BGRA2GRAY);
      cv::resize(full_grey_, out, work_, 0, 0, cv::INTER_AREA);
      return true;
    } catch (const cv::Exception&) {
      return false;
    }
  }
  void Follow(uint8_t* plane) {
    // Where each pixel of this picture was in the last one, and from there in the keyframe.
    flow_->calc(grey_, last_, to_last_);
    step_.create(work_, CV_32FC2);
    for (int y = 0; y < work_.height; ++y) {
      const auto* f = to_last_.ptr<cv::Point2f>(y);
      auto* m = step_.ptr<cv::Point2f>(y);
      for (int x = 0; x < work_.width; ++x) {
        m[x] = cv::Point2f(static_cast<float>(x) + f[x].x, static_cast<float>(y) + f[x].y);
      }
    }
    cv::remap(to_keyframe_, chained_, step_, cv::noArray(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::add(chained_, to_last_, to_keyframe_);

    // The same at full size, and the keyframe's plane moved by it.
    const cv::Size full(width_, height_);
    cv::resize(to_keyframe_, full_flow_, full, 0, 0, cv::INTER_LINEAR);
    const float sx = static_cast<float>(width_) / static_cast<float>(work_.width);
    const float sy = static_cast<float>(height_) / static_cast<float>(work_.height);
    map_.create(full, CV_32FC2);
    for (int y = 0; y < height_; ++y) {
      const auto* f = full_flow_.ptr<cv::Point2f>(y);
      auto* m = map_.ptr<cv::Point2f>(y);
      for (int x = 0; x < width_; ++x) {
        m[x] =
            cv::Point2f(static_cast<float>(x) + f[x].x * sx, static_cast<float>(y) + f[x].y * sy);
      }
    }
    cv::Mat depth(full, CV_8U, plane);
    cv::remap(keyframe_, depth, map_, cv::noArray(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
  }

  int32_t width_;
  int32_t height_;
  cv::Size work_;
  cv::Ptr<cv::DISOpticalFlow> flow_;
  bool has_last_ = false;
  cv::Mat keyframe_;     // CV_8U at full size: the depth the model made last
  cv::Mat to_keyframe_;  // CV_32FC2 at the working size: where each pixel was at the keyframe
  cv::Mat full_grey_, grey_, last_, to_last_, step_, chained_, full_flow_, map_;
};
}  // namespace

struct ModelDepth::State {
  ModelChoice choice;
  int32_t width = 0;
  int32_t height = 0;
  cv::dnn::Net net;
  cv::Size input;
  Keyframes keyframes{1};
  SceneCuts cuts;
  std::unique_ptr<DepthCarry> carry = std::make_unique<HoldDepth>();
  double low = 0.0;
  double high = 1.0;
  bool scaled = false;  // low and high hold an earlier keyframe's scale
  int64_t runs = 0;
  cv::Mat blob;
  cv::Mat small;
  cv::Mat depth;  // the model's output, bottom row first
  cv::Mat values;

  // The model's output for `picture`, bottom row first; false with the reason when the
  // output is not a depth map.
  bool Run(const cv::Mat& picture, std::string& failure);
  // The output's levels at the picture's size, into `plane`.
  void Refine(const cv::Mat& picture, uint8_t* plane);
};

bool ModelDepth::State::Run(const cv::Mat& picture, std::string& failure) {
  cv::resize(picture, small, input, 0, 0, cv::INTER_AREA);
  const int sizes[] = {1, 3, input.height, input.width};
  blob.create(4, sizes, CV_32F);
  const size_t plane = static_cast<size_t>(input.area());
  auto* out = blob.ptr<float>();
  float scale[3];
  float offset[3];
  for (int c = 0; c < 3; ++c) {
    scale[c] = 1.0f / (255.0f * choice.deviation[static_cast<size_t>(c)]);
    offset[c] = -choice.mean[static_cast<size_t>(c)] / choice.deviation[static_cast<size_t>(c)];
  }
  // The model wants RGB planes, top row first.
  for (int y = 0; y < input.height; ++y) {
    const auto* row = small.ptr<uint8_t>(input.height - 1 - y);
    const size_t at = static_cast<size_t>(y) * static_cast<size_t>(input.width);
    for (int x = 0; x < input.width; ++x) {
      const uint8_t* p = row + 4 * x;
      out[at + static_cast<size_t>(x)] = p[2] * scale[0] + offset[0];
      out[plane + at + static_cast<size_t>(x)] = p[1] * scale[1] + offset[1];
      out[2 * plane + at + static_cast<size_t>(x)] = p[0] * scale[2] + offset[2];
    }
  }
  cv::Mat result;
  try {
    net.setInput(blob);
    result = net.forward();
  } catch (const cv::Exception& e) {
    failure = "it fails on a picture (" + Reason(e) + ")";
    return false;
  }
  ++runs;
  const int dims = result.dims;
  bool usable = result.type() == CV_32F && (dims == 2 || dims == 3 || dims == 4);
  for (int k = 0; usable && k + 2 < dims; ++k) usable = result.size[k] == 1;
  if (!usable || result.size[dims - 1] < 2 || result.size[dims - 2] < 2) {
    failure = "its output is not a depth map (1 x height x width)";
    return false;
  }
  const cv::Mat top_first(result.size[dims - 2], result.size[dims - 1], CV_32F,
                          result.ptr<float>());
  cv::flip(top_first, depth, 0);
  if (!cv::checkRange(depth)) {
    failure = "its output has values that are not numbers";
    return false;
  }
  return true;
}

void ModelDepth::State::Refine(const cv::Mat& picture, uint8_t* plane) {
  // The scale from this keyframe's percentiles, blended with the scale before it.
  values = depth.reshape(1, 1).clone();
  float* v = values.ptr<float>();
  const auto count = static_cast<std::ptrdiff_t>(values.total());
  const auto at = [&](double fraction) {
    const std::ptrdiff_t k = std::clamp<std::ptrdiff_t>(
        static_cast<std::ptrdiff_t>(fraction * static_cast<double>(count - 1)), 0, count - 1);
    std::nth_element(v, v + k, v + count);
    return static_cast<double>(v[k]);
  };
  const double now_low = at(kLowPercentile);
  const double now_high = at(kHighPercentile);
  low = scaled ? low + kScaleFollow * (now_low - low) : now_low;
  high = scaled ? high + kScaleFollow * (now_high - high) : now_high;
  scaled = true;
  const double span = std::max(high - low, 1e-6);
  cv::Mat p;
  if (choice.invert) {
    depth.convertTo(p, CV_32F, -1.0 / span, high / span);
  } else {
    depth.convertTo(p, CV_32F, 1.0 / span, -low / span);
  }
  cv::min(cv::max(p, 0.0), 1.0, p);

  // The guided filter's coefficients where the depth is, with the picture's luma there.
  cv::Mat grey;
  cv::cvtColor(picture, grey, cv::COLOR_BGRA2GRAY);
  cv::Mat guide_small;
  cv::resize(grey, guide_small, p.size(), 0, 0, cv::INTER_AREA);
  guide_small.convertTo(guide_small, CV_32F, 1.0 / 255.0);
  const int radius = std::max(2, static_cast<int>(std::lround(kRadiusPer100 * p.cols / 100.0)));
  const cv::Size window(2 * radius + 1, 2 * radius + 1);
  cv::Mat mean_i;
  cv::Mat mean_p;
  cv::Mat mean_ip;
  cv::Mat mean_ii;
  cv::boxFilter(guide_small, mean_i, CV_32F, window);
  cv::boxFilter(p, mean_p, CV_32F, window);
  cv::boxFilter(guide_small.mul(p), mean_ip, CV_32F, window);
  cv::boxFilter(guide_small.mul(guide_small), mean_ii, CV_32F, window);
  cv::Mat a = (mean_ip - mean_i.mul(mean_p)) / (mean_ii - mean_i.mul(mean_i) + kEpsilon);
  cv::Mat b = mean_p - a.mul(mean_i);
  cv::boxFilter(a, a, CV_32F, window);
  cv::boxFilter(b, b, CV_32F, window);

  // Applied at the picture's size: depth edges land on the picture's edges.
  const cv::Size full(width, height);
  cv::Mat a_full;
  cv::Mat b_full;
  cv::resize(a, a_full, full, 0, 0, cv::INTER_LINEAR);
  cv::resize(b, b_full, full, 0, 0, cv::INTER_LINEAR);
  cv::Mat guide;
  grey.convertTo(guide, CV_32F, 1.0 / 255.0);
  cv::Mat q = a_full.mul(guide) + b_full;
  cv::Mat out(height, width, CV_8U, plane);
  q.convertTo(out, CV_8U, 255.0);
}

ModelDepth::ModelDepth() = default;
ModelDepth::~ModelDepth() = default;

bool ModelDepth::Available() {
  return true;
}

bool ModelDepth::Open(const ModelChoice& choice, int32_t width, int32_t height,
                      std::string& failure) {
  state_ = std::make_unique<State>();
  State& s = *state_;
  s.choice = choice;
  s.width = width;
  s.height = height;
  s.keyframes = Keyframes(choice.every);
  std::string bytes;
  if (!platform::ReadRegularFile(choice.file, bytes, kLargestModel)) {
    failure = "it cannot be read";
    return false;
  }
  NormalisedGraph graph;
  if (!NormaliseOnnxGraph(bytes, graph, failure)) return false;
  const std::vector<int64_t>& dims = graph.input_dims;
  if (dims.size() != 4 || (dims[0] != -1 && dims[0] != 1) || (dims[1] != -1 && dims[1] != 3)) {
    failure = "its input is not a picture (1 x 3 x height x width)";
    return false;
  }
  if (dims[2] > 0 && dims[3] > 0) {
    s.input = cv::Size(static_cast<int>(dims[3]), static_cast<int>(dims[2]));
  } else {
    // Any size: the picture's aspect at the size asked for, both sides multiples of 32.
    const int32_t longer = std::max(32, (choice.size + 16) / 32 * 32);
    const double aspect = static_cast<double>(std::min(width, height)) / std::max(width, height);
    const int32_t shorter =
        std::max(32, static_cast<int32_t>(std::lround(longer * aspect / 32)) * 32);
    s.input = width >= height ? cv::Size(longer, shorter) : cv::Size(shorter, longer);
  }
  try {
    s.net = cv::dnn::readNetFromONNX(graph.bytes.data(), graph.bytes.size());
  } catch (const cv::Exception& e) {
    failure = "its graph cannot be read (" + Reason(e) + ")";
    return false;
  }
  if (s.net.empty()) {
    failure = "its graph cannot be read";
    return false;
  }
  const cv::Mat grey(height, width, CV_8UC4, cv::Scalar(128, 128, 128, 0));
  if (!s.Run(grey, failure)) return false;
  s.runs = 0;
  if (s.keyframes.Every() > 1) s.carry = std::make_unique<FollowMotion>(width, height);
  return true;
}

void ModelDepth::SetCarry(std::unique_ptr<DepthCarry> carry) {
  state_->carry = std::move(carry);
}

void ModelDepth::Reset() {
  state_->keyframes.Reset();
  state_->cuts.Reset();
  state_->carry->Reset();
  state_->scaled = false;
}

void ModelDepth::Estimate(const uint32_t* picture, std::ptrdiff_t stride, uint8_t* plane) {
  State& s = *state_;
  const bool cut = s.cuts.Next(picture, stride, s.width, s.height);
  if (cut) s.scaled = false;
  if (!s.keyframes.Next(cut)) {
    s.carry->Carry(picture, stride, plane);
    return;
  }
  const cv::Mat image(s.height, s.width, CV_8UC4, const_cast<uint32_t*>(picture),
                      static_cast<size_t>(stride) * 4);
  std::string failure;
  // A model that worked on the first picture and fails on a later one keeps the depth it
  // gave last.
  if (!s.Run(image, failure)) return;
  s.Refine(image, plane);
  s.carry->Keyframe(picture, stride, plane);
}

int64_t ModelDepth::Runs() const {
  return state_ ? state_->runs : 0;
}
int32_t ModelDepth::InputWidth() const {
  return state_ ? state_->input.width : 0;
}
int32_t ModelDepth::InputHeight() const {
  return state_ ? state_->input.height : 0;
}

}  // namespace zqr
