// SnifferFleet: which fleet a sniffer block's units belong to. A fleet is
// a set of units that numbers its own nodes; the same number in two fleets
// is two units (outputs/NodeUpdate.h names them). A document says it in
// the sniffer block's label, which every host stores and lets a person
// edit: a label whose first word is "fleet" and whose second word is a
// fleet name ("fleet north", "fleet north sniffer 2") puts the block's
// units in that fleet; any other label, "sniffer" for one, leaves them in
// the run's one unnamed fleet, as every document without fleets is.
//
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace flowhost {

// The fleet a sniffer's label names, or "" when it names none (or a word
// that is not a fleet name).
std::string fleetOfLabel(std::string_view label);

// The label the quick start gives sniffer `index` (from 1) of `count` in
// `fleet`: "fleet north" for a fleet's only sniffer, "fleet north sniffer 2"
// for one of several.
std::string fleetLabel(const std::string& fleet, int index, int count);

}  // namespace flowhost
