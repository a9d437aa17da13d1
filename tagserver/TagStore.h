// The tags the program publishes, shared between the program's thread (which
// creates, updates and removes them) and the server thread (which reads them).
// Everything but the watchers list is guarded by one mutex. Tags of one name
// share one node: the node shows the latest update from any of them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "platform/Variant.h"
#include "tagserver/FolderTree.h"
#include "tagserver/TagProperties.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

class MonitoredItem;

// The values a tag can hold besides the program's Floats.
using TagScalar = std::variant<std::monostate, bool, int64_t, uint64_t, float, double, std::string>;

struct TagSample {
  bool present = false;  // false once every handle of the name was removed
  bool hasValue = false;
  float value = 0;
  // A tag's first value (or the type it was created with) fixes its type:
  // Float, or Boolean, an integer type, Double, String or DateTime, whose
  // values are held in typed instead.
  UaType type = UaType::Float;
  TagScalar typed;
  uint32_t status = 0;  // OPC UA status code
  int64_t sourceTime = 0;
  int64_t serverTime = 0;
};

struct TagNode {
  explicit TagNode(std::string n) : name(std::move(n)) {}
  const std::string name;
  TagSample sample;                      // guarded
  std::vector<int32_t> handles;          // guarded, in creation order
  std::vector<bool> writable;            // guarded, parallel to handles
  bool dirty = false;                    // guarded
  TagProperties properties;              // guarded
  std::vector<MonitoredItem*> watchers;  // server thread only
};

// The sample's value as clients read it.
UaVariant ValueOf(const TagSample& s);

class TagStore {
 public:
  // Returns the new handle, or -1 for an empty name.
  int32_t Create(const std::string& name, const VARIANT& value, uint16_t quality, bool writable);
  // The same, publishing the given type whatever the value (which may be
  // empty) holds; the first handle of a name fixes its node's type.
  int32_t Create(const std::string& name, UaType type, const VARIANT& value, uint16_t quality,
                 bool writable);
  // Both return false for an unknown handle.
  bool Update(int32_t handle, const VARIANT& value, uint16_t quality);
  // sourceTime 0 is the moment of the call.
  bool UpdateStatus(int32_t handle, const VARIANT& value, uint32_t status, int64_t sourceTime);
  bool Remove(int32_t handle);
  // Replaces the node's description, units and range; false for an unknown
  // handle. They go with the node's last handle.
  bool SetProperties(int32_t handle, TagProperties properties);
  // A tag that is a component of a folder of Folders(): -1 for an unknown
  // folder or an empty name.
  int32_t CreateInFolder(int32_t folder, const std::string& name, const VARIANT& value,
                         uint16_t quality, bool writable);
  // The folder goes with everything under it.
  bool RemoveFolder(int32_t folder);

  // Server thread: look-ups and snapshots. Nodes live as long as the store.
  TagNode* Find(const std::string& name);
  TagSample Sample(const TagNode* node);
  bool IsWritable(const TagNode* node);
  TagProperties Properties(const TagNode* node);
  // The handle that receives client writes: the first writable one.
  int32_t WriteHandle(const TagNode* node);
  std::vector<std::string> PresentNames();
  // Nodes changed since the last call, each once, with their samples.
  void TakeChanges(std::vector<std::pair<TagNode*, TagSample>>& out);
  // Called, outside the lock, when the first change after a TakeChanges
  // arrives: the server schedules its pass over the changes.
  void SetChangeNotifier(std::function<void()> notify);
  // The folders the program makes beside the tags; their variables are
  // tags of this store.
  FolderTree& Folders() { return m_folders; }

 private:
  void MarkDirty(TagNode* node, bool& notify);
  template <typename Fn>
  bool ChangeSample(int32_t handle, Fn&& change);

  std::mutex m_mutex;
  std::map<std::string, std::unique_ptr<TagNode>> m_nodes;
  std::unordered_map<int32_t, TagNode*> m_handles;
  std::vector<TagNode*> m_dirty;
  int32_t m_nNextHandle = 1;
  std::function<void()> m_notify;
  FolderTree m_folders;
};

}  // namespace tagserver
