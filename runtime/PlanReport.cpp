#include "runtime/PlanReport.h"

#include <cstdio>
#include <map>

namespace {

constexpr double kMsPerSecond = 1000.0;

const char* TableName(PointType table) {
  switch (table) {
    case PointType::Coil: return "coils";
    case PointType::InputStatus: return "discrete inputs";
    case PointType::InputRegister: return "input registers";
    case PointType::HoldingRegister: return "holding registers";
  }
  return "?";
}

std::string Rate(double perSecond) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", perSecond);
  return text;
}

struct ClassTotals {
  int requests = 0;
  int registers = 0;
  int bits = 0;
};

std::string Plural(int count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string ReadLine(const PlannedRead& read) {
  const int last = read.start + read.count - 1;
  return "    " + std::string(TableName(read.table)) + " " + std::to_string(read.start) + "-" +
         std::to_string(last) + " (" + std::to_string(read.count) + "), " +
         Plural(static_cast<int>(read.tags.size()), "tag", "tags") + "\n";
}

}  // namespace

std::string DescribePlan(const DeviceMap& map, const DevicePlan& plan) {
  std::map<int32_t, ClassTotals> classes;
  for (const PlannedRead& read : plan.reads) {
    ClassTotals& totals = classes[read.pollClassMs];
    ++totals.requests;
    (IsBitPointType(read.table) ? totals.bits : totals.registers) += read.count;
  }
  double perSecond = 0;
  for (const auto& [pollMs, totals] : classes) perSecond += totals.requests * kMsPerSecond / pollMs;
  const DeviceLimits& l = map.limits;
  std::string text = map.endpoint + "." + map.DisplayName() + " (slave " +
                     std::to_string(map.slave) +
                     "): " + Plural(static_cast<int>(map.tags.size()), "tag", "tags") + " in " +
                     Plural(static_cast<int>(plan.reads.size()), "request", "requests") + ", " +
                     Rate(perSecond) + " requests/s\n";
  text += "  limits: " + std::to_string(l.maxRegisters) + " registers or " +
          std::to_string(l.maxBits) + " bits a request, gaps up to " + std::to_string(l.maxGap) +
          ", " + std::to_string(l.pauseMs) + " ms pause, writes " +
          (l.alwaysMultipleWrites ? "16/15 always" : "06/05 for one") + "\n";
  for (const auto& [pollMs, totals] : classes) {
    text += "  every " + std::to_string(pollMs) +
            " ms: " + Plural(totals.requests, "request", "requests") + ", " +
            Plural(totals.registers, "register", "registers") + ", " +
            Plural(totals.bits, "bit", "bits") + ", " +
            Rate(totals.requests * kMsPerSecond / pollMs) + " requests/s\n";
    for (const PlannedRead& read : plan.reads)
      if (read.pollClassMs == pollMs) text += ReadLine(read);
  }
  return text;
}
