#include "tagserver/FolderTree.h"

#include <algorithm>

namespace tagserver {

int32_t FolderTree::Create(int32_t parent, const std::string& name) {
  if (name.empty()) return -1;
  std::lock_guard lock(m_mutex);
  std::string parentId;
  if (parent != kTagFolder) {
    auto it = m_handles.find(parent);
    if (it == m_handles.end()) return -1;
    parentId = it->second;
  }
  std::string id = parentId.empty() ? name : parentId + "." + name;
  if (m_folders.count(id)) return -1;
  m_folders[id] = Folder{name, parentId, {}, {}};
  (parentId.empty() ? m_top : m_folders[parentId].folders).push_back(id);
  int32_t handle = m_nNextHandle++;
  m_handles[handle] = id;
  return handle;
}

std::string FolderTree::AddVariable(int32_t folder, const std::string& name) {
  std::lock_guard lock(m_mutex);
  auto it = m_handles.find(folder);
  if (it == m_handles.end() || name.empty()) return "";
  std::string id = it->second + "." + name;
  m_folders[it->second].variables[id] = name;
  Variable& variable = m_variables[id];
  variable.folder = it->second;
  variable.name = name;
  ++variable.handles;
  return id;
}

void FolderTree::BindVariable(int32_t tagHandle, const std::string& id) {
  std::lock_guard lock(m_mutex);
  m_members[tagHandle] = id;
}

void FolderTree::RemoveVariable(int32_t tagHandle) {
  std::lock_guard lock(m_mutex);
  ForgetMember(tagHandle);
}

// A shared node leaves its folder with its last handle.
void FolderTree::ForgetMember(int32_t tagHandle) {
  auto member = m_members.find(tagHandle);
  if (member == m_members.end()) return;
  auto variable = m_variables.find(member->second);
  m_members.erase(member);
  if (--variable->second.handles > 0) return;
  auto folder = m_folders.find(variable->second.folder);
  if (folder != m_folders.end()) folder->second.variables.erase(variable->first);
  m_variables.erase(variable);
}

bool FolderTree::Remove(int32_t folder, std::vector<int32_t>& tagHandles) {
  std::lock_guard lock(m_mutex);
  auto it = m_handles.find(folder);
  if (it == m_handles.end()) return false;
  std::string id = it->second;
  const std::string parentId = m_folders[id].parent;
  auto& siblings = parentId.empty() ? m_top : m_folders[parentId].folders;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), id), siblings.end());
  RemoveTree(id, tagHandles);
  return true;
}

void FolderTree::RemoveTree(const std::string& id, std::vector<int32_t>& tagHandles) {
  for (const std::string& child : m_folders[id].folders) RemoveTree(child, tagHandles);
  std::vector<int32_t> members;
  for (const auto& [handle, variableId] : m_members)
    if (m_variables[variableId].folder == id) members.push_back(handle);
  for (int32_t handle : members) ForgetMember(handle);
  tagHandles.insert(tagHandles.end(), members.begin(), members.end());
  std::erase_if(m_handles, [&](const auto& entry) { return entry.second == id; });
  m_folders.erase(id);
}

bool FolderTree::Find(const std::string& id, Folder& out) {
  std::lock_guard lock(m_mutex);
  auto it = m_folders.find(id);
  if (it == m_folders.end()) return false;
  out = it->second;
  return true;
}

bool FolderTree::FolderOf(const std::string& variableId, std::string& folder, std::string& name) {
  std::lock_guard lock(m_mutex);
  auto it = m_variables.find(variableId);
  if (it == m_variables.end()) return false;
  folder = it->second.folder;
  name = it->second.name;
  return true;
}

std::vector<std::string> FolderTree::TopFolders() {
  std::lock_guard lock(m_mutex);
  return m_top;
}

}  // namespace tagserver
