#include "pointdb/ReadPlanner.h"

#include <algorithm>
#include <tuple>

#include "pointdb/DataTypeInfo.h"

namespace {

// A tag as the planner sees it: where it sits and what it takes.
struct Span {
  int32_t pollMs;
  PointType table;
  int32_t start;
  int32_t end;  // one past the last register (bit)
  int32_t tag;
};

std::vector<Span> SpansOf(const DeviceMap& map) {
  std::vector<Span> spans;
  spans.reserve(map.tags.size());
  for (size_t i = 0; i < map.tags.size(); ++i) {
    const MapTag& tag = map.tags[i];
    const int32_t pollMs = tag.pollClassMs > 0 ? tag.pollClassMs : map.limits.defaultPollMs;
    spans.push_back(
        {pollMs, tag.table, tag.offset, tag.offset + MapTagWidth(tag), static_cast<int32_t>(i)});
  }
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) {
    return std::tie(a.pollMs, a.table, a.start, a.end, a.tag) <
           std::tie(b.pollMs, b.table, b.start, b.end, b.tag);
  });
  return spans;
}

// The device's limit, kept within what the protocol allows.
int32_t MostPerRead(const DeviceLimits& limits, PointType table) {
  if (IsBitPointType(table)) return std::clamp(limits.maxBits, 1, kMaxReadBits);
  return std::clamp(limits.maxRegisters, 1, kMaxReadRegisters);
}

bool Joins(const PlannedRead& read, int32_t readEnd, const Span& span, const DeviceLimits& limits) {
  if (span.pollMs != read.pollClassMs || span.table != read.table) return false;
  const int32_t gap = span.start - readEnd;
  const int32_t newEnd = std::max(readEnd, span.end);
  return gap <= std::max(limits.maxGap, 0) &&
         newEnd - read.start <= MostPerRead(limits, read.table);
}

}  // namespace

int32_t MapTagWidth(const MapTag& tag) {
  if (IsBitPointType(tag.table)) return 1;
  return RegistersOf(static_cast<int32_t>(tag.type), tag.format);
}

// Greedy from the lowest address: each read takes every tag it can before the
// next begins, which gives the fewest reads, since the gap and size rules only
// ever look at neighbours in address order.
DevicePlan PlanReads(const DeviceMap& map) {
  DevicePlan plan;
  int32_t readEnd = 0;
  for (const Span& span : SpansOf(map)) {
    if (plan.reads.empty() || !Joins(plan.reads.back(), readEnd, span, map.limits)) {
      PlannedRead read;
      read.table = span.table;
      read.start = static_cast<uint16_t>(span.start);
      read.pollClassMs = span.pollMs;
      plan.reads.push_back(std::move(read));
      readEnd = span.start;
    }
    PlannedRead& read = plan.reads.back();
    readEnd = std::max(readEnd, span.end);
    read.count = static_cast<uint16_t>(readEnd - read.start);
    read.tags.push_back(span.tag);
  }
  return plan;
}
