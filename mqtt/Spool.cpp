#include "mqtt/Spool.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace mqtt {

namespace {

constexpr std::string_view kMagic = "PLMSPL01";
constexpr size_t kRecordHeader = 8;  // length, then CRC-32 of the payload
// No record the publisher writes comes near this; a larger length is damage.
constexpr uint32_t kMaxRecord = 1u << 20;
constexpr uint64_t kMinSegment = 4096;
constexpr uint64_t kMaxSegment = 4ull << 20;
constexpr uint64_t kSegmentsPerLimit = 16;
constexpr const char* kSegmentPattern = "spool-%016" PRIu64 ".seg";

uint32_t Crc32(std::span<const uint8_t> bytes) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void PutLe32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

Spool::Spool(std::string directory, uint64_t limitBytes)
    : m_directory(std::move(directory)),
      m_limitBytes(limitBytes),
      m_segmentLimit(std::min(std::clamp(limitBytes / kSegmentsPerLimit, kMinSegment, kMaxSegment),
                              std::max<uint64_t>(limitBytes, kMagic.size() + kRecordHeader))) {}

Spool::~Spool() {
  Flush();
  CloseActive();
}

std::string Spool::PathOf(uint64_t number) const {
  char name[64];
  std::snprintf(name, sizeof name, kSegmentPattern, number);
  return m_directory + "/" + name;
}

bool Spool::Open(std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(m_directory, ec);
  if (ec || !std::filesystem::is_directory(m_directory, ec)) {
    *error = "cannot make the spool directory " + m_directory + ": " + ec.message();
    return false;
  }
  ScanExisting();
  DropOldestPastLimit();
  return true;
}

void Spool::ScanExisting() {
  std::vector<uint64_t> numbers;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(m_directory, ec)) {
    uint64_t number = 0;
    const std::string name = entry.path().filename().string();
    if (std::sscanf(name.c_str(), kSegmentPattern, &number) == 1 &&
        PathOf(number) == m_directory + "/" + name) {
      numbers.push_back(number);
    }
  }
  std::sort(numbers.begin(), numbers.end());
  for (uint64_t number : numbers) {
    std::vector<uint8_t> content;
    uint64_t good = 0;
    const bool readable = ReadFile(PathOf(number), &content);
    const auto records = ParseSegment(content, &good);
    m_skippedBytes += content.size() - good;
    m_nextNumber = number + 1;
    if (!readable || records.empty()) {
      std::filesystem::remove(PathOf(number), ec);
      continue;
    }
    m_segments.push_back({number, good, records.size()});
    m_bytes += good;
  }
}

bool Spool::ReadFile(const std::string& path, std::vector<uint8_t>* content) const {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  uint8_t buffer[65536];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) content->insert(content->end(), buffer, buffer + n);
  }
  ::close(fd);
  return n == 0;
}

std::vector<std::string> Spool::ParseSegment(std::span<const uint8_t> content,
                                             uint64_t* goodBytes) {
  std::vector<std::string> records;
  *goodBytes = 0;
  if (content.size() < kMagic.size() ||
      std::memcmp(content.data(), kMagic.data(), kMagic.size()) != 0) {
    return records;
  }
  size_t at = kMagic.size();
  while (content.size() - at >= kRecordHeader) {
    const uint32_t length = Le32(content.data() + at);
    if (length > kMaxRecord || content.size() - at - kRecordHeader < length) break;
    const auto payload = content.subspan(at + kRecordHeader, length);
    if (Crc32(payload) != Le32(content.data() + at + 4)) break;
    records.emplace_back(reinterpret_cast<const char*>(payload.data()), payload.size());
    at += kRecordHeader + length;
  }
  *goodBytes = at;
  return records;
}

uint64_t Spool::Records() const {
  uint64_t total = 0;
  for (const auto& s : m_segments) total += s.records;
  return total;
}

void Spool::StartSegment() {
  const uint64_t number = m_nextNumber++;
  m_fd = ::open(PathOf(number).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  // The new name must survive a power cut as well as the records in it.
  const int dir = ::open(m_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  m_pending.assign(kMagic);
  m_segments.push_back({number, kMagic.size(), 0});
  m_bytes += kMagic.size();
  m_activeIsLast = true;
}

void Spool::CloseActive() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_activeIsLast = false;
}

void Spool::Append(std::string_view record) {
  const uint64_t size = kRecordHeader + record.size();
  if (record.size() > kMaxRecord || size + kMagic.size() > m_limitBytes) {
    ++m_dropped;
    return;
  }
  if (m_activeIsLast && m_segments.back().bytes + size > m_segmentLimit) {
    Flush();
    CloseActive();
  }
  if (!m_activeIsLast) StartSegment();
  PutLe32(m_pending, static_cast<uint32_t>(record.size()));
  PutLe32(m_pending, Crc32({reinterpret_cast<const uint8_t*>(record.data()), record.size()}));
  m_pending.append(record);
  m_segments.back().bytes += size;
  m_segments.back().records += 1;
  m_bytes += size;
  DropOldestPastLimit();
}

bool Spool::Flush() {
  if (m_pending.empty()) return true;
  const bool ok = m_fd >= 0 && WriteAll(m_fd, m_pending) && ::fdatasync(m_fd) == 0;
  m_pending.clear();
  return ok;
}

void Spool::DropOldestPastLimit() {
  while (m_bytes > m_limitBytes && m_segments.size() > 1) DropOldest();
}

void Spool::DropOldest() {
  m_dropped += m_segments.front().records;
  Remove(m_segments.front().number);
}

std::vector<std::string> Spool::TakeNext(uint64_t* number) {
  const auto it = std::find_if(m_segments.begin(), m_segments.end(),
                               [this](const Segment& s) { return s.number >= m_nextTake; });
  if (it == m_segments.end()) return {};
  *number = it->number;
  m_nextTake = it->number + 1;
  if (m_activeIsLast && std::next(it) == m_segments.end()) {
    Flush();
    CloseActive();
  }
  std::vector<uint8_t> content;
  uint64_t good = 0;
  ReadFile(PathOf(*number), &content);
  return ParseSegment(content, &good);
}

void Spool::GiveBack(uint64_t number) { m_nextTake = std::min(m_nextTake, number); }

void Spool::Remove(uint64_t number) {
  const auto it = std::find_if(m_segments.begin(), m_segments.end(),
                               [number](const Segment& s) { return s.number == number; });
  if (it == m_segments.end()) return;
  if (m_activeIsLast && std::next(it) == m_segments.end()) {
    m_pending.clear();
    CloseActive();
  }
  std::error_code ec;
  std::filesystem::remove(PathOf(number), ec);
  m_bytes -= it->bytes;
  m_segments.erase(it);
}

}  // namespace mqtt
