#pragma once
// The status the HTTP port answers, written from one snapshot: a JSON
// object for people and pages ("/status") and the Prometheus text format for
// the fleet's monitoring ("/metrics"). Pure functions, no clock, no I/O.
#include <cstdint>
#include <string>

#include "common/ServiceStatus.h"

constexpr const char* kStatusContentType = "application/json";
constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// "Series01xx", "multi-touch", "split-channel" or "single-channel".
const char* FrameClassName(std::uint16_t versionNumber, bool series01xx);
// Seconds since the epoch as ISO 8601 in UTC, to the millisecond
// ("2026-12-08T22:40:01.123Z").
std::string IsoTime(double seconds);

std::string StatusJson(const StatusSnapshot& s);
std::string StatusMetrics(const StatusSnapshot& s);
