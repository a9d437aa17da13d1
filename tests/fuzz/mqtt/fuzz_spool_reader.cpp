// A spool segment file with any content: read as the spool reads its files
// at start-up, through a real directory, and each record decoded as a change.
// The same bytes as the name of a held device's folder, which must name the
// folder it came from.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "mqtt/HeldChanges.h"
#include "mqtt/SampleRecord.h"
#include "mqtt/Spool.h"

namespace {

const std::string& Directory() {
  static const std::string dir =
      (std::filesystem::temp_directory_path() / ("mqtt-spool-fuzz-" + std::to_string(::getpid())))
          .string();
  return dir;
}

void DecodeAll(mqtt::Spool& spool) {
  uint64_t number = 0;
  while (spool.HasUntaken()) {
    for (const std::string& record : spool.TakeNext(&number)) {
      mqtt::MetricSample sample;
      mqtt::SampleRecord::Decode({reinterpret_cast<const uint8_t*>(record.data()), record.size()},
                                 &sample);
    }
    spool.Remove(number);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view folder(reinterpret_cast<const char*>(data), size);
  std::string device;
  if (mqtt::HeldChanges::DeviceOf(folder, &device) &&
      mqtt::HeldChanges::FolderOf(device) != folder) {
    std::abort();
  }
  std::filesystem::remove_all(Directory());
  std::filesystem::create_directories(Directory());
  std::ofstream(Directory() + "/spool-0000000000000001.seg", std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  mqtt::Spool spool(Directory(), 1 << 20);
  std::string error;
  if (spool.Open(&error)) DecodeAll(spool);
  return 0;
}
