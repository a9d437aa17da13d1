#include "tagserver/HeldWrites.h"

#include <algorithm>

#include "opcua/UaStatusCodes.h"
#include "tagserver/RequestContext.h"
#include "tagserver/UaConnection.h"
#include "tagserver/UaNodeIds.h"
#include "tagserver/UaServer.h"

namespace tagserver {

HeldWrites::~HeldWrites() {
  // The timers go with their requests; none of them is answered any more.
  m_tokens.clear();
}

void HeldWrites::Hold(const RequestContext& ctx, std::vector<uint32_t> results,
                      const std::vector<uint64_t>& tokens) {
  auto held = std::make_shared<Held>(m_io);
  held->connection = ctx.connection;
  held->requestId = ctx.requestId;
  held->requestHandle = ctx.requestHandle;
  held->results = std::move(results);
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i] == 0) continue;
    held->outstanding.push_back(tokens[i]);
    m_tokens.emplace(tokens[i], std::make_pair(held, i));
  }
  held->timer.expires_after(m_bound);
  // Weakly: a request answered or dropped must not be kept by its timer.
  held->timer.async_wait([this, weak = std::weak_ptr<Held>(held)](const asio::error_code& ec) {
    if (auto h = weak.lock(); h && !ec) Expire(h);
  });
}

void HeldWrites::Complete(uint64_t token, uint32_t status) {
  auto it = m_tokens.find(token);
  if (it == m_tokens.end()) return;
  auto [held, index] = it->second;
  m_tokens.erase(it);
  held->results[index] = status;
  std::erase(held->outstanding, token);
  if (held->outstanding.empty()) Answer(held);
}

void HeldWrites::Expire(const std::shared_ptr<Held>& held) {
  for (uint64_t token : held->outstanding) {
    held->results[m_tokens.at(token).second] = UaStatus::BadTimeout;
    m_tokens.erase(token);
  }
  held->outstanding.clear();
  Answer(held);
}

void HeldWrites::Answer(const std::shared_ptr<Held>& held) {
  held->timer.cancel();
  std::shared_ptr<UaConnection> conn = held->connection.lock();
  if (!conn || !conn->IsOpen()) return;
  UaEncoder out;
  out.NodeId(UaNodeId::Num(0, UaId::WriteResponse_Encoding_DefaultBinary));
  UaServer::WriteResponseHeader(out, held->requestHandle, UaStatus::Good);
  out.StatusArray(held->results);
  out.EmptyArray();
  if (conn->MaxResponseSize() != 0 && out.Size() > conn->MaxResponseSize()) {
    conn->SendMessage(held->requestId,
                      UaServer::ServiceFault(held->requestHandle, UaStatus::BadResponseTooLarge));
    return;
  }
  conn->SendMessage(held->requestId, out.Buffer());
}

}  // namespace tagserver
