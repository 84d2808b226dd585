#pragma once

#include "device_sample.h"

#include <string>
#include <string_view>
#include <vector>

namespace vireo {

inline constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// A label value as the Prometheus text format writes it between its quotes:
// backslash, double quote and line feed escaped.
std::string EscapeLabelValue(std::string_view value);

// The whole /metrics page in the Prometheus text exposition format 0.0.4:
// every family with its HELP and TYPE lines, then one sample per device that
// has a value for it (a device without a current signal has no signal
// samples, one whose versions are unknown no info sample). Every alarm rule
// watching a device has a sample, 1 while its alarm is active, else 0 (and 0
// while silenced, when vireo_ird_alarm_silenced has it instead). Every device
// series carries a `site` label when `site` is not empty, and a `group` label
// when the device has one.
std::string RenderMetrics(const std::vector<DeviceSample>& devices, const std::string& site = {});

} // namespace vireo
