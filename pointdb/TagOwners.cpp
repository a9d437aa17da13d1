#include "pointdb/TagOwners.h"

void TagOwners::Add(int32_t hTag, CPelmoranDoc& doc) {
  if (hTag != -1) m_owners[hTag] = &doc;
}

void TagOwners::Remove(int32_t hTag) { m_owners.erase(hTag); }

void TagOwners::RemoveScan(const CPelmoranDoc& doc) {
  std::erase_if(m_owners, [&](const auto& owner) { return owner.second == &doc; });
}

CPelmoranDoc* TagOwners::Find(int32_t hTag) const {
  const auto it = m_owners.find(hTag);
  return it == m_owners.end() ? nullptr : it->second;
}
