// The bench's ASCII slave answers reads of holding registers and nothing
// else, and stays silent where a real slave would.
#include <gtest/gtest.h>

#include "AsciiSlave.h"

namespace {

struct Exchange {
  const char* what;
  const char* request;  // hex digits between ':' and CR LF
  const char* answer;
};

TEST(AsciiSlave, AnswersFrames) {
  const Exchange exchanges[] = {
      {"two registers from 0", "010300000002FA", ":01030400000001F7\r\n"},
      {"lower-case digits", "010300000002fa", ":01030400000001F7\r\n"},
      {"the last two registers", "01030F9E00024D", ":0103040F9E0F9F9D\r\n"},
      {"past the last register", "01030F9F00024C", ":0183027A\r\n"},
      {"no registers", "010300000000FC", ":01830379\r\n"},
      {"126 registers", "01030000007E7E", ":01830379\r\n"},
      {"a read one byte too long", "01030000000200FA", ":01830379\r\n"},
      {"input registers", "010400000002F9", ":0184017A\r\n"},
      {"function alone", "0101FE", ":0181017D\r\n"},
      {"bad LRC", "010300000002FB", ""},
      {"another node", "020300000002F9", ""},
      {"odd number of digits", "010300000002F", ""},
      {"not a hex digit", "01030000000GFA", ""},
      {"node alone", "01", ""},
      {"nothing", "", ""},
  };
  for (const auto& e : exchanges) {
    EXPECT_EQ(bench::AsciiSlave::answer(e.request), e.answer) << e.what;
  }
}

}  // namespace
