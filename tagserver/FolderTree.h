// Folders the program makes beside its tags, each an Object of FolderType
// that organizes its sub-folders and has its variables as components.
// Shared like the tags: the program's thread makes and removes them, the
// server thread browses them; one mutex guards all of it.
//
// A folder's node id is its parent's id, ".", its name (just the name under
// the tag folder); a variable's is its folder's id, ".", its name. The ids
// stay readable and stable however often the program makes them anew.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tagserver {

class FolderTree {
 public:
  // The tag folder itself, as a parent.
  static constexpr int32_t kTagFolder = 0;

  struct Folder {
    std::string name;
    std::string parent;                            // node id; "" for the tag folder
    std::vector<std::string> folders;              // node ids, in creation order
    std::map<std::string, std::string> variables;  // node id -> browse name
  };

  // The new folder's handle; -1 for an unknown parent, an empty name or an
  // id some folder already has.
  int32_t Create(int32_t parent, const std::string& name);
  // Enters a variable of that name in the folder before its tag exists, so
  // that browsing never finds the tag outside it; its node id, or "" when
  // the folder is unknown or the name empty. BindVariable names the tag
  // handle that stands for it.
  std::string AddVariable(int32_t folder, const std::string& name);
  void BindVariable(int32_t tagHandle, const std::string& id);
  void RemoveVariable(int32_t tagHandle);
  // Removes the folder and everything under it; tagHandles gets the handles
  // of the variables that were in it. False for an unknown handle.
  bool Remove(int32_t folder, std::vector<int32_t>& tagHandles);

  // Server thread.
  bool Find(const std::string& id, Folder& out);
  // The folder holding a variable, and the variable's browse name.
  bool FolderOf(const std::string& variableId, std::string& folder, std::string& name);
  std::vector<std::string> TopFolders();

 private:
  struct Variable {
    std::string folder;
    std::string name;
    int handles = 0;  // variables of one name share a node
  };

  void RemoveTree(const std::string& id, std::vector<int32_t>& tagHandles);
  void ForgetMember(int32_t tagHandle);

  std::mutex m_mutex;
  std::map<std::string, Folder> m_folders;  // by node id
  std::map<int32_t, std::string> m_handles;
  std::map<std::string, Variable> m_variables;  // by node id
  std::map<int32_t, std::string> m_members;     // tag handle -> variable node id
  std::vector<std::string> m_top;
  int32_t m_nNextHandle = 1;
};

}  // namespace tagserver
