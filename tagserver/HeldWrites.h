// Write responses that wait for the program: a Write whose values the program
// completes later is held here, per request, while the server goes on with
// every other request. It is answered when its last value is completed, or
// when the bound runs out, whichever comes first.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace tagserver {

class UaConnection;
struct RequestContext;

class HeldWrites {
 public:
  static constexpr std::chrono::milliseconds kDefaultBound{10000};

  explicit HeldWrites(asio::io_context& io) : m_io(io) {}
  ~HeldWrites();
  HeldWrites(const HeldWrites&) = delete;
  HeldWrites& operator=(const HeldWrites&) = delete;

  // Never 0: 0 marks a value that was answered at once.
  uint64_t NextToken() { return m_nNextToken++; }
  void SetBound(std::chrono::milliseconds bound) { m_bound = bound; }
  // results: one per value of the request; tokens: parallel to it, the
  // token of each value still out, 0 for those already answered.
  void Hold(const RequestContext& ctx, std::vector<uint32_t> results,
            const std::vector<uint64_t>& tokens);
  // An unknown token (answered by the bound already) is ignored.
  void Complete(uint64_t token, uint32_t status);
  size_t OutstandingCount() const { return m_tokens.size(); }

 private:
  struct Held {
    explicit Held(asio::io_context& io) : timer(io) {}
    std::weak_ptr<UaConnection> connection;
    uint32_t requestId = 0;
    uint32_t requestHandle = 0;
    std::vector<uint32_t> results;
    std::vector<uint64_t> outstanding;
    asio::steady_timer timer;
  };

  void Expire(const std::shared_ptr<Held>& held);
  void Answer(const std::shared_ptr<Held>& held);

  asio::io_context& m_io;
  std::chrono::milliseconds m_bound = kDefaultBound;
  uint64_t m_nNextToken = 1;
  // Token to its request and the index of its value there.
  std::unordered_map<uint64_t, std::pair<std::shared_ptr<Held>, size_t>> m_tokens;
};

}  // namespace tagserver
