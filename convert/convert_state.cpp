// Storage of the conversion subsystem's process-wide state.
#include "convert/convert_state.h"

#include <mutex>

namespace zqr {

ConversionState Conversion;

namespace {
std::mutex& StateLock() {
  static std::mutex lock;
  return lock;
}
EncoderJob& JobStorage() {
  static EncoderJob job;
  return job;
}
std::string& CurrentVideoStorage() {
  static std::string path;
  return path;
}
}  // namespace

void SetEncoderJob(const EncoderJob& job) {
  std::lock_guard<std::mutex> guard(StateLock());
  JobStorage() = job;
}

EncoderJob CurrentEncoderJob() {
  std::lock_guard<std::mutex> guard(StateLock());
  return JobStorage();
}

void SetCurrentVideo(const std::string& path) {
  std::lock_guard<std::mutex> guard(StateLock());
  CurrentVideoStorage() = path;
}

std::string CurrentVideo() {
  std::lock_guard<std::mutex> guard(StateLock());
  return CurrentVideoStorage();
}

}  // namespace zqr
