// The whole core in one object for tests: fake libraries, fake views, and the
// runtime with its endpoint registry and document template, the Modbus
// answers routed to it at once. Members go in the order the program tears
// them down: the runtime (endpoints closed, then the documents) first, then
// the views, then the libraries.
#pragma once

#include <string>

#include "FakeModbus.h"
#include "FakeTagServer.h"
#include "FakeView.h"
#include "link/EndpointRegistry.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"

struct CoreWorld {
  FakeModbus modbus;
  FakeTagServer tagServer;
  FakeViewFactory views;
  Runtime app{&views};
  EndpointRegistry& frame = app.m_endpoints;

  CoreWorld() { frame.ListenForAnswers(); }
  CoreWorld(const CoreWorld&) = delete;
  CoreWorld& operator=(const CoreWorld&) = delete;

  // A Modbus/TCP endpoint made as Endpoint New does, then brought up by the
  // library's connected event.
  CModbusConnection* ConnectedTcpEndpoint(const std::string& name, int port = 502) {
    EndpointChoice choice = frame.ProposeEndpoint();
    choice.strName = name;
    choice.nTcpPort = port;
    CModbusConnection* endpoint = frame.AddEndpoint(choice);
    frame.OnConnectionEvent(MBS_EVENT_CONNECTED, endpoint->m_hTcpConnection);
    return endpoint;
  }
  CModbusConnection* SerialEndpoint(const std::string& name, int comPort) {
    EndpointChoice choice = frame.ProposeEndpoint();
    choice.strName = name;
    choice.nCommPort = comPort;
    return frame.AddEndpoint(choice);
  }

  // A scan made as Data New does: definition, endpoint and data type.
  CPelmoranDoc* Scan(const std::string& endpoint, int pointType, int address, int length,
                     int dataType = 0, int slave = 1) {
    CModbusMsg definition;
    definition.m_nPointType = static_cast<uint8_t>(pointType);
    definition.m_nPointAddress = static_cast<uint16_t>(address);
    definition.m_nScanLength = static_cast<uint16_t>(length);
    definition.m_nSlaveNode = static_cast<uint8_t>(slave);
    app.m_nDefaultDataType = dataType;
    app.CreateScan(definition, endpoint);
    return app.m_docTemplate.GetDocument(app.GetDocumentCount() - 1);
  }
  FakeView* ViewOf(const CPelmoranDoc* doc) const { return views.ViewOf(doc); }
};
