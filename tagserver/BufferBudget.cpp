#include "tagserver/BufferBudget.h"

#include <algorithm>

namespace tagserver {

bool BufferBudget::Take(size_t bytes) {
  if (bytes > m_nTotal - m_nInUse) return false;
  m_nInUse += bytes;
  return true;
}

void BufferBudget::Give(size_t bytes) { m_nInUse -= std::min(bytes, m_nInUse); }

}  // namespace tagserver
