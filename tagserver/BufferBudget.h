// The bytes all connections of a server may hold in their buffers together.
// Connections and links keep it by shared pointer, for they may be destroyed
// after the server when its loop ends.
#pragma once

#include <cstddef>

namespace tagserver {

class BufferBudget {
 public:
  explicit BufferBudget(size_t total) : m_nTotal(total) {}

  // False, and nothing taken, when the bytes are not left.
  bool Take(size_t bytes);
  void Give(size_t bytes);
  size_t InUse() const { return m_nInUse; }

 private:
  size_t m_nTotal;
  size_t m_nInUse = 0;
};

}  // namespace tagserver
