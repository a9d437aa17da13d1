// The benchmark's peers of the gateway, steered by mqtt_bench.py over stdin and
// stdout; each answers a line on stdin with its counts and ends when stdin closes:
//   mqtt_bench_peer slave REGISTERS              "PORT n", then "offered <registers read>"
//   mqtt_bench_peer count PORT sparkplug|json    "counts <messages> <bytes> <metrics>
//                                                 <born> <historical> <undecodable>"
//   mqtt_bench_peer publish PORT QOS sparkplug|json METRICS SECONDS
//                                                "published <messages> <bytes> <seconds>"
#include <mosquitto.h>

#include <cstdint>
#include <iostream>
#include <stdexcept>
#include <string>

#include "ChangingSlave.h"
#include "MetricCounter.h"
#include "ReferencePublisher.h"

namespace {

CountedFormat Format(const std::string& name) {
  if (name == "sparkplug") return CountedFormat::Sparkplug;
  if (name == "json") return CountedFormat::Json;
  throw std::invalid_argument("format is sparkplug or json, not " + name);
}

template <typename Answer>
void AnswerEachLine(Answer answer) {
  std::string line;
  while (std::getline(std::cin, line)) std::cout << answer() << std::endl;
}

int Slave(int registers) {
  ChangingSlave slave(registers);
  std::cout << "PORT " << slave.Port() << std::endl;
  AnswerEachLine([&] { return "offered " + std::to_string(slave.RegistersRead()); });
  return 0;
}

int Count(int port, CountedFormat format) {
  MetricCounter counter(port, format);
  std::cout << "READY" << std::endl;
  AnswerEachLine([&] {
    const MetricCounts c = counter.Counts();
    std::string text = "counts";
    for (const uint64_t n : {c.messages, c.bytes, c.metrics, c.born, c.historical, c.undecodable}) {
      text += " " + std::to_string(n);
    }
    return text;
  });
  return 0;
}

int Publish(int port, int qos, CountedFormat format, int metrics, double seconds) {
  ReferencePublisher publisher(port, qos);
  const ReferenceResult r = publisher.Run(format, metrics, seconds);
  std::cout << "published " << r.messages << " " << r.bytes << " " << r.seconds << std::endl;
  return 0;
}

int Run(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "slave" && argc == 3) return Slave(std::stoi(argv[2]));
  if (what == "count" && argc == 4) return Count(std::stoi(argv[2]), Format(argv[3]));
  if (what == "publish" && argc == 7) {
    return Publish(std::stoi(argv[2]), std::stoi(argv[3]), Format(argv[4]), std::stoi(argv[5]),
                   std::stod(argv[6]));
  }
  std::cerr << "usage: mqtt_bench_peer slave REGISTERS | count PORT FORMAT |"
               " publish PORT QOS FORMAT METRICS SECONDS\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  mosquitto_lib_init();
  int status = 1;
  try {
    status = Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "mqtt_bench_peer: " << e.what() << "\n";
  }
  mosquitto_lib_cleanup();
  return status;
}
