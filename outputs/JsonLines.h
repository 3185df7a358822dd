// The JSON-lines records of the --json stream: one object per node update
// ("NODE"), per event ("EVENT"), per change of an output's state
// ("OUTPUT"), at a centre per change of a site's state ("SITE") and, once
// a second, per port ("PORT"). Each
// function appends one complete line, line feed included, to `out`.
//
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "outputs/ChangeTracker.h"
#include "outputs/NodeUpdate.h"
#include "outputs/OutputState.h"
#include "outputs/SiteStatus.h"

namespace kw_out {

void appendNodeLine(std::string* out, const NodeUpdate& update);

// The unit's identity as JSON members, shared by every record that names a
// unit: "site" (only at a centre), "fleet" (only when the unit has one), "node" and "name" (the
// name from the node list, or the number as text); no leading or trailing comma.
void appendUnitFields(std::string* out, const NodeUpdate& update);

// The unit's state as JSON members, shared by the JSON lines and the MQTT
// payloads: "health", "health_text", "idle" and, with a map, "in_map", "x"
// and "y" (no leading or trailing comma).
void appendStateFields(std::string* out, const NodeUpdate& update);

// `utcSec`/`utcMs`: when the event was seen (wall clock).
void appendEventLine(std::string* out, const Event& event, int64_t utcSec, int utcMs);

// `utcSec`/`utcMs`: when the change was seen (wall clock).
void appendOutputLine(std::string* out, const OutputStateChange& change, int64_t utcSec, int utcMs);

void appendPortLine(std::string* out, const PortCounters& counters, bool silent, int64_t utcSec,
                    int utcMs);

// {"class":"SITE","site":..,"time":..,"state":"online"|"offline"|"unknown",
//  "reason":..,"units":N,"skew":seconds or null}; `utcSec`/`utcMs`: when
// the change was seen.
void appendSiteLine(std::string* out, const SiteStatus& site, int64_t utcSec, int utcMs);

}  // namespace kw_out
