// What is wrong in the QMIS-managed state, each finding one line of plain
// English that names the key and what is wrong with it.
#pragma once

#include <vector>

#include "qmis_state.h"

// Adds to state.inconsistencies what is wrong with the state read.
// `allClaims` are every product's claims, whichever products `state` shows:
// a mask bit is orphaned only when no product at all claims it.
void FindInconsistencies(const std::vector<Claim>& allClaims, QmisState& state);
