// Which scan publishes each tag-server handle, so that a client's write goes
// straight to the scan that owns the tag. Scans keep it as they publish and
// withdraw their tags. Main thread only.
#pragma once

#include <cstdint>
#include <unordered_map>

class CPelmoranDoc;

class TagOwners {
 public:
  // A handle of -1 (a tag the server refused) is owned by nobody.
  void Add(int32_t hTag, CPelmoranDoc& doc);
  void Remove(int32_t hTag);
  // Every handle the scan owns, when it closes.
  void RemoveScan(const CPelmoranDoc& doc);
  // Null when no open scan publishes the handle.
  CPelmoranDoc* Find(int32_t hTag) const;

 private:
  std::unordered_map<int32_t, CPelmoranDoc*> m_owners;
};
