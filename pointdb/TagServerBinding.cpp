#include "pointdb/TagServerBinding.h"

TagServerBinding& TagServer() {
  static TagServerBinding binding;
  return binding;
}
