// The demo waybills that "tracking-endpoint demo" records: about thirty shipments chosen to
// exercise the desktop tool (one event, many events, Chinese text, text that needs escaping,
// an older event at the same clock time as the newest, delivered, exception, a number with
// spaces around it, a number in Chinese).
#pragma once

#include <string>
#include <vector>

#include "endpoint/event_store.h"

namespace korvanel::endpoint {

// The demo events, UTF-8, in no particular order.
std::vector<TrackingEvent> DemoEvents();
// The distinct demo numbers in the order samples/waybills.txt lists them (UTF-8).
std::vector<std::string> DemoNumbers();

}  // namespace korvanel::endpoint
