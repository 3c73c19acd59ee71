// Frame files. A file is written with three block writes (file header, information
// header, pixels) and no conversion of the pixels.
#include "frames/frame_file.h"

#include "frames/crop.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

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
  return folder + "/temp" + digits + ".bmp";
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
                       const uint32_t* pixels) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const std::array<uint8_t, 54> headers = FrameFileHeaders(width, height);
  const size_t pixel_bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
  bool ok = std::fwrite(headers.data(), 1, 14, file) == 14;
  ok = ok && std::fwrite(headers.data() + 14, 1, 40, file) == 40;
  ok = ok && (pixel_bytes == 0 || std::fwrite(pixels, 1, pixel_bytes, file) == pixel_bytes);
  ok = (std::fclose(file) == 0) && ok;
  return ok;
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

void FrameFileWriter::Submit(std::string path, const uint32_t* pixels, int32_t width,
                             int32_t height, int32_t stride) {
  const size_t count =
      static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0));
  FrameFileBuffer buffer = TakeBuffer(count);
  if (count > 0) CropFrame(pixels, stride, buffer.data(), width, height);
  Queue(std::move(path), std::move(buffer), width, height);
}

FrameFileBuffer FrameFileWriter::TakeBuffer(size_t count) {
  const int32_t bound = BoundFor(count * 4);
  FrameFileBuffer buffer;
  {
    std::unique_lock lock(mutex_);
    if (in_flight_ >= bound) {
      ++stats_.waits;
      changed_.wait(lock, [&] { return in_flight_ < bound; });
    }
    ++in_flight_;
    ++stats_.submitted;
    stats_.peak_in_flight = std::max(stats_.peak_in_flight, in_flight_);
    if (!spare_.empty()) {
      buffer = std::move(spare_.back());
      spare_.pop_back();
    } else {
      ++stats_.buffers;
    }
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  }
  // The caller fills the buffer outside the lock, so the writer thread is never held up.
  buffer.resize(count);
  return buffer;
}

void FrameFileWriter::Queue(std::string path, FrameFileBuffer pixels, int32_t width,
                            int32_t height) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(Job{std::move(path), std::move(pixels), width, height});
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
    const bool ok = options_.write(job.path, job.width, job.height, job.pixels.data());
    lock.lock();
    ++(ok ? stats_.written : stats_.failed);
    --in_flight_;
    // Keep the buffer for the next frame unless the bound for this size is already held.
    if (static_cast<int32_t>(spare_.size()) + in_flight_ < BoundFor(job.pixels.size() * 4)) {
      spare_.push_back(std::move(job.pixels));
    } else {
      --stats_.buffers;
    }
    changed_.notify_all();
  }
}

}  // namespace zqr::frames
