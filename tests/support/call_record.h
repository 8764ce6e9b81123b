// Reading the hook's records by what the arguments mean, so that a check
// reads as the contract does ("create <key> write options backup") rather
// than as argument positions. Each accessor knows the functions it applies
// to and fails the test when given another.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "import_hook.h"

namespace qmis_test {

// --- Recorded calls ---------------------------------------------------------

// The key path of an open, create, delete, save or restore of a key.
std::string KeyPath(const Call& call);
// The value name of a read, write or deletion of a value.
std::string ValueName(const Call& call);
// The rights an open or a create asks for, and its options.
uint32_t Rights(const Call& call);
uint32_t Options(const Call& call);
// The type and byte count a value is written with.
uint32_t ValueType(const Call& call);
uint32_t ByteCount(const Call& call);
// Whether a value read asks for the bytes, or only the size.
bool ReadsData(const Call& call);
// What a value walk offers for each entry's name and data.
uint32_t NameCapacity(const Call& call);
uint32_t DataCapacity(const Call& call);
// The handle a call closes, frees, flushes, deletes a subkey of, waits on
// or sets (a cursor), and how long a wait may take.
uint32_t HandleArgument(const Call& call);
uint32_t Timeout(const Call& call);
// The status SetLastError was given.
uint32_t LastErrorSet(const Call& call);
// A process start: its command line, and what it is started with.
std::string CommandLineOf(const Call& call);
bool NamesAnApplication(const Call& call);
bool InheritsHandles(const Call& call);
uint32_t CreationFlags(const Call& call);
// The file a call opens or searches for.
std::string FilePath(const Call& call);

// "open <key> read", "create <key> write options 4": every open and create
// in `log`, sorted.
std::vector<std::string> Opens(const std::vector<Call>& log);
// What the calls in `log` did, in order: "read <name>", "size of <name>",
// "write <name> type <t> bytes <n>", "delete value <name>", "delete key
// <path>", "lock", "unlock" (the default value is "(default)").
std::vector<std::string> Steps(const std::vector<Call>& log);
// "read", "write", "all" or the rights in hex.
std::string RightsName(uint32_t rights);

// --- The arguments a replacement is given -----------------------------------

// RegQueryValueExW: the value's name ("" for the default), where the bytes
// go (null for a size query), and the byte count in and out.
std::wstring QueriedValueName(const uint32_t* args);
BYTE* QueriedData(const uint32_t* args);
DWORD* QueriedSize(const uint32_t* args);
// RegEnumValueW: where an entry's data goes, and its byte count in and out.
BYTE* EnumeratedData(const uint32_t* args);
DWORD* EnumeratedSize(const uint32_t* args);
// RegOpenKeyExA, RegCreateKeyExA, RegDeleteKeyA: the key path.
std::string SubKeyArgument(const uint32_t* args);
// RegOpenKeyExA: the rights asked for.
uint32_t OpenedRights(const uint32_t* args);
// RegRestoreKeyW: its flags.
uint32_t RestoreFlags(const uint32_t* args);
// CreateProcessW: where the started process's handles go.
PROCESS_INFORMATION* StartedProcess(const uint32_t* args);
// FormatMessageW with FORMAT_MESSAGE_ALLOCATE_BUFFER: hands `block` to the
// caller as the message.
void HandOutMessage(const uint32_t* args, wchar_t* block);
// FindFirstFileW: the pattern searched for; FindNextFileW: the entry found.
std::wstring SearchPattern(const uint32_t* args);
WIN32_FIND_DATAW* FoundEntry(const uint32_t* args);

}  // namespace qmis_test
