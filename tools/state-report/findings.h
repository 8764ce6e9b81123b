// What is wrong in the QMIS-managed state, each finding one line of plain
// English that names the key and what is wrong with it.
#pragma once

#include <string>
#include <vector>

#include "qmis_state.h"

// What the checks need beyond what the report shows, whichever products it
// shows: every product's claims (a mask bit is orphaned only when no
// product at all claims it) and the handler name of every uninstall key (a
// product's file type belongs to an installed product when one has it).
struct Machine {
  std::vector<Claim> claims;
  std::vector<std::string> handlerNames;
};

// Adds to state.inconsistencies what is wrong with the state read; `only`
// is the product asked for ("" for all), and is itself a finding when
// nothing of it was found.
void FindInconsistencies(const std::string& only, const Machine& machine, QmisState& state);
