// A VARIANT that leaves the thread or the caller that owns it: a deep copy
// that clears itself when its last owner lets go. The write path converts
// its value in place, so it is always handed such a copy.
#pragma once

#include <memory>

#include "platform/Variant.h"

// A null value gives VT_EMPTY.
inline std::shared_ptr<VARIANT> SharedVariantCopy(const VARIANT* value) {
  std::shared_ptr<VARIANT> copy(new VARIANT, [](VARIANT* v) {
    VariantClear(v);
    delete v;
  });
  VariantInit(copy.get());
  if (value != nullptr) VariantCopy(copy.get(), value);
  return copy;
}
