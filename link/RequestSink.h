// Where an endpoint hands back every request it accepted, once it is done
// with it (answered, failed or dropped). The runtime routes it to the scan
// that sent it.
#pragma once

class CModbusMsg;

class IRequestSink {
 public:
  virtual ~IRequestSink() = default;
  // Takes ownership of the request.
  virtual void OnRequestDone(CModbusMsg* request) = 0;
};
