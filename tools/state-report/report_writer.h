#pragma once

#include <string>

#include "qmis_state.h"

std::string TextReport(const QmisState& state);
std::string JsonReport(const QmisState& state);
