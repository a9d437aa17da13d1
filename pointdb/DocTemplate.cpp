#include "pointdb/DocTemplate.h"

#include <algorithm>
#include <filesystem>

#include "pointdb/PelmoranDoc.h"
#include "pointdb/ScanFile.h"

namespace {

std::string FileName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

DocTemplate::DocTemplate(ScanContext& context, IViewFactory* factory)
    : m_pViewFactory(factory), m_context(context) {}

DocTemplate::~DocTemplate() {
  while (!m_documents.empty()) CloseDocument(m_documents.front().get());
}

CPelmoranDoc* DocTemplate::OpenDocumentFile(const std::string& path, std::string* message) {
  std::string dropped;
  std::string& why = message != nullptr ? *message : dropped;
  m_documents.push_back(std::make_unique<CPelmoranDoc>(m_context));
  CPelmoranDoc* doc = m_documents.back().get();
  if (m_pViewFactory) doc->m_pView = m_pViewFactory->CreateView(*doc);
  if (path.empty()) {
    // Untitled documents are numbered as the framework does: Pelmor1,
    // Pelmor2, ... counting only the new ones.
    doc->m_strTitle = "Pelmor" + std::to_string(++m_nUntitledCount);
  } else if (const ScanFileLoad load = LoadScanFile(*doc, path, why);
             load == ScanFileLoad::loaded) {
    doc->m_strPathName = path;
    doc->m_strTitle = FileName(path);
  } else if (load == ScanFileLoad::notUnderstood) {
    // The scan is not the file's: without a path, saving asks for a new name,
    // proposed from the file's name less its extension.
    doc->m_strTitle = std::filesystem::path(path).stem().string();
  } else {
    CloseDocument(doc);
    return nullptr;
  }
  if (m_pViewFactory) m_pViewFactory->InitialUpdate(*doc);
  return doc;
}

void DocTemplate::CloseDocument(CPelmoranDoc* doc) {
  auto it = std::find_if(m_documents.begin(), m_documents.end(),
                         [doc](const auto& owned) { return owned.get() == doc; });
  if (it == m_documents.end()) return;
  // Out of the list first: nothing that runs while it goes can find it.
  std::unique_ptr<CPelmoranDoc> owned = std::move(*it);
  m_documents.erase(it);
  if (m_pViewFactory && owned->m_pView) m_pViewFactory->DestroyView(*owned);
  owned->m_pView = nullptr;
}

int DocTemplate::GetDocumentCount() const { return static_cast<int>(m_documents.size()); }

CPelmoranDoc* DocTemplate::GetDocument(int index) const {
  if (index < 0 || index >= GetDocumentCount()) return nullptr;
  return m_documents[index].get();
}
