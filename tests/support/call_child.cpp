// qmis-call-child.exe <kill before write> <start event> <call> [arguments...]
//
// Makes one call to QMIS.dll through its export table (the key-tree
// deletion through the internals DLL) from a process of its own, for tests
// of several installers at once and of installers killed half-way:
// - <kill before write>: 0, or k to end the process at once, with no
//   clean-up code run, just before the library's k-th registry write
//   (key creation, value write, value or key deletion); exit code kKilled.
// - <start event>: "-", or the name of an event to wait for before the call,
//   so that several children make their calls at the same moment; each
//   first releases the semaphore "<start event>.ready" once.
// Besides the exports, "schedule <prefix> <count>" schedules renames as any
// program does (under the library's rename lock), "setup <prefix> <count>" parks the list around
// scheduling some, and "take-and-hand-back <product>" takes the AutoPlay default and hands it back.
// The exit code is the call's result (0 for calls without one), and the
// standard output says "writes=<n>": the writes the call made.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "call_child.h"
#include "import_hook.h"
#include "library.h"

namespace {

using qmis_test::ImportHook;

HKEY Root(const char* name) {
  if (std::strcmp(name, "HKCU") == 0) return HKEY_CURRENT_USER;
  if (std::strcmp(name, "HKCR") == 0) return HKEY_CLASSES_ROOT;
  return HKEY_LOCAL_MACHINE;
}

int g_writes = 0;
int g_killAt = 0;

// Counts each registry write, and ends the process before the chosen one.
void CountWrites(ImportHook& hook) {
  for (const char* function : qmis_test::kRegistryWrites) {
    hook.Replace(function, [&hook, function](const uint32_t* args) {
      if (++g_writes == g_killAt) TerminateProcess(GetCurrentProcess(), qmis_test::kKilled);
      return hook.CallReal(function, args);
    });
  }
}

// Schedules the deletion of `count` files "C:\<prefix>-<i>" at the next
// start, as any program does: through the system, which appends to the list.
// Made under the library's rename lock, so that only the library's own calls
// race each other: the system's writers take no lock, and one registry call
// between a backup's last read and its deletion stays open to them.
void Schedule(const std::string& prefix, int count) {
  const qmis::UniqueHandle lock(CreateMutexA(nullptr, FALSE, "Global\\QuillmoorPendingRenames"));
  const bool held = lock && WaitForSingleObject(lock.get(), 10000) != WAIT_TIMEOUT;
  for (int i = 0; i < count; ++i) {
    const std::string path = "C:\\" + prefix + "-" + std::to_string(i);
    MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  if (held) ReleaseMutex(lock.get());
}

uint32_t Call(const qmis_test::Exports& api, const std::string& call, char** a, ImportHook& hook) {
  if (call == "claim") return api.SetRefcountedKey(a[0], a[1], std::strtoul(a[2], nullptr, 0));
  if (call == "release") return api.RemoveRefcountedKeys(a[0]);
  if (call == "take-autoplay") return api.RegisterAutoInsertTag(a[0]), 0;
  if (call == "hand-back-autoplay") return api.UnregisterAutoInsertTag(a[0]), 0;
  if (call == "hand-back-extensions") return api.UnregisterExtensions(a[0]), 0;
  if (call == "sweep") return api.KeyClean(Root(a[0]), a[1]);
  if (call == "schedule") return Schedule(a[0], std::atoi(a[1])), 0;
  if (call == "queries") {
    for (int i = std::atoi(a[0]); i > 0; --i) api.GetInternalBuildNum();
    return 0;
  }
  if (call == "setup") {
    // A setup's stretch of work: the list parked, its own renames scheduled,
    // the list merged back. The result holds both calls' results.
    const int parked = api.BackupPendingFileRename();
    Schedule(a[0], std::atoi(a[1]));
    return parked * 10 + api.RestorePendingFileRename();
  }
  if (call == "take-and-hand-back") {
    api.RegisterAutoInsertTag(a[0]);
    return api.UnregisterAutoInsertTag(a[0]), 0;
  }
  if (call == "backup") return api.BackupPendingFileRename();
  if (call == "restore") return api.RestorePendingFileRename();
  if (call == "uninstall") {
    hook.ReplaceCommandLine(a[0]);
    return api.UninstInitialize(0, 0, 0);
  }
  std::fprintf(stderr, "unknown call %s\n", call.c_str());
  std::exit(qmis_test::kBadArguments);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return qmis_test::kBadArguments;
  g_killAt = std::atoi(argv[1]);
  const std::string call = argv[3];
  const bool internal = call == "delete-tree";
  qmis_test::Library library(internal ? "qmis_internals.dll" : "QMIS.dll");
  ImportHook hook(library.module());
  CountWrites(hook);
  if (std::strcmp(argv[2], "-") != 0) {
    // Says it is ready on "<event>.ready", then waits for the start.
    const qmis::UniqueHandle start(OpenEventA(SYNCHRONIZE, FALSE, argv[2]));
    const qmis::UniqueHandle ready(
        OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, (std::string(argv[2]) + ".ready").c_str()));
    if (!start || !ready) return qmis_test::kBadArguments;
    ReleaseSemaphore(ready.get(), 1, nullptr);
    WaitForSingleObject(start.get(), INFINITE);
  }
  uint32_t result = 0;
  if (internal) {
    using DeleteTree = LONG (*)(HKEY, const char*);
    const auto deleteTree = reinterpret_cast<DeleteTree>(library.Find("qmis_DeleteKeyTree"));
    result = deleteTree(Root(argv[4]), argv[5]);
  } else {
    result = Call(library.api(), call, argv + 4, hook);
  }
  std::printf("writes=%d\n", g_writes);
  return static_cast<int>(result);
}
