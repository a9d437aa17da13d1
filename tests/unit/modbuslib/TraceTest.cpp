// The frame trace: what went on the wire and what came back, byte for byte,
// as the slave saw and sent it.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "CallbackRecorder.h"
#include "ScriptedSlave.h"

using namespace std::chrono_literals;

namespace {

class TraceRecorder {
 public:
  static void onTrace(int handle, int direction, const uint8_t* bytes, int length) {
    std::lock_guard lock(mutex_);
    Frames& frames = direction == MBS_TRACE_SENT ? sent_ : received_;
    frames.push_back({handle, ScriptedSlave::Bytes(bytes, bytes + length)});
  }
  struct Frame {
    int handle;
    ScriptedSlave::Bytes bytes;
  };
  using Frames = std::vector<Frame>;
  static Frames sent() {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  // Reads may split an answer: what came back, joined.
  static ScriptedSlave::Bytes receivedBy(int handle) {
    std::lock_guard lock(mutex_);
    ScriptedSlave::Bytes all;
    for (const Frame& frame : received_)
      if (frame.handle == handle) all.insert(all.end(), frame.bytes.begin(), frame.bytes.end());
    return all;
  }

 private:
  static inline std::mutex mutex_;
  static inline Frames sent_;
  static inline Frames received_;
};

TEST(FrameTrace, EveryFrameSentAndEveryByteReceivedIsTraced) {
  const ScriptedSlave::Bytes answer = ScriptedSlave::rtu({1, 3, 2, 0x12, 0x34});
  ScriptedSlave slave([&](const ScriptedSlave::Bytes&) { return answer; });
  const SerialSettings settings = serialSettings8N1();
  const int handle = ConnectRTU(slave.comPort(), 1000, &settings);
  ASSERT_NE(handle, -1);
  EnableModbusCallback(handle, &CallbackRecorder::onResponse);
  EnableTraceCallback(&TraceRecorder::onTrace);
  std::vector<uint16_t> words;
  ASSERT_EQ(CallbackRecorder::exchange(handle, RequestHeader{1, 3, 1, 1}, words), MBS_OK);
  EnableTraceCallback(nullptr);
  ASSERT_EQ(CallbackRecorder::exchange(handle, RequestHeader{1, 3, 1, 1}, words), MBS_OK);

  const TraceRecorder::Frames sent = TraceRecorder::sent();
  ASSERT_EQ(sent.size(), 1u) << "nothing is traced once the hook is taken away";
  EXPECT_EQ(sent[0].handle, handle);
  EXPECT_EQ(sent[0].bytes, ScriptedSlave::rtu({1, 3, 0, 0, 0, 1}));
  EXPECT_EQ(sent[0].bytes, slave.requests().at(0));
  EXPECT_EQ(TraceRecorder::receivedBy(handle), answer);
  CloseConnection(handle);
}

}  // namespace
