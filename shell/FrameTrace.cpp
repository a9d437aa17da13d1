#include "shell/FrameTrace.h"

#include <QDateTime>
#include <vector>

#include "link/EndpointRegistry.h"
#include "modbuslib/modbuslib.h"
#include "shell/MainThread.h"

namespace {

struct Target {
  EndpointRegistry* endpoints = nullptr;
  FrameTrace::LineWriter write;
};

// Main thread only.
Target& CurrentTarget() {
  static Target target;
  return target;
}

}  // namespace

void FrameTrace::Start(EndpointRegistry& endpoints, std::FILE* out) {
  Start(endpoints, [out](const std::string& line) {
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
  });
}

void FrameTrace::Start(EndpointRegistry& endpoints, LineWriter write) {
  CurrentTarget() = Target{&endpoints, std::move(write)};
  EnableTraceCallback(&FrameTrace::OnTrace);
}

void FrameTrace::Stop() {
  EnableTraceCallback(nullptr);
  CurrentTarget() = Target{};
}

bool FrameTrace::IsRunning() { return CurrentTarget().endpoints != nullptr; }

void FrameTrace::OnTrace(int handle, int direction, const uint8_t* bytes, int length) {
  // Timed when the bytes moved, not when the main thread gets round to them.
  std::string time = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toStdString();
  std::vector<uint8_t> copy(bytes, bytes + length);
  PostToMainThread([handle, direction, time, copy] {
    const Target& target = CurrentTarget();
    if (target.endpoints == nullptr) return;
    target.write(FormatLine(time, EndpointName(*target.endpoints, handle), direction, copy.data(),
                            static_cast<int>(copy.size())));
  });
}

std::string FrameTrace::FormatLine(const std::string& time, const std::string& endpoint,
                                   int direction, const uint8_t* bytes, int length) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string line =
      time + " pelmoran: trace " + endpoint + (direction == MBS_TRACE_SENT ? " sent" : " received");
  for (int i = 0; i < length; ++i) {
    line += ' ';
    line += kDigits[bytes[i] >> 4];
    line += kDigits[bytes[i] & 0x0F];
  }
  return line;
}

std::string FrameTrace::EndpointName(const EndpointRegistry& endpoints, int handle) {
  for (const auto& endpoint : endpoints.m_endpoints)
    if (endpoint->m_hConnection == handle || endpoint->m_hTcpConnection == handle)
      return endpoint->m_strName;
  return "handle " + std::to_string(handle);
}
