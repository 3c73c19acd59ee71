// The media seam: a frame-grabbing graph (source, sample grabber set to 32-bit RGB,
// null renderer, preview sound) with the operations the graph build, the window
// commands and the conversion driver call. Results are HRESULT-like (negative means
// failure), times are in 100-ns units, delivered frames are 32-bit BGRX with the bottom
// row first, and end of stream is event code 1. A backend is a MediaGraph subclass plus
// a factory, installed once at start-up (platform/ffmpeg is the one we ship); the core
// never sees a codec library.
//
// Threads: the build steps run on the loader's thread; Run, Pause, Stop, SetPositions,
// SetSyncSource, SetCallback, PutVolume, GetEvent and GetCurrentBuffer may be called
// from any thread at any time after the build. The callback runs on the graph's own
// streaming thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace zqr::platform {

using HResult = int32_t;
// Media times and durations, in 100-nanosecond units.
using RefTime = int64_t;

inline constexpr RefTime kUnitsPerSecond = 10'000'000;

inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kENotImpl = static_cast<HResult>(0x80004001u);
inline constexpr HResult kENoInterface = static_cast<HResult>(0x80004002u);
inline constexpr HResult kEPointer = static_cast<HResult>(0x80004003u);
inline constexpr HResult kEAbort = static_cast<HResult>(0x80004004u);
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kEUnexpected = static_cast<HResult>(0x8000FFFFu);
inline constexpr HResult kEOutOfMemory = static_cast<HResult>(0x8007000Eu);
inline constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057u);
// Media-specific failures, with the values of their DirectShow namesakes.
inline constexpr HResult kVfwEInvalidMediaType = static_cast<HResult>(0x80040200u);
inline constexpr HResult kVfwENotConnected = static_cast<HResult>(0x80040209u);
inline constexpr HResult kVfwENotFound = static_cast<HResult>(0x80040216u);
inline constexpr HResult kVfwECannotConnect = static_cast<HResult>(0x80040217u);
inline constexpr HResult kVfwEWrongState = static_cast<HResult>(0x80040227u);
inline constexpr HResult kVfwEUnknownFileType = static_cast<HResult>(0x80040240u);
inline constexpr HResult kVfwEUnsupportedStream = static_cast<HResult>(0x80040265u);

inline constexpr bool Failed(HResult hr) {
  return hr < 0;
}
inline constexpr bool Succeeded(HResult hr) {
  return hr >= 0;
}

// Event codes delivered by GetEvent.
inline constexpr int32_t kEcComplete = 1;  // the stream played to its end

// SetPositions flags (the positioning part of AM_SEEKING_SeekingFlags).
inline constexpr int32_t kSeekNoPositioning = 0;
inline constexpr int32_t kSeekAbsolutePositioning = 1;
inline constexpr int32_t kSeekRelativePositioning = 2;

// Callback selectors for SetCallback.
inline constexpr int32_t kSelectSampleCB = 0;
inline constexpr int32_t kSelectBufferCB = 1;

// Volume range of PutVolume, in hundredths of a decibel.
inline constexpr int32_t kVolumeSilent = -10000;
inline constexpr int32_t kVolumeFull = 0;

enum class MajorType { kNone, kVideo, kAudio };
enum class SubType { kNone, kRgb32 };
enum class FormatType { kNone, kVideoInfo };
enum class TimeFormat { kNone, kFrame, kMediaTime };

// The format block of a connected video type (the fields of VIDEOINFOHEADER and its
// bitmap header that the program reads). A positive height means bottom row first.
struct VideoInfoHeader {
  RefTime AvgTimePerFrame = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  int16_t Planes = 0;
  int16_t BitCount = 0;
  uint32_t SizeImage = 0;
};

// A media type record: what the grabber is asked for, and what it connected with.
struct MediaType {
  MajorType majortype = MajorType::kNone;
  SubType subtype = SubType::kNone;
  FormatType formattype = FormatType::kNone;
  int32_t lSampleSize = 0;
  VideoInfoHeader format;
};

// One sample as the grabber sees it (for the selector-0 callback).
struct GrabbedSample {
  const uint8_t* data = nullptr;
  int32_t length = 0;
  RefTime start_time = 0;
};

// The grabber's callback (ISampleGrabberCB without its COM plumbing). Selector 0 calls
// SampleCB, selector 1 BufferCB, once per frame on the streaming thread. The buffer is
// valid only during the call; the graph does not take ownership of the object.
class SampleGrabberCallback {
 public:
  virtual ~SampleGrabberCallback() = default;
  virtual HResult SampleCB(double sample_time, const GrabbedSample& sample) = 0;
  virtual HResult BufferCB(double sample_time, uint8_t* buffer, int32_t buffer_length) = 0;
};

class MediaGraph {
 public:
  virtual ~MediaGraph() = default;
  virtual const char* Name() const = 0;

  // --- Building (graph builder, sample grabber, null renderer) ---
  // The grabber object and its ISampleGrabber interface.
  virtual HResult CreateSampleGrabber() = 0;
  virtual HResult AddGrabberFilter(const std::string& filter_name) = 0;
  // The type the grabber accepts; only Video / RGB32 / VideoInfo is supported.
  virtual HResult SetMediaType(const MediaType& type) = 0;
  // Opens the file as the graph's source. Fails when the file cannot be read or is not
  // a media file the backend knows.
  virtual HResult AddSourceFilter(const std::string& file_name, const std::string& filter_name) = 0;
  // Connects the source's video output to the grabber. Fails when the file has no video
  // stream that can be decoded.
  virtual HResult ConnectSourceToGrabber() = 0;
  virtual HResult AddNullRenderer(const std::string& filter_name) = 0;
  virtual HResult ConnectGrabberToNullRenderer() = 0;

  // --- ISampleGrabber ---
  virtual HResult SetBufferSamples(bool buffer) = 0;
  virtual HResult SetOneShot(bool one_shot) = 0;
  // Installs (or, with nullptr, removes) the callback. Waits for a callback in progress
  // to return, so it must not be called from inside the callback.
  virtual HResult SetCallback(SampleGrabberCallback* callback, int32_t selector) = 0;
  // Fails when the grabber is not connected or the stream cannot be converted to RGB32.
  virtual HResult GetConnectedMediaType(MediaType* type) = 0;
  // Copies the newest buffered sample. With a null buffer, stores the needed size.
  // `size` is in/out: the room in bytes, then the bytes copied.
  virtual HResult GetCurrentBuffer(int32_t* size, void* buffer) = 0;

  // --- IMediaControl ---
  // Adds the file's other streams for preview; here: enables the sound while the graph
  // runs with its clock. The file name must be the one given to AddSourceFilter.
  virtual HResult RenderFile(const std::string& file_name) = 0;
  virtual HResult Run() = 0;
  virtual HResult Pause() = 0;
  virtual HResult Stop() = 0;

  // --- IMediaFilter / IFilterGraph ---
  // With the default clock frames are paced to real time; with none (SetSyncSource with
  // no clock) they are delivered as fast as the callback returns.
  virtual HResult SetDefaultSyncSource() = 0;
  virtual HResult SetNoSyncSource() = 0;

  // --- IMediaSeeking ---
  virtual HResult GetTimeFormat(TimeFormat* format) = 0;
  virtual HResult SetTimeFormat(TimeFormat format) = 0;
  virtual HResult GetDuration(RefTime* duration) = 0;
  virtual HResult GetCurrentPosition(RefTime* position) = 0;
  virtual HResult SetPositions(RefTime* current, int32_t current_flags, RefTime* stop,
                               int32_t stop_flags) = 0;

  // --- IMediaEventEx ---
  // Takes the oldest event, waiting up to `timeout_ms` (0: do not wait). kEAbort when
  // there is none.
  virtual HResult GetEvent(int32_t* event_code, intptr_t* param1, intptr_t* param2,
                           int32_t timeout_ms) = 0;
  virtual HResult FreeEventParams(int32_t event_code, intptr_t param1, intptr_t param2) = 0;

  // --- IBasicAudio ---
  // Volume in hundredths of a decibel, kVolumeSilent (-10000) to kVolumeFull (0).
  virtual HResult PutVolume(int32_t volume) = 0;
  virtual HResult GetVolume(int32_t* volume) = 0;
};

// The backend's factory; returns nullptr when no graph can be made.
using MediaGraphFactory = std::unique_ptr<MediaGraph> (*)();

namespace media_detail {
struct FactorySlot {
  std::mutex mutex;
  MediaGraphFactory factory = nullptr;
};
inline FactorySlot& Slot() {
  static FactorySlot slot;
  return slot;
}
}  // namespace media_detail

// Chooses the backend (start-up; tests install theirs).
inline void InstallMediaGraphFactory(MediaGraphFactory factory) {
  std::lock_guard lock(media_detail::Slot().mutex);
  media_detail::Slot().factory = factory;
}

// A new, empty graph from the installed backend; nullptr when none is installed.
inline std::unique_ptr<MediaGraph> CreateMediaGraph() {
  MediaGraphFactory factory;
  {
    std::lock_guard lock(media_detail::Slot().mutex);
    factory = media_detail::Slot().factory;
  }
  return factory ? factory() : nullptr;
}

}  // namespace zqr::platform
