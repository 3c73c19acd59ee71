// The post-write marks of a movie's stereo views. The MP4 box tree and Matroska's EBML are
// walked with bounds checks on every length, as the file is only trusted as far as it
// was written by our own encoder.
#include "convert/stereo_marks.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>

#include "convert/encoder_command.h"
#include "core/run_log.h"
#include "frames/layouts.h"
#include "platform/path.h"

namespace zqr {
namespace {

// ---- MP4 / QuickTime boxes -------------------------------------------------------------

uint64_t ReadBig(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | b[at + i];
  return value;
}

void WriteBig(std::vector<uint8_t>& b, size_t at, int bytes, uint64_t value) {
  for (int i = bytes - 1; i >= 0; --i, value >>= 8) b[at + i] = static_cast<uint8_t>(value);
}

struct Box {
  size_t at = 0;      // where its header begins
  size_t header = 0;  // 8, or 16 with a 64-bit size
  size_t size = 0;    // the whole box
  std::string_view type;
  size_t data() const { return at + header; }
  size_t end() const { return at + size; }
};

// The box at `at`, which must end by `end`.
std::optional<Box> BoxAt(const std::vector<uint8_t>& b, size_t at, size_t end) {
  if (at + 8 > end) return std::nullopt;
  Box box;
  box.at = at;
  box.header = 8;
  uint64_t size = ReadBig(b, at, 4);
  if (size == 1) {
    if (at + 16 > end) return std::nullopt;
    size = ReadBig(b, at + 8, 8);
    box.header = 16;
  } else if (size == 0) {
    size = end - at;
  }
  if (size < box.header || size > end - at) return std::nullopt;
  box.size = static_cast<size_t>(size);
  box.type = std::string_view(reinterpret_cast<const char*>(&b[at + 4]), 4);
  return box;
}

// The first child of `type` among the boxes from `from` to the parent's end.
std::optional<Box> ChildOf(const std::vector<uint8_t>& b, size_t from, size_t end,
                           std::string_view type) {
  for (size_t at = from; at < end;) {
    const std::optional<Box> box = BoxAt(b, at, end);
    if (!box) return std::nullopt;
    if (box->type == type) return box;
    at = box->end();
  }
  return std::nullopt;
}

// Whether the boxes from `from` follow one another exactly to `end`.
bool BoxesFill(const std::vector<uint8_t>& b, size_t from, size_t end) {
  size_t at = from;
  while (at < end) {
    const std::optional<Box> box = BoxAt(b, at, end);
    // A box that runs to its parent's end would take in a box added after it.
    if (!box || ReadBig(b, at, 4) == 0) return false;
    at = box->end();
  }
  return at == end;
}

void GrowBox(std::vector<uint8_t>& b, const Box& box, size_t by) {
  if (box.header == 16) {
    WriteBig(b, box.at + 8, 8, box.size + by);
  } else {
    WriteBig(b, box.at, 4, box.size + by);
  }
}

// The chunk offsets of every track that point at or past `from` move by `by`.
bool MoveChunkOffsets(std::vector<uint8_t>& moov, const Box& root, int64_t from, size_t by) {
  for (size_t at = root.data(); at < root.end();) {
    const std::optional<Box> trak = BoxAt(moov, at, root.end());
    if (!trak) return false;
    at = trak->end();
    if (trak->type != "trak") continue;
    auto mdia = ChildOf(moov, trak->data(), trak->end(), "mdia");
    auto minf = mdia ? ChildOf(moov, mdia->data(), mdia->end(), "minf") : std::nullopt;
    auto stbl = minf ? ChildOf(moov, minf->data(), minf->end(), "stbl") : std::nullopt;
    if (!stbl) return false;
    for (const char* table : {"stco", "co64"}) {
      const std::optional<Box> offsets = ChildOf(moov, stbl->data(), stbl->end(), table);
      if (!offsets) continue;
      const int width = offsets->type == "stco" ? 4 : 8;
      if (offsets->size < offsets->header + 8) return false;
      const uint64_t count = ReadBig(moov, offsets->data() + 4, 4);
      const size_t first = offsets->data() + 8;
      if (count > (offsets->end() - first) / width) return false;
      for (uint64_t i = 0; i < count; ++i) {
        const size_t where = first + i * width;
        const uint64_t value = ReadBig(moov, where, width);
        if (static_cast<int64_t>(value) < from) continue;
        if (width == 4 && value + by > 0xffffffffu) return false;
        WriteBig(moov, where, width, value + by);
      }
    }
  }
  return true;
}

// The size of a visual sample entry's fixed fields after its header (ISO 14496-12's
// VisualSampleEntry, and QuickTime's video sample description, are both 78 bytes).
constexpr size_t kVisualEntryFields = 78;
constexpr size_t kSt3dSize = 13;  // header, version and flags, the mode

// ---- Matroska's EBML -----------------------------------------------------------------

constexpr uint32_t kSegment = 0x18538067;
constexpr uint32_t kSeekHead = 0x114D9B74;
constexpr uint32_t kSeek = 0x4DBB;
constexpr uint32_t kSeekPosition = 0x53AC;
constexpr uint32_t kVoid = 0xEC;
constexpr uint32_t kCrc32 = 0xBF;
constexpr uint32_t kTracks = 0x1654AE6B;
constexpr uint32_t kTrackEntry = 0xAE;
constexpr uint32_t kTrackType = 0x83;
constexpr uint32_t kVideo = 0xE0;
constexpr uint32_t kStereoMode = 0x53B8;
constexpr uint32_t kCluster = 0x1F43B675;
constexpr uint64_t kUnknownSize = ~uint64_t{0};

struct Element {
  size_t at = 0;
  uint32_t id = 0;
  size_t size_at = 0;  // where its size field begins
  int size_width = 0;
  uint64_t size = 0;  // kUnknownSize: to the end of its parent
  size_t data() const { return size_at + size_width; }
};

// A variable-length number: its width from the leading zeros of the first byte.
std::optional<std::pair<uint64_t, int>> ReadVint(const std::vector<uint8_t>& b, size_t at,
                                                 size_t end, bool keep_marker) {
  if (at >= end || b[at] == 0) return std::nullopt;
  int width = 1;
  while (!(b[at] & (0x80 >> (width - 1)))) ++width;
  if (at + width > end) return std::nullopt;
  uint64_t value = keep_marker ? b[at] : b[at] & (0xff >> width);
  bool all_ones = value == (0xffu >> width);
  for (int i = 1; i < width; ++i) {
    value = (value << 8) | b[at + i];
    all_ones = all_ones && b[at + i] == 0xff;
  }
  return std::pair{all_ones && !keep_marker ? kUnknownSize : value, width};
}

std::optional<Element> ElementAt(const std::vector<uint8_t>& b, size_t at, size_t end) {
  const auto id = ReadVint(b, at, end, true);
  if (!id || id->second > 4) return std::nullopt;
  const auto size = ReadVint(b, at + id->second, end, false);
  if (!size) return std::nullopt;
  Element e{at, static_cast<uint32_t>(id->first), at + id->second, size->second, size->first};
  if (e.size != kUnknownSize && e.size > end - e.data()) return std::nullopt;
  return e;
}

size_t EndOf(const Element& e, size_t parent_end) {
  return e.size == kUnknownSize ? parent_end : e.data() + static_cast<size_t>(e.size);
}

std::optional<Element> EbmlChild(const std::vector<uint8_t>& b, size_t from, size_t end,
                                 uint32_t id) {
  for (size_t at = from; at < end;) {
    const std::optional<Element> e = ElementAt(b, at, end);
    if (!e || e->size == kUnknownSize) return std::nullopt;
    if (e->id == id) return e;
    at = EndOf(*e, end);
  }
  return std::nullopt;
}

// Whether the elements from `from` follow one another exactly to `end`.
bool ChildrenFill(const std::vector<uint8_t>& b, size_t from, size_t end) {
  size_t at = from;
  while (at < end) {
    const std::optional<Element> e = ElementAt(b, at, end);
    if (!e || e->size == kUnknownSize) return false;
    at = EndOf(*e, end);
  }
  return at == end;
}

bool WriteVintSize(std::vector<uint8_t>& b, const Element& e, uint64_t size) {
  if (size >= (uint64_t{1} << (7 * e.size_width)) - 1) return false;
  WriteBig(b, e.size_at, e.size_width, size);
  b[e.size_at] |= static_cast<uint8_t>(0x80 >> (e.size_width - 1));
  return true;
}

uint32_t Crc32(const uint8_t* data, size_t length) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t crc = 0xffffffffu;
  for (size_t i = 0; i < length; ++i) crc = table[(crc ^ data[i]) & 0xff] ^ (crc >> 8);
  return crc ^ 0xffffffffu;
}

// A master element's CRC-32, when it has one, covers its data after the CRC element; it
// is stored least significant byte first.
void RefreshCrc(std::vector<uint8_t>& b, const Element& master) {
  const size_t end = EndOf(master, b.size());
  const std::optional<Element> first = ElementAt(b, master.data(), end);
  if (!first || first->id != kCrc32 || first->size != 4) return;
  const size_t covered = first->data() + 4;
  uint32_t crc = Crc32(b.data() + covered, end - covered);
  for (int i = 0; i < 4; ++i, crc >>= 8) b[first->data() + i] = static_cast<uint8_t>(crc);
}

// ---- Files -----------------------------------------------------------------------------

std::optional<std::vector<uint8_t>> ReadPart(const std::string& path, uint64_t from,
                                             uint64_t length) {
  std::ifstream in(platform::PathOf(path), std::ios::binary);
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  if (!in.seekg(static_cast<std::streamoff>(from)) ||
      !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length))) {
    return std::nullopt;
  }
  return bytes;
}

bool WritePart(const std::string& path, uint64_t at, const std::vector<uint8_t>& bytes) {
  std::fstream out(platform::PathOf(path), std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(static_cast<std::streamoff>(at));
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.flush();
  return static_cast<bool>(out);
}

// Copies `length` bytes from `in`'s current place to `out`.
bool CopyBytes(std::ifstream& in, std::ofstream& out, uint64_t length) {
  std::vector<char> buffer(1 << 20);
  while (length > 0) {
    const auto n = static_cast<std::streamsize>(std::min<uint64_t>(length, buffer.size()));
    if (!in.read(buffer.data(), n) || !out.write(buffer.data(), n)) return false;
    length -= static_cast<uint64_t>(n);
  }
  return true;
}

bool MarkMp4(const std::string& movie, St3dMode mode) {
  std::error_code error;
  const uint64_t file_size = std::filesystem::file_size(platform::PathOf(movie), error);
  if (error) return false;
  // The top-level boxes, read header by header: the media data is not read.
  std::ifstream in(platform::PathOf(movie), std::ios::binary);
  uint64_t moov_at = 0, moov_size = 0;
  bool media_after_moov = false, found = false;
  for (uint64_t at = 0; at + 8 <= file_size;) {
    std::array<uint8_t, 16> h{};
    in.seekg(static_cast<std::streamoff>(at));
    if (!in.read(reinterpret_cast<char*>(h.data()), 8)) return false;
    uint64_t size = (uint64_t{h[0]} << 24) | (uint64_t{h[1]} << 16) | (uint64_t{h[2]} << 8) | h[3];
    if (size == 1) {
      if (!in.read(reinterpret_cast<char*>(h.data() + 8), 8)) return false;
      size = 0;
      for (int i = 8; i < 16; ++i) size = (size << 8) | h[i];
    } else if (size == 0) {
      size = file_size - at;
    }
    if (size < 8 || size > file_size - at) return false;
    const std::string_view type(reinterpret_cast<const char*>(h.data() + 4), 4);
    if (type == "moov" && !found) {
      moov_at = at;
      moov_size = size;
      found = true;
    } else if (type == "mdat" && found) {
      media_after_moov = true;
    } else if (type == "moof") {
      return false;  // fragments address their data from the file's start, or the moof's
    }
    at += size;
  }
  in.close();
  if (!found) return false;
  std::optional<std::vector<uint8_t>> moov = ReadPart(movie, moov_at, moov_size);
  if (!moov || !AddSt3dBox(*moov, media_after_moov ? static_cast<int64_t>(moov_at) : -1, mode)) {
    return false;
  }
  const uint64_t moov_end = moov_at + moov_size;
  if (moov_end == file_size) return WritePart(movie, moov_at, *moov);
  // Boxes behind the moov move: the movie is written anew beside itself and replaces it.
  const std::string rewritten = movie + ".st3d";
  {
    std::ifstream from(platform::PathOf(movie), std::ios::binary);
    std::ofstream to(platform::PathOf(rewritten), std::ios::binary | std::ios::trunc);
    const bool copied = CopyBytes(from, to, moov_at) &&
                        to.write(reinterpret_cast<const char*>(moov->data()),
                                 static_cast<std::streamsize>(moov->size())) &&
                        from.seekg(static_cast<std::streamoff>(moov_end)) &&
                        CopyBytes(from, to, file_size - moov_end);
    to.flush();
    if (!copied || !to) {
      to.close();
      std::filesystem::remove(platform::PathOf(rewritten), error);
      return false;
    }
  }
  std::filesystem::rename(platform::PathOf(rewritten), platform::PathOf(movie), error);
  if (error) std::filesystem::remove(platform::PathOf(rewritten), error);
  return !error;
}

bool MarkMatroska(const std::string& movie, uint8_t mode) {
  // The Tracks sit near the start; a head of this size holds them with room to spare.
  constexpr uint64_t kHeadLimit = uint64_t{1} << 20;
  std::error_code error;
  const uint64_t file_size = std::filesystem::file_size(platform::PathOf(movie), error);
  if (error) return false;
  std::optional<std::vector<uint8_t>> head = ReadPart(movie, 0, std::min(file_size, kHeadLimit));
  if (!head) return false;
  const std::vector<uint8_t> before = *head;
  if (!SetMatroskaStereoMode(*head, mode)) return false;
  // Only the bytes that changed are written back.
  size_t first = 0, last = head->size();
  while (first < last && (*head)[first] == before[first]) ++first;
  while (last > first && (*head)[last - 1] == before[last - 1]) --last;
  if (first == last) return true;
  return WritePart(movie, first,
                   std::vector<uint8_t>(head->begin() + static_cast<std::ptrdiff_t>(first),
                                        head->begin() + static_cast<std::ptrdiff_t>(last)));
}

}  // namespace

bool AddSt3dBox(std::vector<uint8_t>& moov, int64_t moov_offset, St3dMode mode) {
  const std::optional<Box> root = BoxAt(moov, 0, moov.size());
  if (!root || root->type != "moov" || root->end() != moov.size()) return false;
  // The video track: its handler says "vide".
  for (size_t at = root->data(); at < root->end();) {
    const std::optional<Box> trak = BoxAt(moov, at, root->end());
    if (!trak) return false;
    at = trak->end();
    if (trak->type != "trak") continue;
    auto mdia = ChildOf(moov, trak->data(), trak->end(), "mdia");
    auto hdlr = mdia ? ChildOf(moov, mdia->data(), mdia->end(), "hdlr") : std::nullopt;
    if (!hdlr || hdlr->size < hdlr->header + 12 ||
        std::string_view(reinterpret_cast<const char*>(&moov[hdlr->data() + 8]), 4) != "vide") {
      continue;
    }
    auto minf = ChildOf(moov, mdia->data(), mdia->end(), "minf");
    auto stbl = minf ? ChildOf(moov, minf->data(), minf->end(), "stbl") : std::nullopt;
    auto stsd = stbl ? ChildOf(moov, stbl->data(), stbl->end(), "stsd") : std::nullopt;
    if (!stsd || stsd->size < stsd->header + 8) return false;
    const std::optional<Box> entry = BoxAt(moov, stsd->data() + 8, stsd->end());
    if (!entry || entry->size < entry->header + kVisualEntryFields) return false;
    const size_t children = entry->data() + kVisualEntryFields;
    if (auto st3d = ChildOf(moov, children, entry->end(), "st3d")) {
      if (st3d->size < st3d->header + 5) return false;
      moov[st3d->data() + 4] = static_cast<uint8_t>(mode);
      return true;
    }
    if (!BoxesFill(moov, children, entry->end())) return false;
    std::vector<uint8_t> edited = moov;
    if (moov_offset >= 0 && !MoveChunkOffsets(edited, *root, moov_offset, kSt3dSize)) {
      return false;
    }
    // Sizes first, while the boxes are where they were found; the new box goes last in
    // the sample entry, after its codec configuration.
    for (const Box& grown : {*root, *trak, *mdia, *minf, *stbl, *stsd, *entry}) {
      GrowBox(edited, grown, kSt3dSize);
    }
    const std::array<uint8_t, kSt3dSize> st3d = {
        0, 0, 0, kSt3dSize, 's', 't', '3', 'd', 0, 0, 0, 0, static_cast<uint8_t>(mode)};
    edited.insert(edited.begin() + static_cast<std::ptrdiff_t>(entry->end()), st3d.begin(),
                  st3d.end());
    moov = std::move(edited);
    return true;
  }
  return false;
}

bool SetMatroskaStereoMode(std::vector<uint8_t>& head, uint8_t mode) {
  const size_t end = head.size();
  const std::optional<Element> ebml = ElementAt(head, 0, end);
  if (!ebml || ebml->id != 0x1A45DFA3 || ebml->size == kUnknownSize) return false;
  // The Segment holds the whole movie, most of it beyond the head.
  const size_t segment_at = EndOf(*ebml, end);
  const auto segment_id = ReadVint(head, segment_at, end, true);
  if (!segment_id || segment_id->first != kSegment) return false;
  const auto segment_size = ReadVint(head, segment_at + segment_id->second, end, false);
  if (!segment_size) return false;
  const size_t segment_data = segment_at + segment_id->second + segment_size->second;
  const size_t segment_end =
      segment_size->first >= end - segment_data ? end : segment_data + segment_size->first;

  std::optional<Element> seek_head, void_space, tracks;
  for (size_t at = segment_data; at < segment_end && !tracks;) {
    const std::optional<Element> e = ElementAt(head, at, segment_end);
    if (!e || e->size == kUnknownSize || e->id == kCluster) return false;
    if (e->id == kSeekHead && !seek_head) seek_head = e;
    if (e->id == kVoid) void_space = e;
    if (e->id == kTracks) tracks = e;
    at = EndOf(*e, segment_end);
  }
  if (!tracks) return false;
  const size_t tracks_end = EndOf(*tracks, end);

  // The first video track's Video element.
  std::optional<Element> entry, video;
  for (size_t at = tracks->data(); at < tracks_end && !video;) {
    const std::optional<Element> e = ElementAt(head, at, tracks_end);
    if (!e || e->size == kUnknownSize) return false;
    at = EndOf(*e, tracks_end);
    if (e->id != kTrackEntry) continue;
    const std::optional<Element> type = EbmlChild(head, e->data(), at, kTrackType);
    if (!type || type->size != 1 || head[type->data()] != 1) continue;
    entry = e;
    video = EbmlChild(head, e->data(), at, kVideo);
  }
  if (!video) return false;
  const size_t video_end = EndOf(*video, end);

  if (auto stereo = EbmlChild(head, video->data(), video_end, kStereoMode)) {
    if (stereo->size < 1 || stereo->size > 8) return false;
    std::fill_n(head.begin() + static_cast<std::ptrdiff_t>(stereo->data()), stereo->size, 0);
    head[stereo->data() + stereo->size - 1] = mode;
    RefreshCrc(head, *tracks);
    return true;
  }

  // Four bytes (ID 53 B8, size 1, the mode) at the end of the Video element. They come out
  // of the Void before the Tracks: what lies between moves four bytes towards it.
  constexpr size_t kAdded = 4;
  if (!void_space || void_space->at > tracks->at || void_space->size < kAdded ||
      !ChildrenFill(head, video->data(), video_end)) {
    return false;
  }
  std::vector<uint8_t> edited = head;
  const size_t void_end = EndOf(*void_space, end);
  if (!WriteVintSize(edited, *void_space, void_space->size - kAdded) ||
      !WriteVintSize(edited, *tracks, tracks->size + kAdded) ||
      !WriteVintSize(edited, *entry, entry->size + kAdded) ||
      !WriteVintSize(edited, *video, video->size + kAdded)) {
    return false;
  }
  std::copy(edited.begin() + static_cast<std::ptrdiff_t>(void_end),
            edited.begin() + static_cast<std::ptrdiff_t>(video_end),
            edited.begin() + static_cast<std::ptrdiff_t>(void_end - kAdded));
  const std::array<uint8_t, kAdded> stereo_mode = {0x53, 0xB8, 0x81, mode};
  std::copy(stereo_mode.begin(), stereo_mode.end(),
            edited.begin() + static_cast<std::ptrdiff_t>(video_end - kAdded));

  // The SeekHead's positions count from the Segment's data; those of the moved elements
  // are four less, written in the width they had.
  if (seek_head) {
    const size_t seek_end = EndOf(*seek_head, end);
    for (size_t at = seek_head->data(); at < seek_end;) {
      const std::optional<Element> seek = ElementAt(edited, at, seek_end);
      if (!seek || seek->size == kUnknownSize) return false;
      at = EndOf(*seek, seek_end);
      if (seek->id != kSeek) continue;
      const std::optional<Element> position = EbmlChild(edited, seek->data(), at, kSeekPosition);
      if (!position || position->size < 1 || position->size > 8) continue;
      const int width = static_cast<int>(position->size);
      const uint64_t value = ReadBig(edited, position->data(), width);
      const uint64_t target = segment_data + value;
      if (target >= void_end && target < video_end) {
        WriteBig(edited, position->data(), width, value - kAdded);
      }
    }
    if (seek_head->at >= void_end) return false;  // it would have moved itself
    RefreshCrc(edited, *seek_head);
  }
  const std::optional<Element> moved_tracks = ElementAt(edited, tracks->at - kAdded, end);
  if (!moved_tracks || moved_tracks->id != kTracks) return false;
  RefreshCrc(edited, *moved_tracks);
  head = std::move(edited);
  return true;
}

bool MarkStereoViews(const std::string& movie, bool stereo, int32_t layout) {
  if (!stereo) return true;
  const std::string extension = OutputExtension(movie);
  const auto chosen = static_cast<frames::OutputLayout>(layout);
  const bool side_by_side =
      chosen == frames::OutputLayout::kSbs || chosen == frames::OutputLayout::kHalfSbs;
  const bool top_and_bottom =
      chosen == frames::OutputLayout::kTab || chosen == frames::OutputLayout::kHalfTab;
  bool marked = true;
  std::string mark;
  if ((side_by_side || top_and_bottom) &&
      (extension == ".mp4" || extension == ".m4v" || extension == ".mov")) {
    mark = "st3d";
    marked = MarkMp4(movie, side_by_side ? St3dMode::kLeftRight : St3dMode::kTopBottom);
  } else if (!side_by_side && !top_and_bottom && extension == ".mkv") {
    mark = "StereoMode";
    marked = MarkMatroska(movie, kMatroskaAnaglyphCyanRed);
  }
  if (!marked) LogLine("The movie's " + mark + " could not be written; players may show it flat");
  return marked;
}

}  // namespace zqr
