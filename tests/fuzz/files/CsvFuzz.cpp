// Arbitrary bytes for the CSV reader: whatever it accepts it must write back
// as text that reads as the same rows, and whatever it refuses it must refuse
// with a row number.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/CsvTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<CsvTable::Row> rows;
  std::string error;
  if (!CsvTable::Parse(text, rows, error)) {
    if (error.rfind("row ", 0) != 0) __builtin_trap();
    return 0;
  }
  std::vector<CsvTable::Row> again;
  if (!CsvTable::Parse(CsvTable::Format(rows), again, error)) __builtin_trap();
  if (again != rows) __builtin_trap();
  return 0;
}
