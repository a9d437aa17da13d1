// What the MQTT bridge hands the tags to: the MQTT library's interface,
// which its publisher implements. Main thread only.
#pragma once

#include "mqtt/MetricPublisher.h"

using IMetricPublisher = mqtt::IMetricPublisher;
