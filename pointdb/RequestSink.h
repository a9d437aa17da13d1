// Where an endpoint hands back a request it accepted, once it is done with it
// (answered, failed or dropped): the scan that sent it, which every request
// carries, or, when that scan has been closed meanwhile, the runtime.
#pragma once

class CModbusMsg;

class IRequestSink {
 public:
  virtual ~IRequestSink() = default;
  // Takes ownership of the request.
  virtual void OnRequestDone(CModbusMsg* request) = 0;
};
