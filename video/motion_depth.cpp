// The depth found in the video, on OpenCV. All the measuring happens on a grey copy about
// 480 pixels wide: dense flow (DIS) both ways between the last frame and this one, the
// camera's motion fitted to the flow as a similarity (shift, turn, zoom) by RANSAC, and what
// the fit leaves unexplained taken as parallax, larger for nearer surfaces. A similarity and
// not a homography: a homography also absorbs the parallax of a plane such as the ground,
// which is the depth wanted here. The parallax is trusted where the picture has texture and
// the two flows agree, and only in frames where the camera's motion shows parallax at all;
// the depth carried along the flow from earlier frames and the layout prior fill the rest.
// The result is refined with a guided filter at the reduced size, whose linear model is then
// applied to the picture at twice that size (the filter's own edge-aware upsampling) before
// a plain scaling to full size: depth edges follow the picture's to a pixel or two at a
// fraction of a full-size filter's cost.
#include "video/motion_depth.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>
#include <vector>

#include "frames/depth_prior.h"

namespace zqr {

namespace {
constexpr int32_t kWorkWidth = 480;
// Smaller than this the flow has too few patches to say anything: the prior serves.
constexpr int32_t kMinWorkSide = 32;
// Parallax (pixels at the working size) a frame must show before its motion counts, and the
// amount at which it counts fully: below, flow noise and a pan's lens distortion dominate.
constexpr float kParallaxFloor = 0.35f;
constexpr float kParallaxFull = 1.2f;
// Forward-backward disagreement (pixels) at which a flow vector keeps half its weight.
constexpr float kConsistency = 0.6f;
// Mean gradient (grey levels a pixel) at which a patch counts as fully textured, over a
// window as wide as the flow's patches at their finest scale (8 pixels there, 32 here): a
// flat inside of a textured outline moves with it, and its flow is as good.
constexpr float kTexture = 4.0f;
constexpr int kTextureWindow = 25;
// The carried depth's weight left after one frame, the most it can gather, and the prior's
// constant pull.
constexpr float kCarry = 0.95f;
constexpr float kMaxWeight = 8.0f;
constexpr float kPriorWeight = 0.02f;
// How much of the layout prior stays in the depth the parallax gives.
constexpr float kPriorInMotion = 0.3f;
// Time constants (fraction of the new value each frame) of the parallax scale and of the
// output's range.
constexpr float kScaleRate = 0.1f;
constexpr float kRangeRate = 0.08f;
// The smallest output range (of 0..1) stretched to the full levels: a depth nearly flat is
// not blown up into strong relief.
constexpr float kMinRange = 0.25f;
// Halves of the histograms of two frames that differ for a scene cut, and the least share of
// textured pixels whose flow must agree both ways for two frames to be one shot.
constexpr float kCutHistogram = 0.3f;
constexpr float kCutAgreement = 0.12f;
constexpr int kHistogramBins = 32;
// The guided filter's radius (working pixels) and regularisation (on 0..1 grey): large
// enough that the picture's fine texture is not printed into the depth.
constexpr int kGuideRadius = 8;
constexpr float kGuideEpsilon = 1.5e-3f;
// Grid step (working pixels) of the points the camera's motion is fitted to, how far
// (working pixels) a point may lie off the fit and still support it, and the share of a new
// fit's support the surface followed so far needs to keep being followed.
constexpr int kFitStep = 8;
constexpr double kFitTolerance = 0.4;
constexpr float kKeepSurface = 0.7f;
}  // namespace

struct MotionDepth::State {
  int32_t width = 0;
  int32_t height = 0;
  cv::Size work;
  bool usable = false;
  cv::Ptr<cv::DISOpticalFlow> flow;
  cv::Mat grey;       // CV_8U, this frame at the working size
  cv::Mat grey_last;  // the frame before
  std::array<float, kHistogramBins> histogram{};
  std::array<float, kHistogramBins> histogram_last{};
  bool has_last = false;
  cv::Mat depth;   // CV_32F 0..1, nearer larger: the fused depth carried from frame to frame
  cv::Mat weight;  // CV_32F: how much the carried depth has seen
  cv::Mat prior;   // CV_32F 0..1
  float parallax_scale = 0.0f;
  float low = 0.0f;
  float high = 1.0f;
  bool has_range = false;
  // The picture's grey at full size and at the size the depth gets its edges (twice the
  // working size at most), and the depth there.
  cv::Size fine;
  cv::Mat grey_full, grey_fine, level_fine;
  // Scratch of the working size, kept so that no frame allocates.
  cv::Mat to_last, to_this, map, back, texture, gx, gy, carried_depth, carried_weight, observed,
      confidence, guide, a, b, scratch[6], a_rows, b_rows;
  std::vector<cv::Point2f> fit_from, fit_to;
  std::vector<int> supporters, scratch_points;
  cv::Mat camera_last;  // the camera's motion found between the last two frames
  std::vector<float> levels;
};

MotionDepth::MotionDepth() : state_(std::make_unique<State>()) {}
MotionDepth::~MotionDepth() = default;

bool MotionDepth::Available() {
  return true;
}

std::string MotionDepth::SourceText() {
  return "the depth found in the video (motion parallax, with lower in the picture nearer "
         "where the motion says nothing)";
}

namespace {

// The layout prior at the working size, stored bottom row first: a ground plane seen from
// eye height (nearness falling linearly from the bottom row to a horizon a third of the way
// down, slowly above it), a little nearer towards the middle, where subjects stand.
void FillLayoutPrior(cv::Mat& prior) {
  const int rows = prior.rows;
  const int cols = prior.cols;
  constexpr float kHorizon = 0.65f;  // of the height, from the bottom
  constexpr float kAtHorizon = 0.3f;
  for (int y = 0; y < rows; ++y) {
    const float up = rows > 1 ? static_cast<float>(y) / static_cast<float>(rows - 1) : 0.5f;
    const float vertical = up < kHorizon ? 1.0f - (1.0f - kAtHorizon) * up / kHorizon
                                         : kAtHorizon * (1.0f - up) / (1.0f - kHorizon);
    auto* row = prior.ptr<float>(y);
    for (int x = 0; x < cols; ++x) {
      const float across = cols > 1 ? 2.0f * static_cast<float>(x) / (cols - 1) - 1.0f : 0.0f;
      row[x] = vertical * (0.85f + 0.15f * (1.0f - across * across));
    }
  }
}

void Histogram(const cv::Mat& grey, std::array<float, kHistogramBins>& out) {
  out.fill(0.0f);
  for (int y = 0; y < grey.rows; ++y) {
    const uint8_t* row = grey.ptr<uint8_t>(y);
    for (int x = 0; x < grey.cols; ++x) out[row[x] * kHistogramBins / 256] += 1.0f;
  }
  const float total = static_cast<float>(grey.total());
  for (float& bin : out) bin /= total;
}

// The value below which `share` of the values lie.
float Percentile(std::vector<float>& values, float share) {
  if (values.empty()) return 0.0f;
  const auto at = static_cast<size_t>(share * static_cast<float>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
  return values[at];
}

// The guided filter's linear model of `source` in `guide` (both CV_32F): source ≈ a·guide + b
// in every window, averaged, so a·guide + b is the source with its edges moved onto the
// guide's.
void GuidedModel(const cv::Mat& guide, const cv::Mat& source, cv::Mat& a, cv::Mat& b,
                 cv::Mat (&t)[6]) {
  const cv::Size window(2 * kGuideRadius + 1, 2 * kGuideRadius + 1);
  const auto mean = [&](const cv::Mat& in, cv::Mat& out) {
    cv::boxFilter(in, out, CV_32F, window, cv::Point(-1, -1), true, cv::BORDER_REFLECT);
  };
  cv::Mat& mean_i = t[0];
  cv::Mat& mean_p = t[1];
  cv::Mat& corr_ip = t[2];
  cv::Mat& var_i = t[3];
  mean(guide, mean_i);
  mean(source, mean_p);
  cv::multiply(guide, source, t[4]);
  mean(t[4], corr_ip);
  cv::multiply(guide, guide, t[4]);
  mean(t[4], var_i);
  t[5].create(guide.size(), CV_32F);
  // a = cov(I, p) / (var(I) + eps), b = mean(p) - a mean(I)
  for (int y = 0; y < guide.rows; ++y) {
    const float* mi = mean_i.ptr<float>(y);
    const float* mp = mean_p.ptr<float>(y);
    const float* ip = corr_ip.ptr<float>(y);
    const float* ii = var_i.ptr<float>(y);
    float* ra = t[4].ptr<float>(y);
    float* rb = t[5].ptr<float>(y);
    for (int x = 0; x < guide.cols; ++x) {
      const float cov = ip[x] - mi[x] * mp[x];
      const float var = ii[x] - mi[x] * mi[x];
      ra[x] = cov / (var + kGuideEpsilon);
      rb[x] = mp[x] - ra[x] * mi[x];
    }
  }
  mean(t[4], a);
  mean(t[5], b);
}

// How many points `model` (a 2x3 CV_64F similarity) takes within kFitTolerance of where the
// flow put them; their indices in `who`.
int Supporters(const cv::Mat& model, const std::vector<cv::Point2f>& from,
               const std::vector<cv::Point2f>& to, std::vector<int>& who) {
  const auto* c = model.ptr<double>(0);
  who.clear();
  for (size_t i = 0; i < from.size(); ++i) {
    const cv::Point2d f = from[i];
    const cv::Point2d t = to[i];
    const double dx = c[0] * f.x + c[1] * f.y + c[2] - t.x;
    const double dy = c[3] * f.x + c[4] * f.y + c[5] - t.y;
    if (dx * dx + dy * dy <= kFitTolerance * kFitTolerance) who.push_back(static_cast<int>(i));
  }
  return static_cast<int>(who.size());
}

// The least-squares similarity (scale and turn a, b; shift tx, ty) taking the chosen points
// of `from` to theirs in `to`; empty when they are too few.
cv::Mat SimilarityFit(const std::vector<cv::Point2f>& from, const std::vector<cv::Point2f>& to,
                      const std::vector<int>& who) {
  if (who.size() < 3) return {};
  double fx = 0, fy = 0, tx = 0, ty = 0;
  for (const int i : who) {
    const cv::Point2d f = from[i];
    const cv::Point2d t = to[i];
    fx += f.x;
    fy += f.y;
    tx += t.x;
    ty += t.y;
  }
  const auto n = static_cast<double>(who.size());
  fx /= n;
  fy /= n;
  tx /= n;
  ty /= n;
  double along = 0, across = 0, spread = 0;
  for (const int i : who) {
    const cv::Point2d f = from[i];
    const cv::Point2d t = to[i];
    const double x = f.x - fx, y = f.y - fy;
    const double u = t.x - tx, v = t.y - ty;
    along += x * u + y * v;
    across += x * v - y * u;
    spread += x * x + y * y;
  }
  if (spread <= 0) return {};
  const double a = along / spread;
  const double b = across / spread;
  cv::Mat model(2, 3, CV_64F);
  auto* c = model.ptr<double>(0);
  c[0] = a;
  c[1] = -b;
  c[2] = tx - (a * fx - b * fy);
  c[3] = b;
  c[4] = a;
  c[5] = ty - (b * fx + a * fy);
  return model;
}

}  // namespace

void MotionDepth::Open(int32_t width, int32_t height) {
  State& s = *state_;
  s.width = width;
  s.height = height;
  const int32_t work_width = std::min(width, kWorkWidth);
  const int32_t work_height =
      std::max<int32_t>(1, static_cast<int32_t>(std::lround(static_cast<double>(height) *
                                                            work_width / std::max(width, 1))));
  s.work = cv::Size(std::max(work_width, 1), work_height);
  const int32_t fine_width = std::min(width, 2 * s.work.width);
  s.fine =
      fine_width == width
          ? cv::Size(width, height)
          : cv::Size(fine_width,
                     std::max<int32_t>(1, static_cast<int32_t>(std::lround(
                                              static_cast<double>(height) * fine_width / width))));
  s.usable = s.work.width >= kMinWorkSide && s.work.height >= kMinWorkSide;
  s.prior.create(s.work, CV_32F);
  FillLayoutPrior(s.prior);
  if (s.usable && s.flow.empty()) {
    s.flow = cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_ULTRAFAST);
  }
  Reset();
}

void MotionDepth::Reset() {
  State& s = *state_;
  s.has_last = false;
  s.has_range = false;
  s.parallax_scale = 0.0f;
  s.camera_last.release();
  s.prior.copyTo(s.depth);
  s.weight = cv::Mat::zeros(s.work, CV_32F);
}

void MotionDepth::Estimate(const uint32_t* picture, std::ptrdiff_t stride, uint8_t* plane) {
  if (state_->width < 1 || state_->height < 1) return;
  try {
    Measure(picture, stride, plane);
  } catch (const cv::Exception&) {
    // A frame OpenCV cannot take (out of memory, say) gets the prior, and the next starts
    // afresh rather than from a half-updated state.
    frames::FillVerticalDepthPrior(plane, state_->width, state_->width, state_->height);
    Reset();
  }
}

void MotionDepth::Measure(const uint32_t* picture, std::ptrdiff_t stride, uint8_t* plane) {
  State& s = *state_;
  const cv::Mat full(s.height, s.width, CV_8UC4, const_cast<uint32_t*>(picture),
                     static_cast<size_t>(stride) * 4);
  cv::cvtColor(full, s.grey_full, cv::COLOR_BGRA2GRAY);
  if (s.fine == s.grey_full.size()) {
    s.grey_fine = s.grey_full;
  } else {
    cv::resize(s.grey_full, s.grey_fine, s.fine, 0, 0, cv::INTER_AREA);
  }
  cv::resize(s.grey_fine, s.grey, s.work, 0, 0, cv::INTER_AREA);
  Histogram(s.grey, s.histogram);

  bool cut = !s.has_last;
  if (!cut) {
    float moved = 0.0f;
    for (int k = 0; k < kHistogramBins; ++k)
      moved += std::abs(s.histogram[k] - s.histogram_last[k]);
    cut = 0.5f * moved > kCutHistogram;
  }
  if (cut && s.has_last) Reset();

  const int cols = s.work.width;
  const int rows = s.work.height;
  if (s.usable && s.has_last) {
    // Where each pixel of this frame was in the last, and the way back.
    s.flow->calc(s.grey, s.grey_last, s.to_last);
    s.flow->calc(s.grey_last, s.grey, s.to_this);
    s.map.create(s.work, CV_32FC2);
    for (int y = 0; y < rows; ++y) {
      const auto* f = s.to_last.ptr<cv::Point2f>(y);
      auto* m = s.map.ptr<cv::Point2f>(y);
      for (int x = 0; x < cols; ++x) m[x] = cv::Point2f(x + f[x].x, y + f[x].y);
    }
    cv::remap(s.to_this, s.back, s.map, cv::noArray(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::remap(s.depth, s.carried_depth, s.map, cv::noArray(), cv::INTER_LINEAR,
              cv::BORDER_REPLICATE);
    cv::remap(s.weight, s.carried_weight, s.map, cv::noArray(), cv::INTER_LINEAR,
              cv::BORDER_CONSTANT, cv::Scalar(0));
    cv::Sobel(s.grey, s.gx, CV_32F, 1, 0, 3, 0.25);
    cv::Sobel(s.grey, s.gy, CV_32F, 0, 1, 3, 0.25);
    cv::magnitude(s.gx, s.gy, s.texture);
    cv::blur(s.texture, s.texture, cv::Size(kTextureWindow, kTextureWindow));

    // Each pixel's agreement (0..1) kept in `confidence`, its texture in `texture`.
    s.confidence.create(s.work, CV_32F);
    s.fit_from.clear();
    s.fit_to.clear();
    float textured = 0.0f;
    float agreed = 0.0f;
    for (int y = 0; y < rows; ++y) {
      const auto* f = s.to_last.ptr<cv::Point2f>(y);
      const auto* m = s.map.ptr<cv::Point2f>(y);
      const auto* back = s.back.ptr<cv::Point2f>(y);
      float* tex = s.texture.ptr<float>(y);
      float* agree = s.confidence.ptr<float>(y);
      for (int x = 0; x < cols; ++x) {
        const bool inside = m[x].x >= 0 && m[x].y >= 0 && m[x].x <= cols - 1 && m[x].y <= rows - 1;
        const float dx = (f[x].x + back[x].x) / kConsistency;
        const float dy = (f[x].y + back[x].y) / kConsistency;
        agree[x] = inside ? 1.0f / (1.0f + dx * dx + dy * dy) : 0.0f;
        tex[x] = std::min(1.0f, tex[x] / kTexture);
        textured += tex[x];
        agreed += tex[x] * agree[x];
        if (y % kFitStep == kFitStep / 2 && x % kFitStep == kFitStep / 2 && tex[x] > 0.5f &&
            agree[x] > 0.5f) {
          s.fit_from.emplace_back(static_cast<float>(x), static_cast<float>(y));
          s.fit_to.push_back(m[x]);
        }
      }
    }
    if (textured > 0.05f * static_cast<float>(cols * rows) && agreed < kCutAgreement * textured) {
      // Nothing of the last frame is found in this one: another shot.
      cut = true;
      Reset();
    }
    cv::Mat camera;
    if (!cut && s.fit_from.size() >= 12) {
      camera = cv::estimateAffinePartial2D(s.fit_from, s.fit_to, cv::noArray(), cv::RANSAC,
                                           kFitTolerance, 500, 0.99, 10);
      // Two surfaces of similar size can each win a frame's fit; the camera's motion changes
      // smoothly, so the surface followed so far is kept unless another clearly has more.
      if (!s.camera_last.empty() &&
          (camera.empty() ||
           Supporters(s.camera_last, s.fit_from, s.fit_to, s.supporters) >=
               kKeepSurface * static_cast<float>(
                                  Supporters(camera, s.fit_from, s.fit_to, s.scratch_points)))) {
        Supporters(s.camera_last, s.fit_from, s.fit_to, s.supporters);
        cv::Mat refit = SimilarityFit(s.fit_from, s.fit_to, s.supporters);
        if (!refit.empty()) camera = refit;
      }
    }
    s.camera_last = camera;
    float motion = 0.0f;
    s.observed.create(s.work, CV_32F);
    if (!camera.empty()) {
      const auto* c = camera.ptr<double>(0);
      const auto m00 = static_cast<float>(c[0]), m01 = static_cast<float>(c[1]),
                 m02 = static_cast<float>(c[2]), m10 = static_cast<float>(c[3]),
                 m11 = static_cast<float>(c[4]), m12 = static_cast<float>(c[5]);
      s.levels.clear();
      for (int y = 0; y < rows; ++y) {
        const auto* m = s.map.ptr<cv::Point2f>(y);
        const float* tex = s.texture.ptr<float>(y);
        const float* agree = s.confidence.ptr<float>(y);
        float* parallax = s.observed.ptr<float>(y);
        for (int x = 0; x < cols; ++x) {
          const float rx = m[x].x - (m00 * x + m01 * y + m02);
          const float ry = m[x].y - (m10 * x + m11 * y + m12);
          parallax[x] = std::sqrt(rx * rx + ry * ry);
          if (tex[x] * agree[x] > 0.5f && (x + y) % 3 == 0) s.levels.push_back(parallax[x]);
        }
      }
      if (s.levels.size() > 50) {
        const float strong = Percentile(s.levels, 0.95f);
        motion =
            std::clamp((strong - kParallaxFloor) / (kParallaxFull - kParallaxFloor), 0.0f, 1.0f);
        if (motion > 0.0f) {
          s.parallax_scale = s.parallax_scale > 0.0f
                                 ? s.parallax_scale + kScaleRate * (strong - s.parallax_scale)
                                 : strong;
        }
      }
    }
    // The carried depth, the new parallax where it is trusted, and the prior's pull.
    for (int y = 0; y < rows && !cut; ++y) {
      const float* tex = s.texture.ptr<float>(y);
      const float* agree = s.confidence.ptr<float>(y);
      const float* parallax = s.observed.ptr<float>(y);
      const float* carried = s.carried_depth.ptr<float>(y);
      const float* carried_weight = s.carried_weight.ptr<float>(y);
      const float* prior = s.prior.ptr<float>(y);
      float* depth = s.depth.ptr<float>(y);
      float* weight = s.weight.ptr<float>(y);
      for (int x = 0; x < cols; ++x) {
        const float kept = carried_weight[x] * agree[x] * kCarry;
        float seen = 0.0f;
        float near = 0.0f;
        if (motion > 0.0f) {
          seen = motion * tex[x] * agree[x];
          near = (1.0f - kPriorInMotion) * std::min(1.0f, parallax[x] / s.parallax_scale) +
                 kPriorInMotion * prior[x];
        }
        depth[x] = (kept * carried[x] + seen * near + kPriorWeight * prior[x]) /
                   (kept + seen + kPriorWeight);
        weight[x] = std::min(kMaxWeight, kept + seen);
      }
    }
  }
  cv::swap(s.grey, s.grey_last);
  s.histogram_last = s.histogram;
  s.has_last = true;

  // Edges onto the picture's at the working size, then the model at the finer size.
  s.grey_last.convertTo(s.guide, CV_32F, 1.0 / 255.0);
  GuidedModel(s.guide, s.depth, s.a, s.b, s.scratch);
  s.levels.clear();
  for (int y = 0; y < rows; y += 2) {
    const float* g = s.guide.ptr<float>(y);
    const float* a = s.a.ptr<float>(y);
    const float* b = s.b.ptr<float>(y);
    for (int x = 0; x < cols; x += 2) s.levels.push_back(a[x] * g[x] + b[x]);
  }
  float low = Percentile(s.levels, 0.01f);
  float high = Percentile(s.levels, 0.99f);
  if (s.has_range) {
    low = s.low + kRangeRate * (low - s.low);
    high = s.high + kRangeRate * (high - s.high);
  }
  s.low = low;
  s.high = high;
  s.has_range = true;
  const float range = std::max(high - low, kMinRange);
  const float centre = 0.5f * (low + high);
  // Level = 255 (a·grey + b − bottom) / range, with grey the picture's luma over 255.
  const float bottom = std::clamp(centre - 0.5f * range, -1.0f, 1.0f);
  const float to_level = 255.0f / range;
  s.a.convertTo(s.scratch[0], CV_32F, to_level / 255.0f);
  s.b.convertTo(s.scratch[1], CV_32F, to_level, -bottom * to_level);
  cv::resize(s.scratch[0], s.a_rows, s.fine, 0, 0, cv::INTER_LINEAR);
  cv::resize(s.scratch[1], s.b_rows, s.fine, 0, 0, cv::INTER_LINEAR);
  s.grey_fine.convertTo(s.scratch[2], CV_32F);
  cv::multiply(s.a_rows, s.scratch[2], s.scratch[3]);
  cv::add(s.scratch[3], s.b_rows, s.scratch[3]);
  cv::Mat out(s.height, s.width, CV_8U, plane);
  if (s.fine == out.size()) {
    s.scratch[3].convertTo(out, CV_8U);
  } else {
    s.scratch[3].convertTo(s.level_fine, CV_8U);
    cv::resize(s.level_fine, out, out.size(), 0, 0, cv::INTER_LINEAR);
  }
}

}  // namespace zqr
