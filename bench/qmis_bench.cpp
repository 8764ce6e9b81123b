// qmis-bench: times QMIS.dll's exports against the platform's own
// operations on identical, freshly built inputs, alternating the two for
// every round, and prints medians and the ratio library / reference.
//
//   qmis-bench.exe [rounds [only]]   (rounds default 5; `only` runs the
//                                     comparisons whose name holds it)
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "companion.h"
#include "qmis.h"
#include "qmis/handles.h"
#include "qmis/layout.h"

namespace {

HMODULE g_library;
std::string g_only;

template <typename F>
F Export(const char* name, F) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(g_library, name)));
}

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Runs `prepare` before each timed run; alternates library and reference.
void Compare(const char* what, int rounds, const std::function<void()>& prepare,
             const std::function<void()>& library, const std::function<void()>& reference,
             const char* libraryLabel = "library", const char* referenceLabel = "reference") {
  if (std::string(what).find(g_only) == std::string::npos) return;
  std::vector<double> libraryTimes, referenceTimes;
  for (int round = 0; round < rounds; ++round) {
    for (int side = 0; side < 2; ++side) {
      const bool first = (round + side) % 2 == 0;  // alternate which goes first
      prepare();
      const double start = Now();
      (first ? library : reference)();
      (first ? libraryTimes : referenceTimes).push_back(Now() - start);
    }
  }
  const double lib = Median(libraryTimes), ref = Median(referenceTimes);
  std::printf("%-44s %s %9.1f ms   %s %9.1f ms   ratio %.2f\n", what, libraryLabel, lib * 1000,
              referenceLabel, ref * 1000, lib / ref);
  std::fflush(stdout);
}

const char kMaker[] = "SOFTWARE\\Quillmoor";
const char kProduct[] = "QMIS Bench";
const std::string kClaimList =
    std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kProduct +
    "\\RefcountList";

// `path` below `parent`, created when missing, opened with full access.
qmis::UniqueKey CreateKey(HKEY parent, const std::string& path) {
  qmis::UniqueKey key;
  RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
  return key;
}

qmis::UniqueKey OpenKey(HKEY parent, const char* path) {
  qmis::UniqueKey key;
  RegOpenKeyExA(parent, path, 0, KEY_ALL_ACCESS, key.put());
  return key;
}

void SetMask(HKEY key, const char* name, DWORD mask) {
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mask), sizeof mask);
}

// Builds `breadth` keys with `perChild` keys each below HKLM\path, and a
// chain of `chain` keys.
void BuildTree(const std::string& path, int breadth, int perChild, int chain) {
  const qmis::UniqueKey root = CreateKey(HKEY_LOCAL_MACHINE, path);
  for (int i = 0; i < breadth; ++i) {
    const qmis::UniqueKey child = CreateKey(root.get(), "k" + std::to_string(i));
    for (int j = 0; j < perChild; ++j) CreateKey(child.get(), "g" + std::to_string(j));
  }
  qmis::UniqueKey level;
  for (int i = 0; i < chain; ++i) level = CreateKey(i == 0 ? root.get() : level.get(), "c");
}

void ClaimBench(const char* name) {
  SetMask(CreateKey(HKEY_LOCAL_MACHINE, kClaimList).get(), name, 1);
  SetMask(CreateKey(HKEY_LOCAL_MACHINE, std::string(kMaker) + "\\" + name).get(), "Refcount", 1);
}

// A claim and its release by hand, with the registry calls the library
// makes and no lock: the claim-list entry, the mask read and ORed, then the
// mask read again, cleared and the key and the list deleted.
void UnguardedClaimAndRelease(const char* name) {
  const std::string shared = std::string(kMaker) + "\\" + name;
  const DWORD bits = 1;
  SetMask(CreateKey(HKEY_LOCAL_MACHINE, kClaimList).get(), name, bits);
  for (int pass = 0; pass < 2; ++pass) {
    const qmis::UniqueKey key = CreateKey(HKEY_LOCAL_MACHINE, shared);
    DWORD mask = 0, size = sizeof mask, type = 0;
    RegQueryValueExA(key.get(), "Refcount", nullptr, &type, reinterpret_cast<BYTE*>(&mask), &size);
    SetMask(key.get(), "Refcount", pass == 0 ? mask | bits : mask & ~bits);
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, shared.c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kClaimList.c_str());
}

// The minimal sweep: the same rising-index walk, one value probe per key,
// empty branches deleted with the system's tree deletion.
bool HoldsValueBelow(HKEY key) {
  char name[MAX_PATH];
  DWORD size = MAX_PATH;
  if (RegEnumValueA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_NO_MORE_ITEMS)
    return true;
  for (DWORD i = 0;; ++i) {
    if (RegEnumKeyA(key, i, name, MAX_PATH) != ERROR_SUCCESS) return false;
    const qmis::UniqueKey sub = OpenKey(key, name);
    if (!sub || HoldsValueBelow(sub.get())) return true;
  }
}

void ReferenceSweep(const std::string& path) {
  const qmis::UniqueKey key = OpenKey(HKEY_LOCAL_MACHINE, path.c_str());
  char name[MAX_PATH];
  for (DWORD i = 0; RegEnumKeyA(key.get(), i, name, MAX_PATH) == ERROR_SUCCESS; ++i) {
    bool holds = true;
    if (const qmis::UniqueKey sub = OpenKey(key.get(), name)) holds = HoldsValueBelow(sub.get());
    if (!holds) RegDeleteTreeA(key.get(), name), RegDeleteKeyA(key.get(), name);
  }
}

DWORD ReferenceSize(const std::string& dir) {
  WIN32_FIND_DATAA entry;
  const qmis::UniqueFind search(FindFirstFileExA((dir + "\\*").c_str(), FindExInfoBasic, &entry,
                                                 FindExSearchNameMatch, nullptr,
                                                 FIND_FIRST_EX_LARGE_FETCH));
  if (!search) return 0;
  DWORD total = 0;
  do {
    if (entry.cFileName[0] == '.') continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      total += ReferenceSize(dir + "\\" + entry.cFileName);
    total += entry.nFileSizeLow;
  } while (FindNextFileA(search.get(), &entry));
  return total;
}

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](FILETIME t) {
    return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) /
           1e7;
  };
  return seconds(kernel) + seconds(user);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 5;
  if (argc > 2) g_only = argv[2];
  const qmis::UniqueModule library(LoadLibraryA((ProgramFolder() + "QMIS.dll").c_str()));
  if (!library) return 1;
  g_library = library.get();
  auto release = Export("QMSetup_RemoveRefcountedKeys", &QMSetup_RemoveRefcountedKeys);
  auto sweep = Export("QmUninstall_KeyClean", &QmUninstall_KeyClean);
  auto size = Export("QMSetup_GetCopyFileSize", &QMSetup_GetCopyFileSize);
  auto run = Export("QMSetup_SilentRunExternalWait", &QMSetup_SilentRunExternalWait);
  std::printf("qmis-bench: %d rounds, medians\n", rounds);

  struct Shape {
    const char* name;
    int breadth, perChild, chain;
  };
  for (const Shape& shape : {Shape{"key-tree deletion, wide 1 x 10,000", 10000, 0, 0},
                             Shape{"key-tree deletion, square 100 x 100", 100, 99, 0},
                             Shape{"key-tree deletion, deep chain of 400", 0, 0, 400}}) {
    const std::string name = "Bench";
    const std::string path = std::string(kMaker) + "\\" + name;
    Compare(
        shape.name, rounds,
        [&] {
          BuildTree(path, shape.breadth, shape.perChild, shape.chain);
          ClaimBench(name.c_str());
        },
        [&] {
          std::string product = kProduct;
          release(product.data());
        },
        [&] {
          const qmis::UniqueKey maker = OpenKey(HKEY_LOCAL_MACHINE, kMaker);
          RegDeleteTreeA(maker.get(), name.c_str());
          RegDeleteKeyA(maker.get(), name.c_str());
        });
  }

  // A claim and a release of one shared key, against the same registry
  // operations made by hand with no lock: what the lock across processes
  // costs a call.
  auto claim = Export("QMSetup_SetRefcountedKey", &QMSetup_SetRefcountedKey);
  const int claims = 200;
  Compare(
      "claim and release of one key, 200 times", rounds, [] {},
      [&] {
        for (int i = 0; i < claims; ++i) {
          std::string product = kProduct, key = "BenchClaim";
          claim(product.data(), key.data(), 1);
          release(product.data());
        }
      },
      [&] {
        for (int i = 0; i < claims; ++i) UnguardedClaimAndRelease("BenchClaim");
      });

  // A release of 200 keys, and the longest another installer waits for the
  // claim lock meanwhile: a watcher takes and gives back the lock over and
  // over, and keeps its longest wait, which is the longest hold.
  if (std::string("release of 200 keys").find(g_only) != std::string::npos) {
    std::vector<double> releaseTimes, longestWaits;
    for (int round = 0; round < rounds; ++round) {
      for (int i = 0; i < 200; ++i) {
        const std::string key = "BenchMany\\k" + std::to_string(i);
        std::string product = kProduct, name = key;
        claim(product.data(), name.data(), 1);
      }
      std::atomic<bool> done = false;
      double longest = 0;
      std::thread watcher([&] {
        const qmis::UniqueHandle lock(CreateMutexA(nullptr, FALSE, qmis::kClaimLockName));
        while (!done) {
          const double start = Now();
          if (WaitForSingleObject(lock.get(), INFINITE) == WAIT_FAILED) break;
          longest = std::max(longest, Now() - start);
          ReleaseMutex(lock.get());
          Sleep(0);
        }
      });
      Sleep(50);  // the watcher is waiting on the lock before the release begins
      const double start = Now();
      std::string product = kProduct;
      release(product.data());
      releaseTimes.push_back(Now() - start);
      done = true;
      watcher.join();
      longestWaits.push_back(longest);
    }
    std::printf("%-44s library %9.1f ms   longest wait for the lock %7.1f ms\n",
                "release of 200 keys", Median(releaseTimes) * 1000,
                *std::max_element(longestWaits.begin(), longestWaits.end()) * 1000);
    std::fflush(stdout);
  }

  // A backup with a restore, against the same registry calls by hand with
  // no lock and no second read.
  auto backup = Export("QMSetup_BackupPendingFileRename", &QMSetup_BackupPendingFileRename);
  auto restore = Export("QMSetup_RestorePendingFileRename", &QMSetup_RestorePendingFileRename);
  std::string list;
  for (int i = 0; i < 20; ++i) list += "\\??\\C:\\qmis-bench-" + std::to_string(i) + '\0' + '\0';
  list += '\0';
  const qmis::UniqueKey session = OpenKey(HKEY_LOCAL_MACHINE, qmis::kSessionManager);
  auto putList = [&] {
    RegSetValueExA(session.get(), qmis::kPendingRenamesValue, 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(list.data()), static_cast<DWORD>(list.size()));
  };
  auto moveList = [&](const wchar_t* from, const char* fromName, const wchar_t* to) {
    BYTE data[4096];
    DWORD size = sizeof data, type = 0;
    RegQueryValueExW(session.get(), from, nullptr, &type, data, &size);
    RegSetValueExW(session.get(), to, 0, type, data, size);
    RegDeleteValueA(session.get(), fromName);
  };
  Compare(
      "backup with a restore, 100 times", rounds, putList,
      [&] {
        for (int i = 0; i < 100; ++i) backup(), restore();
      },
      [&] {
        for (int i = 0; i < 100; ++i) {
          moveList(qmis::kPendingRenamesValueW, qmis::kPendingRenamesValue,
                   qmis::kParkedRenamesValueW);
          moveList(qmis::kParkedRenamesValueW, qmis::kParkedRenamesValue,
                   qmis::kPendingRenamesValueW);
        }
      });
  RegDeleteValueA(session.get(), qmis::kPendingRenamesValue);

  const std::string swept = "SOFTWARE\\QmisBench\\Sweep";
  Compare(
      "empty-branch sweep, 100 x 100 empty keys", rounds,
      [&] {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, swept.c_str());
        BuildTree(swept, 100, 99, 0);
      },
      [&] {
        std::string path = swept;
        sweep(HKEY_LOCAL_MACHINE, path.data());
      },
      [&] { ReferenceSweep(swept); });
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\QmisBench");

  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string tree = std::string(temp) + "qmis-bench-tree";
  CreateDirectoryA(tree.c_str(), nullptr);
  for (int d = 0; d < 200 && std::string("directory size").find(g_only) != std::string::npos; ++d) {
    const std::string dir = tree + "\\d" + std::to_string(d);
    CreateDirectoryA(dir.c_str(), nullptr);
    for (int f = 0; f < 100; ++f) {
      const qmis::UniqueFile file(CreateFileA((dir + "\\f" + std::to_string(f)).c_str(),
                                              GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                              nullptr));
      DWORD written = 0;
      WriteFile(file.get(), "0123456789", 1 + f % 10, &written, nullptr);
    }
  }
  DWORD libraryTotal = 0, referenceTotal = 0;
  Compare(
      "directory size, 20,000 files in 200 folders", rounds, [] {},
      [&] { libraryTotal = size(tree.c_str()); }, [&] { referenceTotal = ReferenceSize(tree); });
  if (std::string("directory size").find(g_only) != std::string::npos) {
    std::printf("  (both count %lu bytes%s)\n", static_cast<unsigned long>(libraryTotal),
                libraryTotal == referenceTotal ? "" : " -- MISMATCH");
  }

  // The opt-in log: a claim with its release, and a directory size, with
  // QMIS_LOG unset, naming a file, and "debug".
  if (std::string("log").find(g_only) != std::string::npos || g_only.empty()) {
    const std::string log = std::string(temp) + "qmis-bench.log";
    for (const char* mode : {"unset", "a file", "debug"}) {
      const std::string value = std::string(mode) == "a file" ? log : mode;
      SetEnvironmentVariableA("QMIS_LOG", std::string(mode) == "unset" ? nullptr : value.c_str());
      std::vector<double> claimTimes, sizeTimes;
      for (int round = 0; round < rounds; ++round) {
        double start = Now();
        for (int i = 0; i < 100; ++i) {
          std::string product = kProduct, key = "BenchLogged";
          claim(product.data(), key.data(), 1);
          release(product.data());
        }
        claimTimes.push_back(Now() - start);
        start = Now();
        size(tree.c_str());
        sizeTimes.push_back(Now() - start);
      }
      std::printf("log %-7s claim and release x100 %8.1f ms   directory size %8.1f ms\n", mode,
                  Median(claimTimes) * 1000, Median(sizeTimes) * 1000);
      std::fflush(stdout);
    }
    SetEnvironmentVariableA("QMIS_LOG", nullptr);
    DeleteFileA(log.c_str());
  }

  // Each ANSI export against its Unicode twin on the same input: the ANSI
  // one converts its arguments and runs the same code.
  auto sizeW = Export("QMSetup_GetCopyFileSizeW", &QMSetup_GetCopyFileSizeW);
  auto runW = Export("QMSetup_SilentRunExternalWaitW", &QMSetup_SilentRunExternalWaitW);
  auto rename = Export("QmRenameDirectory", &QmRenameDirectory);
  auto renameW = Export("QmRenameDirectoryW", &QmRenameDirectoryW);
  auto save = Export("QMSetup_RegSaveKey", &QMSetup_RegSaveKey);
  auto saveW = Export("QMSetup_RegSaveKeyW", &QMSetup_RegSaveKeyW);
  const std::wstring wideTree = WideFromUtf8(tree);
  Compare(
      "twins: directory size, 20,000 files", rounds, [] {}, [&] { size(tree.c_str()); },
      [&] { sizeW(wideTree.c_str()); }, "ANSI", "Unicode");
  const std::string moved = tree + "-moved";
  const std::wstring wideMoved = WideFromUtf8(moved);
  Compare(
      "twins: rename there and back, 200 times", rounds, [] {},
      [&] {
        for (int i = 0; i < 100; ++i)
          rename(tree.c_str(), moved.c_str()), rename(moved.c_str(), tree.c_str());
      },
      [&] {
        for (int i = 0; i < 100; ++i)
          renameW(wideTree.c_str(), wideMoved.c_str()),
              renameW(wideMoved.c_str(), wideTree.c_str());
      },
      "ANSI", "Unicode");
  const std::string hive = std::string(temp) + "qmis-bench.hive";
  const std::wstring wideHive = WideFromUtf8(hive);
  CreateKey(HKEY_CURRENT_USER, "Software\\QmisBench\\Hive");
  Compare(
      "twins: hive save of a small key, 20 times", rounds, [] {},
      [&] {
        for (int i = 0; i < 20; ++i) {
          std::string key = "Software\\QmisBench\\Hive", file = hive;
          save(HKEY_CURRENT_USER, key.data(), file.data());
          DeleteFileA(hive.c_str());
        }
      },
      [&] {
        for (int i = 0; i < 20; ++i) {
          saveW(HKEY_CURRENT_USER, L"Software\\QmisBench\\Hive", wideHive.c_str());
          DeleteFileA(hive.c_str());
        }
      },
      "ANSI", "Unicode");
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QmisBench");

  const std::string child = "\"" + ProgramFolder() + "qmis-test-child.exe\" 0";
  Compare(
      "twins: silent runner, 20 runs", rounds, [] {},
      [&] {
        for (int i = 0; i < 20; ++i) {
          std::string command = child;
          char text[MAX_PATH];
          run(command.data(), text);
        }
      },
      [&] {
        const std::wstring command = WideFromUtf8(child);
        for (int i = 0; i < 20; ++i) {
          wchar_t text[MAX_PATH];
          runW(command.c_str(), text);
        }
      },
      "ANSI", "Unicode");
  Compare(
      "silent runner, 50 runs of a trivial program", rounds, [] {},
      [&] {
        for (int i = 0; i < 50; ++i) {
          std::string command = child;
          char text[MAX_PATH];
          run(command.data(), text);
        }
      },
      [&] {
        for (int i = 0; i < 50; ++i) RunAndWait(child);
      });
  if (g_only.empty() || std::string("silent runner").find(g_only) != std::string::npos) {
    // CPU the caller burns over a run whose child sleeps 2 s: the library's
    // blocking wait against the reference's, so process start-up shows as
    // the same on both sides.
    const std::string sleeper = "\"" + ProgramFolder() + "qmis-test-child.exe\" 0 2000";
    for (int side = 0; side < 2; ++side) {
      const double cpuBefore = ProcessCpuSeconds(), wallBefore = Now();
      if (side == 0) {
        std::string command = sleeper;
        char text[MAX_PATH];
        run(command.data(), text);
      } else {
        RunAndWait(sleeper);
      }
      std::printf("%-44s %.0f ms of CPU over %.1f s\n",
                  side == 0 ? "caller's CPU, child sleeping 2 s: library"
                            : "caller's CPU, child sleeping 2 s: reference",
                  (ProcessCpuSeconds() - cpuBefore) * 1000, Now() - wallBefore);
    }
  }
  return 0;
}
