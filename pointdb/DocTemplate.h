// The one multi-document template: it makes scan documents with their views
// and keeps the open documents in creation order.
#pragma once

#include <memory>
#include <string>
#include <vector>

class CPelmoranDoc;
class IScanView;
struct ScanContext;

// Supplied by the shell: a poll clock for the headless program, a child window
// with the tag list view for the window program.
class IViewFactory {
 public:
  virtual ~IViewFactory() = default;
  // Creates the view (its poll timer armed with the scan's current frequency).
  virtual IScanView* CreateView(CPelmoranDoc& doc) = 0;
  // The document is complete (new, or loaded from its file): build the rows.
  virtual void InitialUpdate(CPelmoranDoc& doc) = 0;
  // Destroys the view (and its window) before the document goes.
  virtual void DestroyView(CPelmoranDoc& doc) = 0;
};

class DocTemplate {
 public:
  // Documents are made in context, which outlives the template.
  explicit DocTemplate(ScanContext& context, IViewFactory* factory = nullptr);
  ~DocTemplate();

  // File New when path is empty; otherwise open path as a stored scan. Returns
  // null when the file could not be read. Of a file refused or not
  // understood, message (where given) says why, for the operator.
  CPelmoranDoc* OpenDocumentFile(const std::string& path, std::string* message = nullptr);
  void CloseDocument(CPelmoranDoc* doc);

  int GetDocumentCount() const;
  CPelmoranDoc* GetDocument(int index) const;

  IViewFactory* m_pViewFactory;

 private:
  ScanContext& m_context;
  std::vector<std::unique_ptr<CPelmoranDoc>> m_documents;
  int m_nUntitledCount = 0;
};
