#include "tagserver/AddressSpace.h"

#include "opcua/UaStatusCodes.h"
#include "tagserver/UaEncoder.h"
#include "tagserver/UaLimits.h"
#include "tagserver/UaNodeIds.h"

namespace tagserver {

namespace {

constexpr uint32_t kOrganizes = 35;
constexpr uint32_t kHasTypeDefinition = 40;
constexpr uint32_t kHasSubtype = 45;
constexpr uint32_t kHasProperty = 46;
constexpr uint32_t kHasComponent = 47;
constexpr uint32_t kObjectsFolder = 85;
constexpr uint32_t kFolderType = 61;
constexpr uint32_t kBaseDataVariableType = 63;
constexpr uint32_t kPropertyType = 68;
constexpr uint32_t kBaseAnalogType = 15318;
constexpr uint32_t kAnalogItemType = 2368;
constexpr TagProperty kTagProperties[] = {TagProperty::EngineeringUnits, TagProperty::EURange};
constexpr uint8_t kAccessRead = 1;
constexpr uint8_t kAccessWrite = 2;

UaDataValue Bad(uint32_t status) {
  UaDataValue dv;
  dv.hasStatus = true;
  dv.status = status;
  return dv;
}

UaDataValue Good(UaVariant v) {
  UaDataValue dv;
  dv.hasValue = true;
  dv.value = std::move(v);
  return dv;
}

UaVariant Str(std::string s) { return UaVariant::Scalar(UaType::String, std::move(s)); }
UaVariant U32(uint32_t v) { return UaVariant::Scalar(UaType::UInt32, uint64_t{v}); }
UaVariant I32(int32_t v) { return UaVariant::Scalar(UaType::Int32, int64_t{v}); }
UaVariant Bool(bool v) { return UaVariant::Scalar(UaType::Boolean, v); }
UaVariant Node(UaNodeId id) { return UaVariant::Scalar(UaType::NodeId, std::move(id)); }
UaVariant Text(std::string t) {
  return UaVariant::Scalar(UaType::LocalizedText, UaLocalizedText{"", std::move(t)});
}
UaVariant Time(int64_t t) { return UaVariant::Scalar(UaType::DateTime, t); }

UaVariant Strings(std::vector<std::string> list) {
  std::vector<UaScalar> values(list.begin(), list.end());
  return UaVariant::Array(UaType::String, std::move(values));
}

// Attributes every node class has; the rest depend on the class.
bool IsCommonAttribute(uint32_t a) { return a >= UaId::AttrNodeId && a <= UaId::AttrUserWriteMask; }

bool ClassHasAttribute(uint8_t nodeClass, uint32_t a) {
  if (IsCommonAttribute(a)) return true;
  switch (nodeClass) {
    case kObject: return a == UaId::AttrEventNotifier;
    case kVariable:
      return (a >= UaId::AttrValue && a <= UaId::AttrHistorizing) || a == UaId::AttrAccessLevelEx;
    case kObjectType:
    case kDataType: return a == UaId::AttrIsAbstract;
    case kVariableType:
      return a == UaId::AttrIsAbstract || (a >= UaId::AttrValue && a <= UaId::AttrArrayDimensions);
    case kReferenceType: return a >= UaId::AttrIsAbstract && a <= UaId::AttrInverseName;
    default: return false;
  }
}

bool IsNumeric(UaType type) { return type >= UaType::SByte && type <= UaType::Double; }

UaNodeId PropertyId(const std::string& tagId, TagProperty property) {
  return UaNodeId::Str(1, tagId + "." + std::string(BrowseNameOf(property)));
}

}  // namespace

AddressSpace::AddressSpace(TagStore& tags, ServerInfo info)
    : m_tags(tags), m_info(std::move(info)) {
  for (size_t i = 0; i < kNs0NodeCount; ++i) m_ns0[kNs0Nodes[i].id] = Ns0Entry{&kNs0Nodes[i], {}};
  for (size_t i = 0; i < kNs0ReferenceCount; ++i) {
    const Ns0Reference& r = kNs0References[i];
    m_ns0[r.source].refs.push_back({r.type, true, UaNodeId::Num(0, r.target)});
    m_ns0[r.target].refs.push_back({r.type, false, UaNodeId::Num(0, r.source)});
    if (r.type == kHasSubtype && m_ns0[r.source].def->nodeClass == kReferenceType)
      m_supertype[r.target] = r.source;
  }
  m_ns0[kObjectsFolder].refs.push_back({kOrganizes, true, FolderId()});
}

bool AddressSpace::IsSubtype(uint32_t type, uint32_t base) const {
  for (int hops = 0; hops < 32; ++hops) {
    if (type == base) return true;
    auto it = m_supertype.find(type);
    if (it == m_supertype.end()) return false;
    type = it->second;
  }
  return false;
}

TagNode* AddressSpace::Tag(const UaNodeId& id) {
  if (id.ns != 1 || id.kind != UaNodeId::Kind::String) return nullptr;
  TagNode* tag = m_tags.Find(id.text);
  if (tag == nullptr || !m_tags.Sample(tag).present) return nullptr;
  return tag;
}

bool AddressSpace::Header(const UaNodeId& id, NodeHeader& out) {
  out.id = id;
  if (id.ns == 0 && id.kind == UaNodeId::Kind::Numeric) {
    auto it = m_ns0.find(id.numeric);
    if (it == m_ns0.end() || it->second.def == nullptr) return false;
    const Ns0Node* d = it->second.def;
    out.nodeClass = d->nodeClass;
    out.browseName = {0, d->browseName};
    out.displayName = {"", d->displayName};
    out.typeDefinition = {};
    for (const auto& r : it->second.refs)
      if (r.forward && r.type == kHasTypeDefinition) out.typeDefinition = r.target;
    return true;
  }
  if (id == FolderId()) {
    out.nodeClass = kObject;
    out.browseName = {1, m_info.folderName};
    out.displayName = {"", m_info.folderName};
    out.typeDefinition = UaNodeId::Num(0, kFolderType);
    return true;
  }
  if (id.ns == 1 && id.kind == UaNodeId::Kind::String && ProgramFolderHeader(id.text, out))
    return true;
  TagNode* tag = Tag(id);
  if (tag == nullptr) return PropertyHeader(id, out);
  std::string folder, name = id.text;
  m_tags.Folders().FolderOf(id.text, folder, name);
  out.nodeClass = kVariable;
  out.browseName = {1, name};
  out.displayName = {"", name};
  out.typeDefinition = UaNodeId::Num(0, VariableTypeOf(tag));
  return true;
}

// Units or a range make a numeric tag an analog item: an AnalogItemType when
// its range is known (that type requires EURange), else a BaseAnalogType.
uint32_t AddressSpace::VariableTypeOf(TagNode* tag) {
  if (!IsNumeric(m_tags.Sample(tag).type)) return kBaseDataVariableType;
  TagProperties properties = m_tags.Properties(tag);
  if (properties.hasRange) return kAnalogItemType;
  return properties.units.empty() ? kBaseDataVariableType : kBaseAnalogType;
}

// A property node is named after its tag: a real tag of that name wins.
TagNode* AddressSpace::PropertyTag(const UaNodeId& id, TagProperty& which) {
  if (id.ns != 1 || id.kind != UaNodeId::Kind::String) return nullptr;
  for (TagProperty property : kTagProperties) {
    std::string suffix = "." + std::string(BrowseNameOf(property));
    if (id.text.size() <= suffix.size() || !id.text.ends_with(suffix)) continue;
    TagNode* tag = Tag(UaNodeId::Str(1, id.text.substr(0, id.text.size() - suffix.size())));
    if (tag == nullptr || !Has(m_tags.Properties(tag), property)) continue;
    which = property;
    return tag;
  }
  return nullptr;
}

bool AddressSpace::PropertyHeader(const UaNodeId& id, NodeHeader& out) {
  TagProperty which{};
  if (PropertyTag(id, which) == nullptr) return false;
  std::string name(BrowseNameOf(which));
  out.nodeClass = kVariable;
  out.browseName = {0, name};
  out.displayName = {"", name};
  out.typeDefinition = UaNodeId::Num(0, kPropertyType);
  return true;
}

bool AddressSpace::ProgramFolderHeader(const std::string& id, NodeHeader& out) {
  FolderTree::Folder folder;
  if (!m_tags.Folders().Find(id, folder)) return false;
  out.nodeClass = kObject;
  out.browseName = {1, folder.name};
  out.displayName = {"", folder.name};
  out.typeDefinition = UaNodeId::Num(0, kFolderType);
  return true;
}

void AddressSpace::References(const UaNodeId& id, std::vector<NodeReference>& out) {
  if (id.ns == 0 && id.kind == UaNodeId::Kind::Numeric) {
    out = m_ns0.at(id.numeric).refs;
    return;
  }
  if (id == FolderId()) {
    out.push_back({kOrganizes, false, UaNodeId::Num(0, kObjectsFolder)});
    out.push_back({kHasTypeDefinition, true, UaNodeId::Num(0, kFolderType)});
    for (auto& top : m_tags.Folders().TopFolders())
      out.push_back({kOrganizes, true, UaNodeId::Str(1, std::move(top))});
    std::string folder, name;
    for (auto& tag : m_tags.PresentNames())
      if (!m_tags.Folders().FolderOf(tag, folder, name))
        out.push_back({kOrganizes, true, UaNodeId::Str(1, std::move(tag))});
    return;
  }
  FolderTree::Folder folder;
  if (m_tags.Folders().Find(id.text, folder)) {
    ProgramFolderReferences(folder, out);
    return;
  }
  TagNode* tag = Tag(id);
  if (tag == nullptr) {
    // Its tag may have gone since the caller found the node.
    TagProperty which{};
    if (TagNode* owner = PropertyTag(id, which)) {
      out.push_back({kHasProperty, false, UaNodeId::Str(1, owner->name)});
      out.push_back({kHasTypeDefinition, true, UaNodeId::Num(0, kPropertyType)});
    }
    return;
  }
  std::string name;
  if (m_tags.Folders().FolderOf(id.text, folder.parent, name))
    out.push_back({kHasComponent, false, UaNodeId::Str(1, folder.parent)});
  else
    out.push_back({kOrganizes, false, FolderId()});
  out.push_back({kHasTypeDefinition, true, UaNodeId::Num(0, VariableTypeOf(tag))});
  TagProperties properties = m_tags.Properties(tag);
  for (TagProperty property : kTagProperties)
    if (Has(properties, property))
      out.push_back({kHasProperty, true, PropertyId(id.text, property)});
}

// Sub-folders are organized, variables are the folder's components.
void AddressSpace::ProgramFolderReferences(const FolderTree::Folder& folder,
                                           std::vector<NodeReference>& out) {
  out.push_back(
      {kOrganizes, false, folder.parent.empty() ? FolderId() : UaNodeId::Str(1, folder.parent)});
  out.push_back({kHasTypeDefinition, true, UaNodeId::Num(0, kFolderType)});
  for (const std::string& child : folder.folders)
    out.push_back({kOrganizes, true, UaNodeId::Str(1, child)});
  for (const auto& [variable, name] : folder.variables)
    out.push_back({kHasComponent, true, UaNodeId::Str(1, variable)});
}

bool AddressSpace::RefPasses(const NodeReference& ref, const BrowseFilter& f) const {
  if (f.direction == 0 && !ref.forward) return false;
  if (f.direction == 1 && ref.forward) return false;
  if (f.referenceType.IsNull()) return true;
  if (f.referenceType.ns != 0 || f.referenceType.kind != UaNodeId::Kind::Numeric) return false;
  if (ref.type == f.referenceType.numeric) return true;
  return f.includeSubtypes && IsSubtype(ref.type, f.referenceType.numeric);
}

uint32_t AddressSpace::Browse(const UaNodeId& id, const BrowseFilter& filter,
                              std::vector<std::pair<NodeReference, NodeHeader>>& out) {
  NodeHeader self;
  if (!Header(id, self)) return UaStatus::BadNodeIdUnknown;
  if (filter.direction > 2) return UaStatus::BadBrowseDirectionInvalid;
  if (!filter.referenceType.IsNull()) {
    NodeHeader type;
    if (!Header(filter.referenceType, type) || type.nodeClass != kReferenceType)
      return UaStatus::BadReferenceTypeIdInvalid;
  }
  std::vector<NodeReference> refs;
  References(id, refs);
  for (auto& ref : refs) {
    if (!RefPasses(ref, filter)) continue;
    NodeHeader target;
    if (!Header(ref.target, target)) continue;
    if (filter.nodeClassMask != 0 && (filter.nodeClassMask & target.nodeClass) == 0) continue;
    out.emplace_back(std::move(ref), std::move(target));
  }
  return UaStatus::Good;
}

UaDataValue AddressSpace::Read(const UaNodeId& id, uint32_t attribute, uint32_t timestamps) {
  NodeHeader h;
  if (!Header(id, h)) return Bad(UaStatus::BadNodeIdUnknown);
  if (!ClassHasAttribute(h.nodeClass, attribute)) return Bad(UaStatus::BadAttributeIdInvalid);
  switch (attribute) {
    case UaId::AttrNodeId: return Good(Node(id));
    case UaId::AttrNodeClass: return Good(I32(h.nodeClass));
    case UaId::AttrBrowseName: return Good(UaVariant::Scalar(UaType::QualifiedName, h.browseName));
    case UaId::AttrDisplayName:
      return Good(UaVariant::Scalar(UaType::LocalizedText, h.displayName));
    case UaId::AttrDescription: return Good(Text(Description(id)));
    case UaId::AttrWriteMask:
    case UaId::AttrUserWriteMask: return Good(U32(0));
    default: break;
  }
  if (id.ns == 0) return ReadNs0(m_ns0.at(id.numeric), attribute);
  if (h.nodeClass == kObject) return ReadFolder(attribute);
  TagNode* tag = Tag(id);
  if (tag == nullptr) return ReadProperty(id, attribute);
  return ReadTag(tag, attribute, timestamps);
}

std::string AddressSpace::Description(const UaNodeId& id) {
  TagNode* tag = Tag(id);
  return tag != nullptr ? m_tags.Properties(tag).description : "";
}

UaDataValue AddressSpace::ReadProperty(const UaNodeId& id, uint32_t attribute) {
  TagProperty which{};
  TagNode* tag = PropertyTag(id, which);
  if (tag == nullptr) return Bad(UaStatus::BadNodeIdUnknown);
  switch (attribute) {
    case UaId::AttrValue: return Good(PropertyValue(m_tags.Properties(tag), which));
    case UaId::AttrDataType: return Good(Node(UaNodeId::Num(0, DataTypeOf(which))));
    case UaId::AttrValueRank: return Good(I32(-1));
    case UaId::AttrArrayDimensions: return Good(UaVariant::Array(UaType::UInt32, {}));
    case UaId::AttrAccessLevel:
    case UaId::AttrUserAccessLevel:
      return Good(UaVariant::Scalar(UaType::Byte, uint64_t{kAccessRead}));
    case UaId::AttrAccessLevelEx: return Good(U32(kAccessRead));
    case UaId::AttrMinimumSamplingInterval: return Good(UaVariant::Scalar(UaType::Double, 0.0));
    case UaId::AttrHistorizing: return Good(Bool(false));
    default: return Bad(UaStatus::BadAttributeIdInvalid);
  }
}

UaDataValue AddressSpace::ReadFolder(uint32_t attribute) {
  (void)attribute;  // EventNotifier is the only attribute left for an object
  return Good(UaVariant::Scalar(UaType::Byte, uint64_t{0}));
}

UaDataValue AddressSpace::ReadTag(TagNode* tag, uint32_t attribute, uint32_t timestamps) {
  bool writable = m_tags.IsWritable(tag);
  uint8_t access = kAccessRead | (writable ? kAccessWrite : 0);
  switch (attribute) {
    case UaId::AttrValue: {
      TagSample s = m_tags.Sample(tag);
      UaDataValue dv;
      dv.hasValue = s.hasValue;
      if (s.hasValue) dv.value = ValueOf(s);
      dv.hasStatus = true;
      dv.status = s.status;
      if (timestamps == 0 || timestamps == 2) dv.sourceTimestamp = s.sourceTime;
      if (timestamps == 1 || timestamps == 2) dv.serverTimestamp = UaNow();
      return dv;
    }
    // A built-in type's DataType node has the type's own number.
    case UaId::AttrDataType:
      return Good(Node(UaNodeId::Num(0, static_cast<uint32_t>(m_tags.Sample(tag).type))));
    case UaId::AttrValueRank: return Good(I32(-1));
    case UaId::AttrArrayDimensions: return Good(UaVariant::Array(UaType::UInt32, {}));
    case UaId::AttrAccessLevel:
    case UaId::AttrUserAccessLevel: return Good(UaVariant::Scalar(UaType::Byte, uint64_t{access}));
    case UaId::AttrAccessLevelEx: return Good(U32(access));
    case UaId::AttrMinimumSamplingInterval:
      return Good(UaVariant::Scalar(UaType::Double, m_info.minSamplingMs));
    case UaId::AttrHistorizing: return Good(Bool(false));
    default: return Bad(UaStatus::BadAttributeIdInvalid);
  }
}

UaDataValue AddressSpace::ReadNs0(const Ns0Entry& e, uint32_t attribute) {
  const Ns0Node* d = e.def;
  switch (attribute) {
    case UaId::AttrIsAbstract: return Good(Bool(d->flags & 1));
    case UaId::AttrSymmetric: return Good(Bool(d->flags & 2));
    case UaId::AttrInverseName:
      return Good(UaVariant::Scalar(UaType::LocalizedText, UaLocalizedText{"", d->inverseName}));
    case UaId::AttrEventNotifier:
      return Good(UaVariant::Scalar(UaType::Byte, uint64_t{d->eventNotifier}));
    case UaId::AttrValue: return Good(Ns0Value(d->id));
    case UaId::AttrDataType: return Good(Node(UaNodeId::Num(0, d->dataType)));
    case UaId::AttrValueRank: return Good(I32(d->valueRank));
    case UaId::AttrArrayDimensions:
      return Good(UaVariant::Array(UaType::UInt32, d->valueRank == 1
                                                       ? std::vector<UaScalar>{uint64_t{0}}
                                                       : std::vector<UaScalar>{}));
    case UaId::AttrAccessLevel:
    case UaId::AttrUserAccessLevel:
      return Good(UaVariant::Scalar(UaType::Byte, uint64_t{kAccessRead}));
    case UaId::AttrAccessLevelEx: return Good(U32(kAccessRead));
    case UaId::AttrMinimumSamplingInterval:
      return Good(UaVariant::Scalar(UaType::Double, d->minimumSamplingInterval));
    case UaId::AttrHistorizing: return Good(Bool(false));
    default: return Bad(UaStatus::BadAttributeIdInvalid);
  }
}

void AddressSpace::BuildInfo(UaEncoder& enc) const {
  enc.String(m_info.productUri);
  enc.String(m_info.manufacturer);
  enc.String(m_info.productName);
  enc.String(m_info.softwareVersion);
  enc.String(m_info.softwareVersion);
  enc.DateTime(m_info.startTime);
}

UaExtensionObject AddressSpace::ServerStatus() const {
  UaEncoder enc;
  enc.DateTime(m_info.startTime);
  enc.DateTime(UaNow());
  enc.Int32(0);  // Running
  BuildInfo(enc);
  enc.UInt32(0);
  enc.LocalizedText({});
  return {UaNodeId::Num(0, UaId::ServerStatusDataType_Encoding_DefaultBinary), 1, enc.Buffer()};
}

UaVariant AddressSpace::Ns0Value(uint32_t id) const {
  using namespace limits;
  switch (id) {
    case 2254: return Strings({m_info.applicationUri});
    case 2255: return Strings({"http://opcfoundation.org/UA/", m_info.namespaceUri});
    case 2256: return UaVariant::Scalar(UaType::ExtensionObject, ServerStatus());
    case 2257: return Time(m_info.startTime);
    case 2258: return Time(UaNow());
    case 2259: return I32(0);
    case 2260: {
      UaEncoder enc;
      BuildInfo(enc);
      return UaVariant::Scalar(
          UaType::ExtensionObject,
          UaExtensionObject{UaNodeId::Num(0, UaId::BuildInfo_Encoding_DefaultBinary), 1,
                            enc.Buffer()});
    }
    case 2261: return Str(m_info.productName);
    case 2262: return Str(m_info.productUri);
    case 2263: return Str(m_info.manufacturer);
    case 2264:
    case 2265: return Str(m_info.softwareVersion);
    case 2266: return Time(m_info.startTime);
    case 2992: return U32(0);
    case 2993: return Text("");
    case 2267: return UaVariant::Scalar(UaType::Byte, uint64_t{255});
    case 2994: return Bool(false);
    case 2269: return Strings({"http://opcfoundation.org/UA-Profile/Server/MicroEmbeddedDevice"});
    case 2271: return Strings({"en"});
    case 2272: return UaVariant::Scalar(UaType::Double, m_info.minSamplingMs);
    case 2735: return UaVariant::Scalar(UaType::UInt16, uint64_t{kMaxContinuationPointsPerSession});
    case 2736:
    case 2737: return UaVariant::Scalar(UaType::UInt16, uint64_t{0});
    case 3704: return UaVariant::Array(UaType::ExtensionObject, {});
    case 11702: return U32(kMaxNodesPerRequest);
    case 11703:
    case 12910: return U32(kMaxStringLength);
    case 11705:
    case 11707:
    case 11711:
    case 11712:
    case 11714: return U32(kMaxNodesPerRequest);
    case 11710: return U32(kMaxNodesPerRequest);
    case 11709:
    case 11713: return U32(0);
    case 3709: return I32(0);
    default: return {};
  }
}

}  // namespace tagserver
