// What clients browse and read: the reduced namespace 0 and, in namespace 1,
// the tag folder (ns=1;i=1, named after the ProgID, organized by Objects) and
// one Float variable ns=1;s=<tag name> per published tag name; beside the
// tags, the folders the program makes (FolderTree) with their variables. A
// tag given units or a range is an analog item with its EngineeringUnits and
// EURange as properties, ns=1;s=<tag id>.EngineeringUnits and .EURange.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "tagserver/Ns0Table.h"
#include "tagserver/TagStore.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

struct ServerInfo {
  std::string applicationUri;
  std::string productUri;
  std::string productName;
  std::string manufacturer;
  std::string softwareVersion;
  std::string folderName;
  std::string namespaceUri;
  int64_t startTime = 0;
  double minSamplingMs = 250;
};

struct NodeHeader {
  UaNodeId id;
  uint8_t nodeClass = 0;
  UaQualifiedName browseName;
  UaLocalizedText displayName;
  UaNodeId typeDefinition;
};

struct NodeReference {
  uint32_t type;
  bool forward;
  UaNodeId target;
};

struct BrowseFilter {
  uint32_t direction = 0;  // 0 forward, 1 inverse, 2 both
  UaNodeId referenceType;  // null: every type
  bool includeSubtypes = true;
  uint32_t nodeClassMask = 0;
};

enum NodeClassBits : uint8_t {
  kObject = 1,
  kVariable = 2,
  kObjectType = 8,
  kVariableType = 16,
  kReferenceType = 32,
  kDataType = 64,
};

class AddressSpace {
 public:
  AddressSpace(TagStore& tags, ServerInfo info);

  const ServerInfo& Info() const { return m_info; }
  static UaNodeId FolderId() { return UaNodeId::Num(1, 1); }
  bool Header(const UaNodeId& id, NodeHeader& out);
  // Every reference of a node that passes the filter, with the target's
  // header; the status code of the failure otherwise.
  uint32_t Browse(const UaNodeId& id, const BrowseFilter& filter,
                  std::vector<std::pair<NodeReference, NodeHeader>>& out);
  bool IsSubtype(uint32_t type, uint32_t base) const;
  UaDataValue Read(const UaNodeId& id, uint32_t attribute, uint32_t timestamps);
  // The present tag behind a node id, or null.
  TagNode* Tag(const UaNodeId& id);
  TagStore& Tags() { return m_tags; }

 private:
  struct Ns0Entry {
    const Ns0Node* def;
    std::vector<NodeReference> refs;
  };

  void References(const UaNodeId& id, std::vector<NodeReference>& out);
  bool ProgramFolderHeader(const std::string& id, NodeHeader& out);
  uint32_t VariableTypeOf(TagNode* tag);
  // The tag a property node belongs to, and which property it is; null when
  // the id names no property of a present tag.
  TagNode* PropertyTag(const UaNodeId& id, TagProperty& which);
  bool PropertyHeader(const UaNodeId& id, NodeHeader& out);
  std::string Description(const UaNodeId& id);
  UaDataValue ReadProperty(const UaNodeId& id, uint32_t attribute);
  void ProgramFolderReferences(const FolderTree::Folder& folder, std::vector<NodeReference>& out);
  bool RefPasses(const NodeReference& ref, const BrowseFilter& filter) const;
  UaDataValue ReadNs0(const Ns0Entry& e, uint32_t attribute);
  UaDataValue ReadFolder(uint32_t attribute);
  UaDataValue ReadTag(TagNode* tag, uint32_t attribute, uint32_t timestamps);
  UaVariant Ns0Value(uint32_t id) const;
  UaExtensionObject ServerStatus() const;
  void BuildInfo(class UaEncoder& enc) const;

  TagStore& m_tags;
  ServerInfo m_info;
  std::unordered_map<uint32_t, Ns0Entry> m_ns0;
  std::unordered_map<uint32_t, uint32_t> m_supertype;  // reference type -> its supertype
};

}  // namespace tagserver
