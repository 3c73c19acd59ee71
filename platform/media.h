// The media seam: a frame-grabbing graph (source, sample grabber set to 32-bit RGB,
// null renderer, preview sound) with the operations the graph build, the window
// commands and the conversion driver call. Every call answers with a MediaStatus, times
// are in 100-ns units, delivered frames are 32-bit BGRX with the bottom
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

// Media times and durations, in 100-nanosecond units.
using RefTime = int64_t;

inline constexpr RefTime kUnitsPerSecond = 10'000'000;

// What a call came to. kOk and kNothingToDo are successes; every other value names why
// the call failed. The program acts on which call failed, not on why: the reasons are
// for logs and tests.
enum class MediaStatus : uint8_t {
  kOk,
  kNothingToDo,      // done, with nothing to do: RenderFile on a file without sound
  kInvalidArgument,  // a null pointer, a value out of range, a buffer too small
  kNotBuilt,         // the graph (or the step this call needs) is not there yet
  kAlreadyDone,      // a step that is taken once was taken again
  kCannotOpen,       // the file cannot be read, or is no media file the backend knows
  kUnsupported,      // a media type, stream, time format or kind of seek the backend lacks
  kNoSample,         // GetCurrentBuffer: no frame is kept (yet)
  kNoEvent,          // GetEvent: no event came within the wait
  kOutOfMemory,
};

inline constexpr bool Succeeded(MediaStatus status) {
  return status == MediaStatus::kOk || status == MediaStatus::kNothingToDo;
}
inline constexpr bool Failed(MediaStatus status) {
  return !Succeeded(status);
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
  // The shape of one pixel as shown, width to height (64:45 for 16:9 PAL stored 720 wide),
  // as VIDEOINFOHEADER2 gives the picture's aspect; 1:1 for square pixels.
  int32_t PixelAspectX = 1;
  int32_t PixelAspectY = 1;
  // The colour primaries and transfer the delivered RGB is in, by the encoder tool's names
  // ("bt709", "smpte170m", "bt470bg"), as VIDEOINFOHEADER2's colour information gives them.
  std::string Primaries = "bt709";
  std::string Transfer = "bt709";
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
  virtual MediaStatus SampleCB(double sample_time, const GrabbedSample& sample) = 0;
  virtual MediaStatus BufferCB(double sample_time, uint8_t* buffer, int32_t buffer_length) = 0;
};

class MediaGraph {
 public:
  virtual ~MediaGraph() = default;
  virtual const char* Name() const = 0;

  // --- Building (graph builder, sample grabber, null renderer) ---
  // The grabber object and its ISampleGrabber interface.
  virtual MediaStatus CreateSampleGrabber() = 0;
  virtual MediaStatus AddGrabberFilter(const std::string& filter_name) = 0;
  // The type the grabber accepts; only Video / RGB32 / VideoInfo is supported.
  virtual MediaStatus SetMediaType(const MediaType& type) = 0;
  // Opens the file as the graph's source. Fails when the file cannot be read or is not
  // a media file the backend knows.
  virtual MediaStatus AddSourceFilter(const std::string& file_name,
                                      const std::string& filter_name) = 0;
  // Connects the source's video output to the grabber. Fails when the file has no video
  // stream that can be decoded.
  virtual MediaStatus ConnectSourceToGrabber() = 0;
  // Why the source could not be opened or connected, in the decoder's own words; empty
  // when the backend knows no more than the status.
  virtual std::string SourceFailure() const { return {}; }
  // Once the stream has ended: another video stream the file went on with after the one
  // delivered had ended (files of two codecs joined end to end), its codec and length;
  // empty when there is none.
  virtual std::string VideoBeyondEnd() { return {}; }
  // Whether the frames of a stream that says it is interlaced are made whole before they
  // are delivered (the default) or keep their two fields. Taken by ConnectSourceToGrabber;
  // kUnsupported from a backend that cannot.
  virtual MediaStatus SetDeinterlace(bool /*deinterlace*/) { return MediaStatus::kUnsupported; }
  virtual MediaStatus AddNullRenderer(const std::string& filter_name) = 0;
  virtual MediaStatus ConnectGrabberToNullRenderer() = 0;

  // --- ISampleGrabber ---
  virtual MediaStatus SetBufferSamples(bool buffer) = 0;
  virtual MediaStatus SetOneShot(bool one_shot) = 0;
  // Installs (or, with nullptr, removes) the callback. Waits for a callback in progress
  // to return, so it must not be called from inside the callback.
  virtual MediaStatus SetCallback(SampleGrabberCallback* callback, int32_t selector) = 0;
  // Fails when the grabber is not connected or the stream cannot be converted to RGB32.
  virtual MediaStatus GetConnectedMediaType(MediaType* type) = 0;
  // Copies the newest buffered sample. With a null buffer, stores the needed size.
  // `size` is in/out: the room in bytes, then the bytes copied.
  virtual MediaStatus GetCurrentBuffer(int32_t* size, void* buffer) = 0;

  // --- IMediaControl ---
  // Adds the file's other streams for preview; here: enables the sound while the graph
  // runs with its clock. The file name must be the one given to AddSourceFilter.
  // kNothingToDo when the file has no sound.
  virtual MediaStatus RenderFile(const std::string& file_name) = 0;
  virtual MediaStatus Run() = 0;
  virtual MediaStatus Pause() = 0;
  virtual MediaStatus Stop() = 0;

  // --- IMediaFilter / IFilterGraph ---
  // With the default clock frames are paced to real time; with none (SetSyncSource with
  // no clock) they are delivered as fast as the callback returns.
  virtual MediaStatus SetDefaultSyncSource() = 0;
  virtual MediaStatus SetNoSyncSource() = 0;

  // --- IMediaSeeking ---
  virtual MediaStatus GetTimeFormat(TimeFormat* format) = 0;
  virtual MediaStatus SetTimeFormat(TimeFormat format) = 0;
  virtual MediaStatus GetDuration(RefTime* duration) = 0;
  virtual MediaStatus GetCurrentPosition(RefTime* position) = 0;
  virtual MediaStatus SetPositions(RefTime* current, int32_t current_flags, RefTime* stop,
                                   int32_t stop_flags) = 0;

  // --- IMediaEventEx ---
  // Takes the oldest event, waiting up to `timeout_ms` (0: do not wait). kNoEvent when
  // there is none.
  virtual MediaStatus GetEvent(int32_t* event_code, intptr_t* param1, intptr_t* param2,
                               int32_t timeout_ms) = 0;
  virtual MediaStatus FreeEventParams(int32_t event_code, intptr_t param1, intptr_t param2) = 0;

  // --- IBasicAudio ---
  // Volume in hundredths of a decibel, kVolumeSilent (-10000) to kVolumeFull (0).
  virtual MediaStatus PutVolume(int32_t volume) = 0;
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
