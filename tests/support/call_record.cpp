#include "call_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>

namespace qmis_test {
namespace {

// Where each function takes the argument an accessor reads. The positions
// are the system's prototypes, spelled here once.
struct Position {
  const char* function;
  size_t index;
};

size_t IndexIn(const Call& call, std::initializer_list<Position> positions, const char* what) {
  for (const Position& position : positions)
    if (call.function == position.function) return position.index;
  ADD_FAILURE() << call.function << " has no " << what;
  return 0;
}

uint32_t ArgumentOf(const Call& call, std::initializer_list<Position> positions, const char* what) {
  const size_t index = IndexIn(call, positions, what);
  return index < call.args.size() ? call.args[index] : 0;
}

std::string TextOf(const Call& call, std::initializer_list<Position> positions, const char* what) {
  const size_t index = IndexIn(call, positions, what);
  return index < call.strings.size() ? call.strings[index] : std::string();
}

uint32_t CountOf(const Call& call, std::initializer_list<Position> positions, const char* what) {
  const size_t index = IndexIn(call, positions, what);
  return index < call.counts.size() ? call.counts[index] : 0;
}

bool Is(const Call& call, std::initializer_list<const char*> functions) {
  return std::any_of(functions.begin(), functions.end(),
                     [&](const char* function) { return call.function == function; });
}

std::string ValueLabel(const std::string& name) { return name.empty() ? "(default)" : name; }

}  // namespace

std::string KeyPath(const Call& call) {
  return TextOf(call,
                {{"RegOpenKeyExA", 1},
                 {"RegOpenKeyExW", 1},
                 {"RegOpenKeyA", 1},
                 {"RegCreateKeyExA", 1},
                 {"RegCreateKeyExW", 1},
                 {"RegDeleteKeyA", 1},
                 {"RegSaveKeyW", 0},
                 {"RegRestoreKeyW", 0}},
                "key path");
}

std::string ValueName(const Call& call) {
  return TextOf(call,
                {{"RegQueryValueExA", 1},
                 {"RegQueryValueExW", 1},
                 {"RegSetValueExA", 1},
                 {"RegSetValueExW", 1},
                 {"RegDeleteValueA", 1}},
                "value name");
}

uint32_t Rights(const Call& call) {
  return ArgumentOf(call,
                    {{"RegOpenKeyExA", 3},
                     {"RegOpenKeyExW", 3},
                     {"RegCreateKeyExA", 5},
                     {"RegCreateKeyExW", 5},
                     {"OpenProcessToken", 1}},
                    "rights");
}

uint32_t Options(const Call& call) {
  return ArgumentOf(
      call,
      {{"RegOpenKeyExA", 2}, {"RegOpenKeyExW", 2}, {"RegCreateKeyExA", 4}, {"RegCreateKeyExW", 4}},
      "options");
}

uint32_t ValueType(const Call& call) {
  return ArgumentOf(call, {{"RegSetValueExA", 3}, {"RegSetValueExW", 3}}, "value type");
}

uint32_t ByteCount(const Call& call) {
  if (Is(call, {"RegQueryValueExA", "RegQueryValueExW"}))
    return CountOf(call, {{"RegQueryValueExA", 5}, {"RegQueryValueExW", 5}}, "byte count");
  return ArgumentOf(call, {{"RegSetValueExA", 5}, {"RegSetValueExW", 5}}, "byte count");
}

bool ReadsData(const Call& call) {
  return ArgumentOf(call, {{"RegQueryValueExA", 4}, {"RegQueryValueExW", 4}}, "data") != 0;
}

uint32_t NameCapacity(const Call& call) {
  return CountOf(call, {{"RegEnumValueA", 3}, {"RegEnumValueW", 3}}, "name capacity");
}

uint32_t DataCapacity(const Call& call) {
  return CountOf(call, {{"RegEnumValueA", 7}, {"RegEnumValueW", 7}}, "data capacity");
}

uint32_t HandleArgument(const Call& call) {
  return ArgumentOf(call,
                    {{"CloseHandle", 0},
                     {"SetCursor", 0},
                     {"WaitForSingleObject", 0},
                     {"RegCloseKey", 0},
                     {"RegFlushKey", 0},
                     {"RegDeleteKeyA", 0},
                     {"GlobalFree", 0}},
                    "handle");
}

uint32_t Timeout(const Call& call) {
  return ArgumentOf(call, {{"WaitForSingleObject", 1}}, "timeout");
}

uint32_t LastErrorSet(const Call& call) {
  return ArgumentOf(call, {{"SetLastError", 0}}, "status");
}

std::string CommandLineOf(const Call& call) {
  return TextOf(call, {{"CreateProcessA", 1}, {"CreateProcessW", 1}}, "command line");
}

bool NamesAnApplication(const Call& call) {
  return ArgumentOf(call, {{"CreateProcessA", 0}, {"CreateProcessW", 0}}, "application") != 0;
}

bool InheritsHandles(const Call& call) {
  return ArgumentOf(call, {{"CreateProcessA", 4}, {"CreateProcessW", 4}}, "inheritance") != 0;
}

uint32_t CreationFlags(const Call& call) {
  return ArgumentOf(call, {{"CreateProcessA", 5}, {"CreateProcessW", 5}}, "creation flags");
}

std::string FilePath(const Call& call) {
  return TextOf(call,
                {{"CreateFileA", 0},
                 {"CreateFileW", 0},
                 {"FindFirstFileA", 0},
                 {"FindFirstFileW", 0},
                 {"GetFileAttributesA", 0},
                 {"GetFileAttributesW", 0},
                 {"RegSaveKeyW", 1},
                 {"RegRestoreKeyW", 1}},
                "file path");
}

std::string RightsName(uint32_t rights) {
  if (rights == KEY_READ) return "read";
  if (rights == KEY_ALL_ACCESS) return "all";
  if (rights == KEY_WRITE) return "write";
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", rights);
  return text;
}

std::vector<std::string> Opens(const std::vector<Call>& log) {
  std::vector<std::string> opens;
  for (const Call& call : log) {
    const bool open = Is(call, {"RegOpenKeyExA", "RegOpenKeyExW"});
    if (!open && !Is(call, {"RegCreateKeyExA", "RegCreateKeyExW"})) continue;
    std::string line =
        (open ? "open " : "create ") + KeyPath(call) + " " + RightsName(Rights(call));
    if (Options(call) != 0) line += " options " + std::to_string(Options(call));
    opens.push_back(line);
  }
  std::sort(opens.begin(), opens.end());
  return opens;
}

std::vector<std::string> Steps(const std::vector<Call>& log) {
  std::vector<std::string> steps;
  for (const Call& call : log) {
    if (Is(call, {"RegQueryValueExA", "RegQueryValueExW"}))
      steps.push_back((ReadsData(call) ? "read " : "size of ") + ValueLabel(ValueName(call)));
    if (Is(call, {"RegSetValueExA", "RegSetValueExW"}))
      steps.push_back("write " + ValueLabel(ValueName(call)) + " type " +
                      std::to_string(ValueType(call)) + " bytes " +
                      std::to_string(ByteCount(call)));
    if (Is(call, {"RegDeleteValueA"}))
      steps.push_back("delete value " + ValueLabel(ValueName(call)));
    if (Is(call, {"RegDeleteKeyA"})) steps.push_back("delete key " + KeyPath(call));
    if (Is(call, {"WaitForSingleObject"}) && Timeout(call) != INFINITE) steps.push_back("lock");
    if (Is(call, {"ReleaseMutex"})) steps.push_back("unlock");
  }
  return steps;
}

// The raw arguments, by the system's prototypes.

std::wstring QueriedValueName(const uint32_t* args) {
  const auto* name = reinterpret_cast<const wchar_t*>(args[1]);
  return name == nullptr ? std::wstring() : std::wstring(name);
}

BYTE* QueriedData(const uint32_t* args) { return reinterpret_cast<BYTE*>(args[4]); }

DWORD* QueriedSize(const uint32_t* args) { return reinterpret_cast<DWORD*>(args[5]); }

BYTE* EnumeratedData(const uint32_t* args) { return reinterpret_cast<BYTE*>(args[6]); }

DWORD* EnumeratedSize(const uint32_t* args) { return reinterpret_cast<DWORD*>(args[7]); }

std::string SubKeyArgument(const uint32_t* args) {
  const auto* path = reinterpret_cast<const char*>(args[1]);
  return path == nullptr ? std::string() : std::string(path);
}

uint32_t OpenedRights(const uint32_t* args) { return args[3]; }

uint32_t RestoreFlags(const uint32_t* args) { return args[2]; }

PROCESS_INFORMATION* StartedProcess(const uint32_t* args) {
  return reinterpret_cast<PROCESS_INFORMATION*>(args[9]);
}

void HandOutMessage(const uint32_t* args, wchar_t* block) {
  *reinterpret_cast<wchar_t**>(args[4]) = block;
}

std::wstring SearchPattern(const uint32_t* args) {
  return reinterpret_cast<const wchar_t*>(args[0]);
}

WIN32_FIND_DATAW* FoundEntry(const uint32_t* args) {
  return reinterpret_cast<WIN32_FIND_DATAW*>(args[1]);
}

}  // namespace qmis_test
