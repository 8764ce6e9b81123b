// qmis-demo: the library's main job, told step by step on a throwaway Wine
// prefix.
//
//   qmis-demo.exe <sample setup.exe> <viewer setup.exe>
//
// Two sample products are installed by their NSIS installers (silent); they
// share a key, the first takes the Audio-CD AutoPlay default and a file
// extension and installs a plug-in recorded as its dependent. The
// uninstaller host then removes one product and then the other: what they
// took is handed back, the shared key goes with the last claim, and the
// plug-in's own uninstall runs as a dependent.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "companion.h"
#include "qmis.h"
#include "qmis/handles.h"
#include "qmis/layout.h"

namespace {

using qmis::kAudioCdShell;
using qmis::kMakerRoot;
using qmis::kSessionManager;
const std::string kShared = std::string(kMakerRoot) + "\\Shared\\Sample";
const char kSample[] = "QMIS Sample";
const char kViewer[] = "QMIS Sample Viewer";

HMODULE g_library;

template <typename F>
F Export(const char* name, F) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(g_library, name)));
}
#define QMIS_EXPORT(name) Export(#name, &name)

__attribute__((format(printf, 1, 2))) void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

void SetString(HKEY root, const std::string& path, const char* name, const std::string& text) {
  qmis::UniqueKey key;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
}

// A value as text: a string, a number, or "(none)".
std::string Show(HKEY root, const std::string& path, const char* name) {
  qmis::UniqueKey key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return "(no key)";
  BYTE data[512];
  DWORD size = sizeof data - 1, type = 0;
  if (RegQueryValueExA(key.get(), name, nullptr, &type, data, &size) != ERROR_SUCCESS)
    return "(none)";
  if (type == REG_DWORD) return std::to_string(*reinterpret_cast<DWORD*>(data));
  data[size] = 0;
  return "\"" + std::string(reinterpret_cast<char*>(data)) + "\"";
}

bool KeyExists(HKEY root, const std::string& path) {
  qmis::UniqueKey key;
  return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// The pairs of a rename list, one line each.
void ShowRenames(const char* name) {
  static char data[70000];
  DWORD size = sizeof data;
  LONG status = ERROR_FILE_NOT_FOUND;
  qmis::UniqueKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, key.put()) == ERROR_SUCCESS)
    status =
        RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
  if (status != ERROR_SUCCESS) {
    Say("      %s: (none)\n", name);
    return;
  }
  Say("      %s:\n", name);
  for (DWORD at = 0; at < size && data[at] != 0;) {
    const std::string from = data + at;
    at += static_cast<DWORD>(from.size()) + 1;
    const std::string to = at < size ? data + at : "";
    at += static_cast<DWORD>(to.size()) + 1;
    Say("        %s -> %s\n", from.c_str(), to.empty() ? "(delete)" : to.c_str());
  }
}

void ShowShell() {
  Say("   AudioCD default = %s, saved = %s\n",
      Show(HKEY_CLASSES_ROOT, kAudioCdShell, nullptr).c_str(),
      Show(HKEY_CLASSES_ROOT, kAudioCdShell, qmis::kSavedDefaultValue).c_str());
  Say("   .qmsample = %s, saved = %s\n", Show(HKEY_CLASSES_ROOT, ".qmsample", nullptr).c_str(),
      Show(HKEY_CLASSES_ROOT, ".qmsample", qmis::kSavedDefaultValue).c_str());
}

void ShowMachineBefore() {
  Say("0. The machine before: a CD player verb is the AutoPlay default, .qmsample opens as "
      "txtfile\n");
  SetString(HKEY_CLASSES_ROOT, "AudioCD\\shell\\play\\command", nullptr, "cdplayer.exe /play");
  SetString(HKEY_CLASSES_ROOT, kAudioCdShell, nullptr, "play");
  SetString(HKEY_CLASSES_ROOT, ".qmsample", nullptr, "txtfile");
  ShowShell();
}

void InstallBoth(const std::string& folder, const char* sampleSetup, const char* viewerSetup) {
  Say("\n1. Installing \"%s\" and \"%s\" with their NSIS installers (silent)\n", kSample, kViewer);
  for (const auto& [product, setup] : {std::pair{kSample, sampleSetup}, {kViewer, viewerSetup}}) {
    const DWORD code = RunAndWait("\"" + std::string(setup) + "\" /S");
    Say("   %s setup: exit code %lu\n", product, code);
  }
  ShowShell();
  Say("   qmis-inspect reads the state back:\n");
  RunAndWait("\"" + folder + "qmis-inspect.exe\"");
}

void ParkRenames() {
  auto park = QMIS_EXPORT(QMSetup_BackupPendingFileRename);
  auto merge = QMIS_EXPORT(QMSetup_RestorePendingFileRename);
  Say("\n2. Parking the pending file renames around a stretch of setup work\n");
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string work = std::string(temp) + "qmis-demo";
  CreateDirectoryA(work.c_str(), nullptr);
  MoveFileExA((work + "\\old.cfg").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  ShowRenames(qmis::kPendingRenamesValue);
  Say("   park: %d\n", park());
  ShowRenames(qmis::kPendingRenamesValue);
  ShowRenames(qmis::kParkedRenamesValue);
  MoveFileExA((work + "\\new.cfg").c_str(), (work + "\\app.cfg").c_str(),
              MOVEFILE_DELAY_UNTIL_REBOOT);
  Say("   the setup schedules a rename of its own; merge: %d\n", merge());
  ShowRenames(qmis::kPendingRenamesValue);
  ShowRenames(qmis::kParkedRenamesValue);
  qmis::UniqueKey session;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, session.put()) ==
      ERROR_SUCCESS)
    RegDeleteValueA(session.get(), qmis::kPendingRenamesValue);  // nothing real to rename
}

void RemoveThroughHost(int step, const std::string& folder, const char* product) {
  char programFiles[MAX_PATH];
  ExpandEnvironmentStringsA("%ProgramFiles%", programFiles, MAX_PATH);
  const std::string dir = std::string(programFiles) + "\\" + product;
  const std::string command = "\"" + folder + "qmis-uninstall-host.exe\" -f\"" + dir +
                              "\\uninstall.qmis\" -z\"" + product + "\"";
  Say("\n%d. Removing %s through the uninstaller host:\n", step, product);
  const DWORD code = RunAndWait(command);
  Say("   %s\n   host exit code %lu\n", command.c_str(), code);
  ShowShell();
  Say("   shared key Refcount = %s\n",
      Show(HKEY_LOCAL_MACHINE, kShared, qmis::kClaimMaskValue).c_str());
  const bool plugin =
      KeyExists(HKEY_LOCAL_MACHINE, std::string(kMakerRoot) + "\\QMIS Sample Plugin");
  Say("   plug-in (dependent) %s; install folder %s\n",
      plugin ? "still there" : "removed by its own host run",
      GetFileAttributesA(dir.c_str()) == INVALID_FILE_ATTRIBUTES ? "gone" : "still there");
}

void SweepEmptyBranches() {
  auto sweep = QMIS_EXPORT(QmUninstall_KeyClean);
  const std::string maker = kMakerRoot;
  Say("\n5. Sweeping empty branches out of HKLM\\%s\n", kMakerRoot);
  SetString(HKEY_LOCAL_MACHINE, maker + "\\Kept\\Deep", "Value", "x");
  {
    qmis::UniqueKey empty;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, (maker + "\\Leftover\\Empty").c_str(), 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, empty.put(), nullptr);
  }
  auto state = [&](const char* name, const char* present, const char* absent) {
    return KeyExists(HKEY_LOCAL_MACHINE, maker + "\\" + name) ? present : absent;
  };
  // Kept, Leftover and Shared (empty since Shared\Sample went) in that order.
  std::string path = maker;
  const LONG first = sweep(HKEY_LOCAL_MACHINE, path.data());
  Say("   first sweep: %ld; Leftover %s, Shared %s\n", first,
      state("Leftover", "left", "swept away"),
      state("Shared", "waits (it moved into the swept branch's place)", "swept away"));
  const LONG second = sweep(HKEY_LOCAL_MACHINE, path.data());
  Say("   second sweep: %ld; Shared %s; Kept %s\n", second, state("Shared", "left", "swept away"),
      state("Kept", "kept (it holds a value)", "gone"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: qmis-demo <sample setup.exe> <viewer setup.exe>\n");
    return 2;
  }
  const std::string folder = ProgramFolder();
  const qmis::UniqueModule library(LoadLibraryA((folder + "QMIS.dll").c_str()));
  if (!library) {
    std::printf("cannot load QMIS.dll from %s\n", folder.c_str());
    return 1;
  }
  g_library = library.get();
  char version[16];
  const int build = QMIS_EXPORT(QMSetup_GetVersionNum)(version);
  Say("QMIS.dll %s loaded (build %d)\n\n", version, build);

  ShowMachineBefore();
  InstallBoth(folder, argv[1], argv[2]);
  ParkRenames();
  RemoveThroughHost(3, folder, kSample);
  RemoveThroughHost(4, folder, kViewer);
  SweepEmptyBranches();
  return 0;
}
