#include "tagserver/TagStore.h"

#include <algorithm>

#include "opcua/UaStatusCodes.h"
#include "tagserver/QualityMap.h"

namespace tagserver {

namespace {

void Apply(TagSample& s, const VARIANT& value, uint32_t status, int64_t sourceTime) {
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
  s.serverTime = UaNow();
  s.sourceTime = sourceTime != 0 ? sourceTime : s.serverTime;
}

void Apply(TagSample& s, const VARIANT& value, uint16_t quality) {
  Apply(s, value, StatusFromQuality(quality), 0);
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
    auto& slot = m_nodes[name];
    if (!slot) slot = std::make_unique<TagNode>(name);
    TagNode* node = slot.get();
    handle = m_nNextHandle++;
    node->handles.push_back(handle);
    node->writable.push_back(writable);
    m_handles[handle] = node;
    if (node->handles.size() == 1) node->sample.type = type;
    Apply(node->sample, value, quality);
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
    auto it = m_handles.find(handle);
    if (it == m_handles.end()) return false;
    change(it->second->sample);
    MarkDirty(it->second, notify);
    if (notify) notifier = m_notify;
  }
  if (notifier) notifier();
  return true;
}

bool TagStore::Update(int32_t handle, const VARIANT& value, uint16_t quality) {
  return ChangeSample(handle, [&](TagSample& s) { Apply(s, value, quality); });
}

bool TagStore::UpdateStatus(int32_t handle, const VARIANT& value, uint32_t status,
                            int64_t sourceTime) {
  return ChangeSample(handle, [&](TagSample& s) { Apply(s, value, status, sourceTime); });
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
    auto it = m_handles.find(handle);
    if (it == m_handles.end()) return false;
    TagNode* node = it->second;
    m_handles.erase(it);
    auto pos = std::find(node->handles.begin(), node->handles.end(), handle);
    node->writable.erase(node->writable.begin() + (pos - node->handles.begin()));
    node->handles.erase(pos);
    if (node->handles.empty()) {
      // The node object stays so that monitored items watching the name pick
      // it up again when the program creates the tag anew.
      node->sample = TagSample{};
      node->properties = TagProperties{};
      node->sample.status = UaStatus::BadNodeIdUnknown;
      node->sample.serverTime = UaNow();
      MarkDirty(node, notify);
      if (notify) notifier = m_notify;
    }
  }
  if (notifier) notifier();
  return true;
}

bool TagStore::SetProperties(int32_t handle, TagProperties properties) {
  std::lock_guard lock(m_mutex);
  auto it = m_handles.find(handle);
  if (it == m_handles.end()) return false;
  it->second->properties = std::move(properties);
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
  return std::find(node->writable.begin(), node->writable.end(), true) != node->writable.end();
}

int32_t TagStore::WriteHandle(const TagNode* node) {
  std::lock_guard lock(m_mutex);
  for (size_t i = 0; i < node->handles.size(); ++i)
    if (node->writable[i]) return node->handles[i];
  return -1;
}

std::vector<std::string> TagStore::PresentNames() {
  std::lock_guard lock(m_mutex);
  std::vector<std::string> names;
  names.reserve(m_nodes.size());
  for (const auto& [name, node] : m_nodes)
    if (node->sample.present) names.push_back(name);
  return names;
}

void TagStore::TakeChanges(std::vector<std::pair<TagNode*, TagSample>>& out) {
  out.clear();
  std::lock_guard lock(m_mutex);
  out.reserve(m_dirty.size());
  for (TagNode* node : m_dirty) {
    node->dirty = false;
    out.emplace_back(node, node->sample);
  }
  m_dirty.clear();
}

}  // namespace tagserver
