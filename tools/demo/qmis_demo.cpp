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

#include <cstdio>
#include <string>

#include "companion.h"
#include "qmis.h"

namespace {

const char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kSession[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

HMODULE g_library;

template <typename F>
F Export(const char* name, F) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(g_library, name)));
}
#define QMIS_EXPORT(name) Export(#name, &name)

void Say(const char* format, const std::string& a = "", const std::string& b = "") {
  std::printf(format, a.c_str(), b.c_str());
  std::fflush(stdout);
}

void SetString(HKEY root, const std::string& path, const char* name, const std::string& text) {
  HKEY key = nullptr;
  RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
}

// A value as text: a string, a number, or "(none)".
std::string Show(HKEY root, const std::string& path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "(no key)";
  BYTE data[512];
  DWORD size = sizeof data - 1, type = 0;
  const LONG status = RegQueryValueExA(key, name, nullptr, &type, data, &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return "(none)";
  if (type == REG_DWORD) return std::to_string(*reinterpret_cast<DWORD*>(data));
  data[size] = 0;
  return "\"" + std::string(reinterpret_cast<char*>(data)) + "\"";
}

bool KeyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// The pairs of a rename list, one line each.
void ShowRenames(const char* name) {
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSession, 0, KEY_READ, &key);
  static char data[70000];
  DWORD size = sizeof data;
  const LONG status = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
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
    Say("        %s -> %s\n", from, to.empty() ? "(delete)" : to);
  }
}

void Inspect(const std::string& folder, const std::string& arguments) {
  RunAndWait("\"" + folder + "qmis-inspect.exe\" " + arguments);
}

void ShowShell() {
  Say("   AudioCD default = %s, saved = %s\n", Show(HKEY_CLASSES_ROOT, "AudioCD\\shell", nullptr),
      Show(HKEY_CLASSES_ROOT, "AudioCD\\shell", "QmPrevious"));
  Say("   .qmsample = %s, saved = %s\n", Show(HKEY_CLASSES_ROOT, ".qmsample", nullptr),
      Show(HKEY_CLASSES_ROOT, ".qmsample", "QmPrevious"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: qmis-demo <sample setup.exe> <viewer setup.exe>\n");
    return 2;
  }
  const std::string folder = ProgramFolder();
  g_library = LoadLibraryA((folder + "QMIS.dll").c_str());
  if (g_library == nullptr) {
    std::printf("cannot load QMIS.dll from %s\n", folder.c_str());
    return 1;
  }
  auto getVersion = QMIS_EXPORT(QMSetup_GetVersionNum);
  auto park = QMIS_EXPORT(QMSetup_BackupPendingFileRename);
  auto merge = QMIS_EXPORT(QMSetup_RestorePendingFileRename);
  auto sweep = QMIS_EXPORT(QmUninstall_KeyClean);
  char version[16];
  const int build = getVersion(version);
  Say("QMIS.dll %s loaded (build %s)\n\n", version, std::to_string(build));

  const std::string sample = "QMIS Sample", viewer = "QMIS Sample Viewer";
  const std::string shared = "SOFTWARE\\Quillmoor\\Shared\\Sample";
  Say("0. The machine before: a CD player verb is the AutoPlay default, .qmsample opens as txtfile%s%s\n");
  SetString(HKEY_CLASSES_ROOT, "AudioCD\\shell", nullptr, "play");
  SetString(HKEY_CLASSES_ROOT, ".qmsample", nullptr, "txtfile");
  ShowShell();

  Say("\n1. Installing \"%s\" and \"%s\" with their NSIS installers (silent)\n", sample, viewer);
  Say("   %s setup: exit code %s\n", sample, std::to_string(RunAndWait("\"" + std::string(argv[1]) + "\" /S")));
  Say("   %s setup: exit code %s\n", viewer, std::to_string(RunAndWait("\"" + std::string(argv[2]) + "\" /S")));
  ShowShell();
  Say("   qmis-inspect reads the state back:%s%s\n");
  Inspect(folder, "");

  Say("\n2. Parking the pending file renames around a stretch of setup work%s%s\n");
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string work = std::string(temp) + "qmis-demo";
  CreateDirectoryA(work.c_str(), nullptr);
  MoveFileExA((work + "\\old.cfg").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  ShowRenames("PendingFileRenameOperations");
  Say("   park: %s\n", std::to_string(park()));
  ShowRenames("PendingFileRenameOperations");
  ShowRenames("PostponedFileRenameOperations");
  MoveFileExA((work + "\\new.cfg").c_str(), (work + "\\app.cfg").c_str(), MOVEFILE_DELAY_UNTIL_REBOOT);
  Say("   the setup schedules a rename of its own; merge: %s\n", std::to_string(merge()));
  ShowRenames("PendingFileRenameOperations");
  ShowRenames("PostponedFileRenameOperations");
  HKEY session = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSession, 0, KEY_ALL_ACCESS, &session);
  RegDeleteValueA(session, "PendingFileRenameOperations");  // nothing real to rename
  RegCloseKey(session);

  const std::string host = "\"" + folder + "qmis-uninstall-host.exe\"";
  char programFiles[MAX_PATH];
  ExpandEnvironmentStringsA("%ProgramFiles%", programFiles, MAX_PATH);
  int step = 3;
  for (const std::string& product : {sample, viewer}) {
    const std::string dir = std::string(programFiles) + "\\" + product;
    const std::string command = host + " -f\"" + dir + "\\uninstall.qmis\" -z\"" + product + "\"";
    Say("\n%s. Removing %s through the uninstaller host:\n", std::to_string(step++), product);
    Say("   %s\n   host exit code %s\n", command, std::to_string(RunAndWait(command)));
    ShowShell();
    Say("   shared key Refcount = %s\n", Show(HKEY_LOCAL_MACHINE, shared, "Refcount"));
    Say("   plug-in (dependent) %s; install folder %s\n",
        KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmoor\\QMIS Sample Plugin") ? "still there" : "removed by its own host run",
        GetFileAttributesA(dir.c_str()) == INVALID_FILE_ATTRIBUTES ? "gone" : "still there");
  }

  Say("\n5. Sweeping empty branches out of HKLM\\SOFTWARE\\Quillmoor%s%s\n");
  SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmoor\\Kept\\Deep", "Value", "x");
  HKEY empty = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmoor\\Leftover\\Empty", 0, nullptr, 0, KEY_ALL_ACCESS,
                  nullptr, &empty, nullptr);
  RegCloseKey(empty);
  std::string maker = "SOFTWARE\\Quillmoor";
  // Kept, Leftover and Shared (empty since Shared\Sample went) in that order.
  const LONG first = sweep(HKEY_LOCAL_MACHINE, maker.data());
  Say("   first sweep: %s; Leftover %s", std::to_string(first),
      KeyExists(HKEY_LOCAL_MACHINE, maker + "\\Leftover") ? "left" : "swept away");
  Say(", Shared %s (it moved into the swept branch's place)\n",
      KeyExists(HKEY_LOCAL_MACHINE, maker + "\\Shared") ? "waits" : "swept away");
  const LONG second = sweep(HKEY_LOCAL_MACHINE, maker.data());
  Say("   second sweep: %s; Shared %s", std::to_string(second),
      KeyExists(HKEY_LOCAL_MACHINE, maker + "\\Shared") ? "left" : "swept away");
  Say("; Kept %s\n", KeyExists(HKEY_LOCAL_MACHINE, maker + "\\Kept") ? "kept (it holds a value)" : "gone");
  FreeLibrary(g_library);
  return 0;
}
