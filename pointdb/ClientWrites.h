// How a client's write ends, told to the client: the OPC UA status for the
// Modbus status its request came back with, and the completion of the write
// tokens a request carries. Main thread only, like everything in pointdb.
#pragma once

#include <cstdint>

class CModbusMsg;
class ITagObserver;

namespace clientwrites {

// Not a token: the write came through the classic callback and has been
// answered already.
constexpr uint64_t kNoToken = 0;

uint32_t StatusOf(int32_t modbusStatus);
// Completes the token where it came from: at the tag observer when it
// carries the observer's bit, else at the tag server.
void Complete(ITagObserver* observer, uint64_t token, uint32_t status);
// Every token the finished request answers, with the status it came back
// with; the request keeps none.
void CompleteAll(ITagObserver* observer, CModbusMsg& request);

}  // namespace clientwrites
