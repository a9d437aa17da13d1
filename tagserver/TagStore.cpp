#include "tagserver/TagStore.h"

#include <algorithm>

#include "opcua/UaStatusCodes.h"
#include "tagserver/QualityMap.h"

namespace tagserver {

namespace {

constexpr uint32_t kUpdatesPerClockRead = 256;

void Apply(TagSample& s, const VARIANT& value, uint32_t status, int64_t sourceTime, int64_t now) {
  if (s.type == UaType::Float) {
    float f = 0;
    s.hasValue = FloatFromVariant(value, f);
    s.value = s.hasValue ? f : 0.0f;
  } else {
    // An empty value is no value: it would otherwise convert to a zero.
    s.hasValue = value.vt != VT_EMPTY && TypedFromVariant(value, s.type, s.typed);
  }
  s.status = status;
  // A tag restored from a file is announced as good before its first poll;
  // without a value that would show clients a good nothing.
  if (!s.hasValue && (s.status & 0x80000000u) == 0) s.status = UaStatus::BadWaitingForInitialData;
  s.serverTime = now;
  s.sourceTime = sourceTime != 0 ? sourceTime : now;
}

}  // namespace

UaVariant ValueOf(const TagSample& s) {
  if (s.type == UaType::Float) return UaVariant::Scalar(s.type, s.value);
  return UaVariant::Scalar(s.type, std::visit([](const auto& v) { return UaScalar{v}; }, s.typed));
}

void TagStore::SetChangeNotifier(std::function<void()> notify) {
  std::lock_guard lock(m_mutex);
  m_notify = std::move(notify);
}

// Reading the clock costs more than the rest of an update, and a program
// updates tags in bursts: the updates between two of the server's takes
// share one reading, renewed every kUpdatesPerClockRead updates so that a
// long burst is not stamped with its start. Without a server taking them,
// each update reads the clock.
int64_t TagStore::BatchTime() {
  if (m_nBatchUses == 0 || !m_notify) m_nBatchTime = UaNow();
  m_nBatchUses = (m_nBatchUses + 1) % kUpdatesPerClockRead;
  return m_nBatchTime;
}

TagNode* TagStore::NodeOf(int32_t handle) const {
  if (handle <= 0 || static_cast<size_t>(handle) >= m_handles.size()) return nullptr;
  return m_handles[static_cast<size_t>(handle)];
}

void TagStore::MarkDirty(TagNode* node, bool& notify) {
  if (node->dirty) return;
  node->dirty = true;
  notify = m_dirty.empty();
  m_dirty.push_back(node);
}

int32_t TagStore::Create(const std::string& name, const VARIANT& value, uint16_t quality,
                         bool writable) {
  return Create(name, TagTypeOf(value), value, quality, writable);
}

int32_t TagStore::Create(const std::string& name, UaType type, const VARIANT& value,
                         uint16_t quality, bool writable) {
  if (name.empty()) return -1;
  bool notify = false;
  std::function<void()> notifier;
  int32_t handle;
  {
    std::lock_guard lock(m_mutex);
    auto it = m_nodes.find(name);
    if (it == m_nodes.end()) {
      auto fresh = std::make_unique<TagNode>(name);
      std::string_view key = fresh->name;
      it = m_nodes.emplace(key, std::move(fresh)).first;
    }
    TagNode* node = it->second.get();
    handle = m_nNextHandle++;
    node->handles.push_back({handle, writable});
    if (m_handles.size() <= static_cast<size_t>(handle))
      m_handles.resize(static_cast<size_t>(handle) + 1, nullptr);
    m_handles[static_cast<size_t>(handle)] = node;
    if (node->handles.size() == 1) node->sample.type = type;
    Apply(node->sample, value, StatusFromQuality(quality), 0, BatchTime());
    node->sample.present = true;
    MarkDirty(node, notify);
    notifier = notify ? m_notify : nullptr;
  }
  if (notifier) notifier();
  return handle;
}

template <typename Fn>
bool TagStore::ChangeSample(int32_t handle, Fn&& change) {
  bool notify = false;
  std::function<void()> notifier;
  {
    std::lock_guard lock(m_mutex);
    TagNode* node = NodeOf(handle);
    if (node == nullptr) return false;
    change(node->sample, BatchTime());
    MarkDirty(node, notify);
    if (notify) notifier = m_notify;
  }
  if (notifier) notifier();
  return true;
}

bool TagStore::Update(int32_t handle, const VARIANT& value, uint16_t quality) {
  return ChangeSample(handle, [&](TagSample& s, int64_t now) {
    Apply(s, value, StatusFromQuality(quality), 0, now);
  });
}

bool TagStore::UpdateStatus(int32_t handle, const VARIANT& value, uint32_t status,
                            int64_t sourceTime) {
  return ChangeSample(handle, [&](TagSample& s, int64_t now) {
    Apply(s, value, status, sourceTime, now);
  });
}

int32_t TagStore::CreateInFolder(int32_t folder, const std::string& name, const VARIANT& value,
                                 uint16_t quality, bool writable) {
  std::string id = m_folders.AddVariable(folder, name);
  if (id.empty()) return -1;
  // A folder's tag takes its value's type exactly: Int32 and the 64-bit
  // integers too, which a tag of the tag folder publishes as Float.
  int32_t handle = Create(id, TagTypeOfVarType(value.vt), value, quality, writable);
  m_folders.BindVariable(handle, id);
  return handle;
}

bool TagStore::RemoveFolder(int32_t folder) {
  std::vector<int32_t> handles;
  if (!m_folders.Remove(folder, handles)) return false;
  for (int32_t handle : handles) Remove(handle);
  return true;
}

bool TagStore::Remove(int32_t handle) {
  m_folders.RemoveVariable(handle);
  bool notify = false;
  std::function<void()> notifier;
  {
    std::lock_guard lock(m_mutex);
    TagNode* node = NodeOf(handle);
    if (node == nullptr) return false;
    m_handles[static_cast<size_t>(handle)] = nullptr;
    std::erase_if(node->handles, [&](const TagNode::Handle& h) { return h.handle == handle; });
    if (node->handles.empty()) {
      // The node object stays so that monitored items watching the name pick
      // it up again when the program creates the tag anew.
      node->sample = TagSample{};
      node->properties = TagProperties{};
      node->sample.status = UaStatus::BadNodeIdUnknown;
      node->sample.serverTime = BatchTime();
      MarkDirty(node, notify);
      if (notify) notifier = m_notify;
    }
  }
  if (notifier) notifier();
  return true;
}

bool TagStore::SetProperties(int32_t handle, TagProperties properties) {
  std::lock_guard lock(m_mutex);
  TagNode* node = NodeOf(handle);
  if (!node) return false;
  node->properties = std::move(properties);
  return true;
}

TagProperties TagStore::Properties(const TagNode* node) {
  std::lock_guard lock(m_mutex);
  return node->properties;
}

TagNode* TagStore::Find(const std::string& name) {
  std::lock_guard lock(m_mutex);
  auto it = m_nodes.find(name);
  return it == m_nodes.end() ? nullptr : it->second.get();
}

TagSample TagStore::Sample(const TagNode* node) {
  std::lock_guard lock(m_mutex);
  return node->sample;
}

bool TagStore::IsWritable(const TagNode* node) {
  std::lock_guard lock(m_mutex);
  return std::any_of(node->handles.begin(), node->handles.end(),
                     [](const TagNode::Handle& h) { return h.writable; });
}

int32_t TagStore::WriteHandle(const TagNode* node) {
  std::lock_guard lock(m_mutex);
  for (const TagNode::Handle& h : node->handles)
    if (h.writable) return h.handle;
  return -1;
}

std::vector<std::string> TagStore::PresentNames() {
  std::lock_guard lock(m_mutex);
  std::vector<std::string> names;
  names.reserve(m_nodes.size());
  for (const auto& [name, node] : m_nodes)
    if (node->sample.present) names.emplace_back(name);
  return names;
}

bool TagStore::TakeChanges(std::vector<std::pair<TagNode*, TagSample>>& out, size_t max) {
  out.clear();
  std::lock_guard lock(m_mutex);
  const size_t n = std::min(max, m_dirty.size());
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    TagNode* node = m_dirty.front();
    m_dirty.pop_front();
    node->dirty = false;
    out.emplace_back(node, node->sample);
  }
  m_nBatchUses = 0;
  return !m_dirty.empty();
}

}  // namespace tagserver
