// Process-wide values that one thread writes and others poll. Plain 32-bit variables in
// the original design; here each is an atomic whose stores release and whose loads
// acquire: a flag such as PlayState or EncoderRunning also hands over what its writer did
// before it (frames allocated, files written). On x86 that costs the same as a plain move,
// and it keeps the sanitizers and the optimiser honest.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace zqr {

class Shared32 {
 public:
  constexpr Shared32(int32_t value = 0) : value_(value) {}  // NOLINT(google-explicit-constructor)
  Shared32(const Shared32& other) : value_(other.load()) {}
  Shared32& operator=(const Shared32& other) {
    store(other.load());
    return *this;
  }
  Shared32& operator=(int32_t value) {
    store(value);
    return *this;
  }
  operator int32_t() const { return load(); }  // NOLINT(google-explicit-constructor)
  int32_t load() const { return value_.load(std::memory_order_acquire); }
  void store(int32_t value) { value_.store(value, std::memory_order_release); }
  int32_t fetch_add(int32_t delta) { return value_.fetch_add(delta, std::memory_order_acq_rel); }
  // Sets `desired` only when the value is `expected`; true when it did. A flag that guards
  // one owner at a time is taken this way, so two threads can never both pass.
  bool compare_exchange(int32_t expected, int32_t desired) {
    return value_.compare_exchange_strong(expected, desired, std::memory_order_acq_rel);
  }

 private:
  std::atomic<int32_t> value_;
};

// An 8-character fixed text (such as "00.00.00") packed into one atomic word, so the
// streaming thread can replace it while the window reads it, without a lock.
class SharedText8 {
 public:
  explicit SharedText8(std::string_view text = "") { Set(text); }
  void Set(std::string_view text) {
    char bytes[8] = {};
    std::memcpy(bytes, text.data(), text.size() < 8 ? text.size() : 8);
    uint64_t packed = 0;
    std::memcpy(&packed, bytes, 8);
    packed_.store(packed, std::memory_order_relaxed);
  }
  std::string Get() const {
    uint64_t packed = packed_.load(std::memory_order_relaxed);
    char bytes[8];
    std::memcpy(bytes, &packed, 8);
    return std::string(bytes, strnlen(bytes, 8));
  }

 private:
  std::atomic<uint64_t> packed_{0};
};

// A value that one thread may replace while others read it (a path, a job, the current
// graph): every access copies under a lock, and a replaced value ends outside it (ending a
// graph waits for its thread).
template <typename T>
class Guarded {
 public:
  Guarded() = default;
  Guarded(const Guarded&) = delete;
  Guarded& operator=(const Guarded&) = delete;
  T Get() const {
    std::lock_guard lock(mutex_);
    return value_;
  }
  // Replaces the value; returns the one it replaced.
  T Set(T value) {
    std::lock_guard lock(mutex_);
    std::swap(value_, value);
    return value;
  }

 private:
  mutable std::mutex mutex_;
  T value_{};
};

// A text shared that way (the video folder, which the loader's thread follows while the
// window saves it), with the conveniences of a string.
class SharedString : public Guarded<std::string> {
 public:
  SharedString& operator=(std::string text) {
    Set(std::move(text));
    return *this;
  }
  operator std::string() const { return Get(); }  // NOLINT(google-explicit-constructor)
  friend bool operator==(const SharedString& a, std::string_view b) { return a.Get() == b; }
  friend std::ostream& operator<<(std::ostream& out, const SharedString& s) {
    return out << s.Get();
  }
};

}  // namespace zqr
