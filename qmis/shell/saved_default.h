// The saved default of a shell key: the value that stood as the key's default
// before the product took it over, kept in "QmPrevious" beside it.
#pragma once

#include <windows.h>

#include "qmis/layout.h"
#include "qmis/registry/value_walk.h"

namespace qmis {

// Writes `previous` as "QmPrevious" (REG_SZ, the bytes and byte count it was
// read with, in UTF-16 so that no character is lost).
[[nodiscard]] LONG SaveDefault(HKEY key, const TextValue& previous);

// Reads "QmPrevious".
[[nodiscard]] LONG ReadSavedDefault(HKEY key, TextValue& saved);

// Writes `value` as the key's default, as REG_SZ with the bytes and byte
// count it was read with.
[[nodiscard]] LONG WriteDefault(HKEY key, const TextValue& value);

enum class Restore {
  kRestored,      // the saved default is the default again
  kNothingSaved,  // there is no "QmPrevious"
  kUnreadable,    // "QmPrevious" exists but cannot be read: it must stay
  kWriteFailed,   // writing it back failed: "QmPrevious" must stay
};

// Makes "QmPrevious" the default again, as REG_SZ with the bytes and byte
// count read. "QmPrevious" itself is left to the caller. A failure is
// reported for the call being made, with `keyName`.
[[nodiscard]] Restore RestoreSavedDefault(HKEY key, const char* keyName);

}  // namespace qmis
