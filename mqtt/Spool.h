// Store and forward on disk: records appended in order to segment files in
// one directory, read back oldest segment first. The total is bounded; past
// the bound whole segments go, oldest first, and their records are counted.
// A segment ends where its first record fails its length or checksum check,
// so the torn tail a crash leaves is skipped, and no file content can make
// the reader misbehave. Appends are buffered until Flush, which syncs them:
// a power cut loses at most what was appended since the last Flush.
// Not thread-safe: the publisher's worker owns it.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mqtt {

class Spool {
 public:
  Spool(std::string directory, uint64_t limitBytes);
  ~Spool();
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  // Makes the directory and takes stock of the segments a previous run left.
  bool Open(std::string* error);
  void Append(std::string_view record);
  // Writes what Append buffered and syncs it to the disk.
  bool Flush();

  // Whether a segment waits to be taken.
  bool HasUntaken() const { return !m_segments.empty() && m_segments.back().number >= m_nextTake; }
  uint64_t Bytes() const { return m_bytes; }
  uint64_t Records() const;
  // Records dropped past the bound since Open.
  uint64_t Dropped() const { return m_dropped; }
  // Bytes of damaged or torn segment content skipped since Open.
  uint64_t SkippedBytes() const { return m_skippedBytes; }

  // The records of the oldest segment not taken yet, in order, and its
  // number; new appends go to a new segment from here on. A taken segment
  // stays on disk until Remove, so that a crash before its records are
  // delivered finds it again at the next Open.
  std::vector<std::string> TakeNext(uint64_t* number);
  // TakeNext gives the segment again: not all of its records went out.
  void GiveBack(uint64_t number);
  // Deletes the segment, once its records are delivered; nothing when the
  // bound has dropped it already.
  void Remove(uint64_t number);

  // The well-formed records at the start of one segment file's content.
  static std::vector<std::string> ParseSegment(std::span<const uint8_t> content,
                                               uint64_t* goodBytes);

 private:
  struct Segment {
    uint64_t number = 0;
    uint64_t bytes = 0;
    uint64_t records = 0;
  };

  std::string PathOf(uint64_t number) const;
  void ScanExisting();
  bool ReadFile(const std::string& path, std::vector<uint8_t>* content) const;
  void StartSegment();
  void CloseActive();
  void DropOldestPastLimit();
  void DropOldest();

  std::string m_directory;
  uint64_t m_limitBytes;
  uint64_t m_segmentLimit;
  std::deque<Segment> m_segments;
  // The segment appends go to, open as m_fd; -1 when appends start a new one.
  int m_fd = -1;
  bool m_activeIsLast = false;
  std::string m_pending;
  uint64_t m_nextNumber = 1;
  // Segments numbered below this one have been taken.
  uint64_t m_nextTake = 0;
  uint64_t m_bytes = 0;
  uint64_t m_dropped = 0;
  uint64_t m_skippedBytes = 0;
};

}  // namespace mqtt
