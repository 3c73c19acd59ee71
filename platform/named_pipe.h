// A named pipe, written by this program and read by a tool given its name: the tool can
// start on a stream before the whole of it exists. On POSIX systems the pipe is an entry
// in a folder; Windows keeps named pipes in a namespace of their own (\\.\pipe\).
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

namespace zqr::platform {

// The name under which the pipe `name` belonging to `folder` is made: on POSIX systems
// folder + separator + name; on Windows a name in \\.\pipe\ that is the same for the same
// folder and name in this process and differs from every other process's.
std::string NamedPipePath(const std::string& folder, const std::string& name);

class NamedPipeWriter {
 public:
  NamedPipeWriter() = default;
  ~NamedPipeWriter();  // closes the pipe and removes its name
  NamedPipeWriter(const NamedPipeWriter&) = delete;
  NamedPipeWriter& operator=(const NamedPipeWriter&) = delete;

  // Makes the pipe under `path`. A pipe left there by an earlier run is replaced; any other
  // entry of that name (a file, a link) is left alone and the creation fails.
  bool Create(const std::string& path);
  // Waits until a reader has opened the pipe. False when `stop` was set first.
  bool Connect(const std::atomic<bool>& stop);
  // Writes all of `bytes`, waiting while the pipe is full. False when the reader has closed
  // its end or `stop` was set.
  bool Write(const void* data, size_t bytes, const std::atomic<bool>& stop);
  // Waits until the reader has taken everything written or has closed its end: a Windows
  // pipe drops what is still unread when its writer closes (Wine does so at once), so a
  // stream written faster than it is read would lose its tail, or all of it. At once on
  // POSIX systems, whose pipes keep what is written until it is read.
  void Drain();
  // The reader sees the end of the stream.
  void Close();

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace zqr::platform
