// The text the program shows for each status the library gives.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "modbuslib/modbuslib.h"

TEST(StatusText, EachStatusHasItsText) {
  const std::pair<int, std::string> table[] = {
      {MBS_OK, ""},
      {1, "Slave Exception #1"},
      {10, "Slave Exception #10"},
      {MBS_LAST_EXCEPTION, "Slave Exception #255"},
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
      // Numbers the library does not give have no text.
      {271, ""},
      {273, ""},
      {-1, ""},
  };
  for (const auto& [status, text] : table) EXPECT_EQ(ModbusStatusText(status), text) << status;
}
