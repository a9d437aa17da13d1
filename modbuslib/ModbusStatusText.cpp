// The texts of the library's statuses.
#include <algorithm>
#include <array>
#include <iterator>
#include <string_view>

#include "modbuslib/modbuslib.h"

namespace {

constexpr std::string_view kExceptionPrefix = "Slave Exception #";
constexpr size_t kExceptionTextSize = kExceptionPrefix.size() + sizeof("255");
using ExceptionText = std::array<char, kExceptionTextSize>;

// "Slave Exception #<code>", decimal without leading zeros, ended by a zero.
constexpr ExceptionText MakeExceptionText(int code) {
  ExceptionText text{};
  auto end = std::copy(kExceptionPrefix.begin(), kExceptionPrefix.end(), text.begin());
  char digits[3] = {};
  int count = 0;
  for (int rest = code; rest > 0; rest /= 10) digits[count++] = static_cast<char>('0' + rest % 10);
  while (count > 0) *end++ = digits[--count];
  return text;
}

// Made while compiling, so that every exception has a text that lives as
// long as the program without a buffer shared between threads.
constexpr auto kExceptionTexts = [] {
  std::array<ExceptionText, MBS_LAST_EXCEPTION + 1> texts{};
  for (int code = 1; code <= MBS_LAST_EXCEPTION; ++code) texts[code] = MakeExceptionText(code);
  return texts;
}();

struct LibraryText {
  int status;
  const char* text;
};

constexpr LibraryText kLibraryTexts[] = {
    {MBS_INVALID_HANDLE, "INVALID HANDLE"},
    {MBS_MSG_OVERRUN, "MSG OVERRUN"},
    {MBS_INVALID_ADDRESS, "INVALID MODBUS ADDRESS"},
    {MBS_INVALID_NODE, "INVALID NODE ADDRESS"},
    {MBS_INVALID_LENGTH, "INVALID LENGTH"},
    {MBS_INVALID_COMMAND, "INVALID MODBUS COMMAND"},
    {MBS_OUT_OF_MEMORY, "OUT OF MEMORY"},
    {MBS_POLL_TIMEOUT, "POLL TIMEOUT"},
    {MBS_INVALID_PROTOCOL, "INVALID PROTOCOL SELECTION"},
    {MBS_INVALID_CHECKSUM, "INVALID CHECKSUM"},
    {MBS_CHANNEL_NOT_CONNECTED, "CHANNEL NOT CONNECTED"},
    {MBS_INVALID_RESPONSE, "INVALID SLAVE RESPONSE"},
    {MBS_WRITE_FAILURE, "WRITE FAILURE"},
    {MBS_SVR_NOT_CONNECTED, "SVR NOT CONNECTED"},
    {MBS_UNINITIALIZED, "UNINITIALIZED"},
    {MBS_FUNCTION_NOT_SUPPORTED, "FUNCTION NOT SUPPORTED"},
};

}  // namespace

extern "C" const char* ModbusStatusText(int status) {
  if (status > MBS_OK && status <= MBS_LAST_EXCEPTION) return kExceptionTexts[status].data();
  const auto* found = std::find_if(std::begin(kLibraryTexts), std::end(kLibraryTexts),
                                   [status](const LibraryText& t) { return t.status == status; });
  return found == std::end(kLibraryTexts) ? "" : found->text;
}
