#include <gtest/gtest.h>

#include "link/EndpointRegistry.h"
#include "modbuslib/modbuslib.h"
#include "shell/CommandLine.h"
#include "shell/FrameTrace.h"

namespace {

TEST(FrameTrace, LinesCarryTimeEndpointDirectionAndUpperCaseHex) {
  struct Case {
    int direction;
    std::vector<uint8_t> bytes;
    const char* line;
  } cases[] = {
      {MBS_TRACE_SENT,
       {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A},
       "T pelmoran: trace COM1 sent 01 03 00 00 00 01 84 0A"},
      {MBS_TRACE_RECEIVED, {0xFF, 0x00, 0xab}, "T pelmoran: trace COM1 received FF 00 AB"},
      {MBS_TRACE_RECEIVED, {}, "T pelmoran: trace COM1 received"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FrameTrace::FormatLine("T", "COM1", c.direction, c.bytes.data(),
                                     static_cast<int>(c.bytes.size())),
              c.line);
}

TEST(FrameTrace, AHandleIsNamedByTheEndpointThatHoldsItInUseOrWaiting) {
  EndpointRegistry endpoints;
  auto up = std::make_unique<CModbusConnection>();
  up->m_strName = "UP";
  up->m_hConnection = 7;
  up->m_hTcpConnection = 7;
  auto pending = std::make_unique<CModbusConnection>();
  pending->m_strName = "PENDING";
  pending->m_hTcpConnection = 9;
  endpoints.Adopt(std::move(up));
  endpoints.Adopt(std::move(pending));
  EXPECT_EQ(FrameTrace::EndpointName(endpoints, 7), "UP");
  EXPECT_EQ(FrameTrace::EndpointName(endpoints, 9), "PENDING");
  EXPECT_EQ(FrameTrace::EndpointName(endpoints, 4), "handle 4");
  // Not connected through a library: nothing to close at the end.
  endpoints.m_endpoints[0]->m_hConnection = -1;
  endpoints.m_endpoints[0]->m_hTcpConnection = -1;
  endpoints.m_endpoints[1]->m_hTcpConnection = -1;
}

TEST(FrameTrace, TheSwitchIsReadInAnyWritingBesideTheOthers) {
  struct Case {
    const char* text;
    bool trace;
    bool traceFile;
    bool headless;
  } cases[] = {{"-Trace", true, false, false},       {"/trace -Headless", true, false, true},
               {"-Headless", false, false, true},    {"-Headless -TraceFile", false, true, true},
               {"-Trace=File", false, false, false}, {"-RegServer -Trace", false, false, false}};
  for (const Case& c : cases) {
    CommandLine line(c.text);
    EXPECT_EQ(line.m_bTrace, c.trace) << c.text;
    EXPECT_EQ(line.m_bTraceFile, c.traceFile) << c.text;
    EXPECT_EQ(line.m_bHeadless, c.headless) << c.text;
  }
}

}  // namespace
