// The child program that makes one library call from a process of its own
// (qmis-call-child.exe, call_child.cpp), and how tests start it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "qmis/handles.h"

namespace qmis_test {

// The exit code of a child ended just before a chosen registry write.
inline constexpr DWORD kKilled = 0xDEAD;
inline constexpr int kBadArguments = 0xBAD;
// The calls through which the library changes the registry.
inline constexpr const char* kRegistryWrites[] = {"RegCreateKeyExA", "RegCreateKeyExW",
                                                  "RegSetValueExA",  "RegSetValueExW",
                                                  "RegDeleteValueA", "RegDeleteKeyA"};

struct CallRun {
  DWORD exitCode = 0;  // the call's result, or kKilled
  int writes = -1;     // the writes the call made; -1 when it was killed
};

// `arguments` one by one, quoted for the child's command line.
std::string CallLine(int killBeforeWrite, const std::string& startEvent,
                     const std::vector<std::string>& arguments);

// Makes the call in a child and waits for it; 0 never kills it.
CallRun RunCall(const std::vector<std::string>& arguments, int killBeforeWrite = 0);

// Makes each call in a child of its own, all released at the same moment
// once every child is ready; returns their exit codes.
std::vector<DWORD> RunCallsAtOnce(const std::string& startEvent,
                                  const std::vector<std::vector<std::string>>& calls);

}  // namespace qmis_test
