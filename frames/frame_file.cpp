// Frame files. A file is written with one gathered write of the headers and the rows,
// straight from the frame (cropped or not), with no conversion of the pixels.
#include "frames/frame_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "frames/crop.h"
#include "platform/files.h"
#include "platform/system.h"

namespace zqr::frames {

namespace {
void Put16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}
void Put32(uint8_t* at, uint32_t value) {
  for (int k = 0; k < 4; ++k) at[k] = static_cast<uint8_t>(value >> (8 * k));
}
}  // namespace

std::string FrameFileName(const std::string& folder, int32_t number) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%06d", number);
  return folder + platform::kPathSeparator + "temp" + digits + ".bmp";
}

std::string_view FrameFileDigits(std::string_view name) {
  constexpr std::string_view kHead = "temp", kTail = ".bmp";
  if (name.size() < kHead.size() + 6 + kTail.size()) return {};
  if (!name.starts_with(kHead) || !name.ends_with(kTail)) return {};
  std::string_view digits = name.substr(kHead.size(), name.size() - kHead.size() - kTail.size());
  return digits.find_first_not_of("0123456789") == std::string_view::npos ? digits
                                                                          : std::string_view();
}

int32_t FrameFileNumber(std::string_view path) {
  const size_t slash = path.find_last_of(platform::kPathSeparators);
  const std::string_view digits =
      FrameFileDigits(slash == std::string_view::npos ? path : path.substr(slash + 1));
  if (digits.empty()) return -1;
  int64_t number = 0;
  for (const char c : digits) {
    number = number * 10 + (c - '0');
    if (number > INT32_MAX) return -1;
  }
  return static_cast<int32_t>(number);
}

int64_t FrameFileSize(int32_t width, int32_t height) {
  return 54 + 4 * int64_t{width} * height;
}

std::array<uint8_t, 54> FrameFileHeaders(int32_t width, int32_t height) {
  std::array<uint8_t, 54> h{};
  h[0] = 'B';
  h[1] = 'M';
  Put32(&h[2], static_cast<uint32_t>(FrameFileSize(width, height)));
  Put32(&h[10], 54);
  Put32(&h[14], 40);
  Put32(&h[18], static_cast<uint32_t>(width));
  Put32(&h[22], static_cast<uint32_t>(height));
  Put16(&h[26], 1);
  Put16(&h[28], 32);
  return h;  // compression, image size, resolutions and colour counts stay 0
}

bool WriteFrameFileNow(const std::string& path, int32_t width, int32_t height,
                       const uint32_t* pixels, int32_t stride) {
  const std::array<uint8_t, 54> headers = FrameFileHeaders(width, height);
  const size_t row_bytes = static_cast<size_t>(std::max(width, 0)) * 4;
  const size_t rows = static_cast<size_t>(std::max(height, 0));
  std::vector<platform::FilePiece> pieces;
  pieces.push_back({headers.data(), headers.size()});
  if (stride == width) {
    pieces.push_back({pixels, row_bytes * rows});
  } else {
    pieces.reserve(rows + 1);
    for (size_t y = 0; y < rows; ++y) {
      pieces.push_back({pixels + y * static_cast<size_t>(stride), row_bytes});
    }
  }
  return platform::WriteFilePiecesUncached(path, pieces);
}

FrameFileWriter::FrameFileWriter() : FrameFileWriter(Options{}) {}

FrameFileWriter::FrameFileWriter(Options options) : options_(std::move(options)) {
  if (options_.max_in_flight < 1) options_.max_in_flight = 1;
  if (!options_.write) options_.write = WriteFrameFileNow;
}

FrameFileWriter::~FrameFileWriter() {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return in_flight_ == 0; });
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

int32_t FrameFileWriter::BoundFor(size_t frame_bytes) const {
  const size_t fit =
      frame_bytes == 0 ? options_.memory_budget : options_.memory_budget / frame_bytes;
  return static_cast<int32_t>(
      std::clamp<size_t>(fit, 1, static_cast<size_t>(options_.max_in_flight)));
}

void FrameFileWriter::EnterFlight(std::unique_lock<std::mutex>& lock, size_t frame_bytes) {
  const int32_t bound = BoundFor(frame_bytes);
  if (in_flight_ >= bound) {
    ++stats_.waits;
    changed_.wait(lock, [&] { return in_flight_ < bound; });
  }
  ++in_flight_;
  stats_.peak_in_flight = std::max(stats_.peak_in_flight, in_flight_);
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void FrameFileWriter::KeepOrDrop(FrameArray frame, size_t frame_bytes) {
  if (frame.empty()) return;
  if (static_cast<int32_t>(spare_.size()) + in_flight_ < BoundFor(frame_bytes)) {
    spare_.push_back(std::move(frame));
    ++stats_.buffers;
  }
}

void FrameFileWriter::Submit(std::string path, const uint32_t* pixels, int32_t width,
                             int32_t height, int32_t stride) {
  FrameArray copy = TakeFrame(width, height);
  if (copy.empty()) {
    std::lock_guard lock(mutex_);
    ++stats_.submitted;
    ++stats_.failed;
    --in_flight_;
    changed_.notify_all();
    return;
  }
  CropFrame(pixels, stride, copy.data(), width, height);
  QueueFrame(std::move(path), std::move(copy), width, height);
}

FrameArray FrameFileWriter::TakeFrame(int32_t width, int32_t rows) {
  FrameArray frame;
  {
    std::unique_lock lock(mutex_);
    EnterFlight(
        lock, static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(rows, 0)) * 4);
    // A kept frame of this shape, else a new one (kept frames of other shapes go).
    while (!spare_.empty() && frame.empty()) {
      if (spare_.back().width() == width && spare_.back().rows() == rows) {
        frame = std::move(spare_.back());
      }
      spare_.pop_back();
      --stats_.buffers;
    }
  }
  // Allocated outside the lock, so the writer thread is never held up.
  if (frame.empty()) frame.Allocate(width, rows);
  return frame;
}

void FrameFileWriter::QueueFrame(std::string path, FrameArray frame, int32_t width,
                                 int32_t height) {
  {
    std::lock_guard lock(mutex_);
    ++stats_.submitted;
    ++stats_.buffers;
    queue_.push_back(Job{std::move(path), std::move(frame), width, height});
  }
  changed_.notify_all();
}

void FrameFileWriter::ReturnFrame(FrameArray frame) {
  {
    std::lock_guard lock(mutex_);
    --in_flight_;
    const size_t bytes = frame.byte_size();
    KeepOrDrop(std::move(frame), bytes);
  }
  changed_.notify_all();
}

void FrameFileWriter::WaitAll() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return in_flight_ == 0; });
}

FrameFileWriter::Stats FrameFileWriter::stats() const {
  std::lock_guard lock(mutex_);
  return stats_;
}

void FrameFileWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, nothing left
    Job job = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    // A frame too small for the file asked of it is a failed file, never a read past it.
    const bool fits = !job.frame.empty() && job.width >= 0 && job.height >= 0 &&
                      job.width <= job.frame.width() && job.height <= job.frame.rows();
    const bool ok = fits && options_.write(job.path, job.width, job.height, job.frame.data(),
                                           job.frame.width());
    lock.lock();
    ++(ok ? stats_.written : stats_.failed);
    --in_flight_;
    --stats_.buffers;
    const size_t bytes = job.frame.byte_size();
    KeepOrDrop(std::move(job.frame), bytes);
    changed_.notify_all();
  }
}

}  // namespace zqr::frames
