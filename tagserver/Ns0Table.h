// The reduced namespace 0 that tagserver/gen/generate.py writes into
// Ns0Table.cpp: the nodes clients read on connecting and the type nodes that
// Browse results name, with the references among them (forward direction).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tagserver {

struct Ns0Node {
  uint32_t id;
  uint8_t nodeClass;
  const char* browseName;
  const char* displayName;
  uint32_t dataType;
  int8_t valueRank;
  uint8_t flags;  // 1 IsAbstract, 2 Symmetric
  const char* inverseName;
  uint8_t eventNotifier;
  double minimumSamplingInterval;
};

struct Ns0Reference {
  uint32_t source;
  uint32_t type;
  uint32_t target;
};

extern const Ns0Node kNs0Nodes[];
extern const size_t kNs0NodeCount;
extern const Ns0Reference kNs0References[];
extern const size_t kNs0ReferenceCount;

}  // namespace tagserver
