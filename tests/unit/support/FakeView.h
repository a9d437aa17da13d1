// Stand-ins for the views of scan documents: a view that records what the
// document asks of it, and a view factory that the document template uses to
// make one per document (recording creation, initial update and destruction).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"
#include "pointdb/ScanView.h"

class FakeView : public IScanView {
 public:
  explicit FakeView(CPelmoranDoc* doc = nullptr) : m_pDoc(doc) {}

  void OnScanComplete() override {
    ++scanCompletes;
    if (m_pDoc) lastStatus = m_pDoc->m_scan.m_nStatus;
    if (onScanComplete) onScanComplete();
  }
  void SetPollFrequency(int milliseconds) override {
    frequencies.push_back(milliseconds);
    if (m_pDoc) m_pDoc->m_scan.m_nPollFrequency = milliseconds;
  }

  int scanCompletes = 0;
  int lastStatus = -1;  // the scan's status at the last OnScanComplete
  std::vector<int> frequencies;
  std::function<void()> onScanComplete;

 private:
  CPelmoranDoc* m_pDoc;
};

class FakeViewFactory : public IViewFactory {
 public:
  IScanView* CreateView(CPelmoranDoc& doc) override {
    events.push_back("create " + std::to_string(doc.m_nKey));
    auto view = std::make_unique<FakeView>(&doc);
    FakeView* raw = view.get();
    views[&doc] = std::move(view);
    return raw;
  }
  void InitialUpdate(CPelmoranDoc& doc) override {
    events.push_back("update " + std::to_string(doc.m_nKey));
  }
  void DestroyView(CPelmoranDoc& doc) override {
    events.push_back("destroy " + std::to_string(doc.m_nKey));
    views.erase(&doc);
  }

  FakeView* ViewOf(const CPelmoranDoc* doc) const {
    auto it = views.find(doc);
    return it == views.end() ? nullptr : it->second.get();
  }

  std::vector<std::string> events;
  std::map<const CPelmoranDoc*, std::unique_ptr<FakeView>> views;
};
