// qmis-bench: times QMIS.dll's exports against the platform's own
// operations on identical, freshly built inputs, alternating the two for
// every round, and prints medians and the ratio library / reference.
//
//   qmis-bench.exe [rounds [only]]   (rounds default 5; `only` runs the
//                                     comparisons whose name holds it)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "companion.h"
#include "qmis.h"

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
             const std::function<void()>& library, const std::function<void()>& reference) {
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
  std::printf("%-44s library %9.1f ms   reference %9.1f ms   ratio %.2f\n", what, lib * 1000,
              ref * 1000, lib / ref);
  std::fflush(stdout);
}

const char kMaker[] = "SOFTWARE\\Quillmoor";
const char kProduct[] = "QMIS Bench";

// Builds `breadth` keys under each of `depth` levels below root\path.
void BuildTree(const std::string& path, int breadth, int perChild, int chain) {
  HKEY root = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root,
                  nullptr);
  for (int i = 0; i < breadth; ++i) {
    HKEY child = nullptr;
    RegCreateKeyExA(root, ("k" + std::to_string(i)).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &child, nullptr);
    for (int j = 0; j < perChild; ++j) {
      HKEY grandchild = nullptr;
      RegCreateKeyExA(child, ("g" + std::to_string(j)).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &grandchild, nullptr);
      RegCloseKey(grandchild);
    }
    RegCloseKey(child);
  }
  HKEY level = root;
  for (int i = 0; i < chain; ++i) {
    HKEY next = nullptr;
    RegCreateKeyExA(level, "c", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &next, nullptr);
    if (level != root) RegCloseKey(level);
    level = next;
  }
  if (level != root) RegCloseKey(level);
  RegCloseKey(root);
}

void ClaimBench(const char* name) {
  const std::string list =
      std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kProduct +
      "\\RefcountList";
  HKEY key = nullptr;
  const DWORD bits = 1;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, list.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                  nullptr);
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&bits), 4);
  RegCloseKey(key);
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kMaker) + "\\" + name).c_str(), 0, nullptr, 0,
                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
  RegSetValueExA(key, "Refcount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&bits), 4);
  RegCloseKey(key);
}

// A claim and its release by hand, with the registry calls the library
// makes and no lock: the claim-list entry, the mask read and ORed, then the
// mask read again, cleared and the key and the list deleted.
void UnguardedClaimAndRelease(const char* name) {
  const std::string product =
      std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kProduct;
  const std::string shared = std::string(kMaker) + "\\" + name;
  const DWORD bits = 1;
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, (product + "\\RefcountList").c_str(), 0, nullptr, 0,
                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&bits), 4);
  RegCloseKey(key);
  for (int pass = 0; pass < 2; ++pass) {
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, shared.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &key, nullptr);
    DWORD mask = 0, size = sizeof mask, type = 0;
    RegQueryValueExA(key, "Refcount", nullptr, &type, reinterpret_cast<BYTE*>(&mask), &size);
    mask = pass == 0 ? mask | bits : mask & ~bits;
    RegSetValueExA(key, "Refcount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mask), 4);
    RegCloseKey(key);
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, shared.c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, (product + "\\RefcountList").c_str());
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
    HKEY sub = nullptr;
    if (RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, &sub) != ERROR_SUCCESS) return true;
    const bool holds = HoldsValueBelow(sub);
    RegCloseKey(sub);
    if (holds) return true;
  }
}

void ReferenceSweep(const std::string& path) {
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key);
  char name[MAX_PATH];
  for (DWORD i = 0; RegEnumKeyA(key, i, name, MAX_PATH) == ERROR_SUCCESS; ++i) {
    HKEY sub = nullptr;
    bool holds = true;
    if (RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, &sub) == ERROR_SUCCESS) {
      holds = HoldsValueBelow(sub);
      RegCloseKey(sub);
    }
    if (!holds) RegDeleteTreeA(key, name), RegDeleteKeyA(key, name);
  }
  RegCloseKey(key);
}

DWORD ReferenceSize(const std::string& dir) {
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileExA((dir + "\\*").c_str(), FindExInfoBasic, &entry,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return 0;
  DWORD total = 0;
  do {
    if (entry.cFileName[0] == '.') continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      total += ReferenceSize(dir + "\\" + entry.cFileName);
    total += entry.nFileSizeLow;
  } while (FindNextFileA(search, &entry));
  FindClose(search);
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
  g_library = LoadLibraryA((ProgramFolder() + "QMIS.dll").c_str());
  if (g_library == nullptr) return 1;
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
          HKEY maker = nullptr;
          RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMaker, 0, KEY_ALL_ACCESS, &maker);
          RegDeleteTreeA(maker, name.c_str());
          RegDeleteKeyA(maker, name.c_str());
          RegCloseKey(maker);
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
      HANDLE file = CreateFileA((dir + "\\f" + std::to_string(f)).c_str(), GENERIC_WRITE, 0,
                                nullptr, CREATE_ALWAYS, 0, nullptr);
      DWORD written = 0;
      WriteFile(file, "0123456789", 1 + f % 10, &written, nullptr);
      CloseHandle(file);
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

  const std::string child = "\"" + ProgramFolder() + "qmis-test-child.exe\" 0";
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
