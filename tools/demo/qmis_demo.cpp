// qmis-demo: the library's main job, told step by step on a throwaway Wine
// prefix. Two sample products are installed (registry entries and files
// written here, as their setup would), then removed: one through the
// uninstaller host, which hands back what it took and runs its dependents'
// uninstalls, the other through the shared-key release alone.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

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

std::string Folder() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

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

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// Runs a program on the demo's console and waits for it.
DWORD RunHost(const std::string& commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return GetLastError();
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return code;
}

}  // namespace

int main() {
  const std::string folder = Folder();
  g_library = LoadLibraryA((folder + "QMIS.dll").c_str());
  if (g_library == nullptr) {
    std::printf("cannot load QMIS.dll from %s\n", folder.c_str());
    return 1;
  }
  auto getVersion = QMIS_EXPORT(QMSetup_GetVersionNum);
  auto claim = QMIS_EXPORT(QMSetup_SetRefcountedKey);
  auto release = QMIS_EXPORT(QMSetup_RemoveRefcountedKeys);
  auto park = QMIS_EXPORT(QMSetup_BackupPendingFileRename);
  auto merge = QMIS_EXPORT(QMSetup_RestorePendingFileRename);
  auto sweep = QMIS_EXPORT(QmUninstall_KeyClean);
  auto size = QMIS_EXPORT(QMSetup_GetCopyFileSize);
  auto registerAutoPlay = reinterpret_cast<QMIS_REGISTER_AUTO_INSERT_TAG_FN>(
      reinterpret_cast<void*>(GetProcAddress(g_library, QMIS_REGISTER_AUTO_INSERT_TAG_NAME)));

  char version[16];
  const int build = getVersion(version);
  Say("QMIS.dll %s loaded (build %s)\n\n", version, std::to_string(build));

  // --- Install ------------------------------------------------------------
  const std::string tool = "Sample Tool", viewer = "Sample Viewer";
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string appDir = std::string(temp) + "qmis-demo";  // in the throwaway prefix
  CreateDirectoryA(appDir.c_str(), nullptr);
  Say("1. Installing \"%s\" and \"%s\", which share a key\n", tool, viewer);
  std::string shared = "Shared\\Engine";
  claim(const_cast<char*>(tool.c_str()), shared.data(), 1);
  claim(const_cast<char*>(viewer.c_str()), shared.data(), 2);
  SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmoor\\Shared\\Engine\\Settings", "Theme", "dark");
  Say("   HKLM\\SOFTWARE\\Quillmoor\\%s  Refcount = %s  (bit 1 Tool, bit 2 Viewer)\n", shared,
      Show(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmoor\\Shared\\Engine", "Refcount"));

  Say("   %s takes the Audio-CD AutoPlay default and the extension .qmsample%s\n", tool);
  SetString(HKEY_CLASSES_ROOT, "AudioCD\\shell", nullptr, "play");
  SetString(HKEY_CLASSES_ROOT, "AudioCD\\shell\\QuillmoorSampleTool\\command", nullptr, "tool.exe /cd");
  registerAutoPlay(const_cast<char*>(tool.c_str()));
  SetString(HKEY_CLASSES_ROOT, ".qmsample", nullptr, "txtfile");
  SetString(HKEY_CLASSES_ROOT, ".qmsample", "QmPrevious", "txtfile");
  SetString(HKEY_CLASSES_ROOT, ".qmsample", nullptr, "QuillmoorSampleToolFile.qmsample");
  SetString(HKEY_CLASSES_ROOT, "QuillmoorSampleToolFile.qmsample\\shell\\open\\command", nullptr, "tool.exe %1");
  SetString(HKEY_LOCAL_MACHINE, kUninstall + tool + "\\Extensions", ".qmsample", "");
  Say("   AudioCD default = %s, saved = %s\n", Show(HKEY_CLASSES_ROOT, "AudioCD\\shell", nullptr),
      Show(HKEY_CLASSES_ROOT, "AudioCD\\shell", "QmPrevious"));
  Say("   .qmsample = %s, saved = %s\n", Show(HKEY_CLASSES_ROOT, ".qmsample", nullptr),
      Show(HKEY_CLASSES_ROOT, ".qmsample", "QmPrevious"));

  for (const std::string plugin : {"Plugin A", "Plugin B"}) {
    const std::string data = appDir + "\\" + plugin + ".dat";
    const std::string script = appDir + "\\" + plugin + ".uninstall";
    WriteText(data, "plugin data");
    SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmoor\\" + plugin, "Installed", "yes");
    WriteText(script, "file " + data + "\nkey HKLM\\SOFTWARE\\Quillmoor\\" + plugin + "\nlog " + appDir +
                          "\\runs.log\n");
    SetString(HKEY_LOCAL_MACHINE, kUninstall + tool + "\\Dependents", plugin.c_str(), script);
    Say("   dependent %s: %s\n", plugin, script);
  }
  // The host's own work for the product: its files and its uninstall entry.
  WriteText(appDir + "\\tool.uninstall", "log " + appDir + "\\runs.log\nkey HKLM\\" + kUninstall + tool + "\n");
  Say("   install folder holds %s bytes\n", std::to_string(size(appDir.c_str())));
  Say("   qmis-inspect --product \"%s\" reads it back:\n", tool);
  RunHost("\"" + folder + "qmis-inspect.exe\" --product \"" + tool + "\"");
  Say("\n");

  // --- Pending renames around a stretch of setup work --------------------
  Say("2. Parking the pending file renames around the setup's own work%s%s\n");
  MoveFileExA((appDir + "\\old.cfg").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  ShowRenames("PendingFileRenameOperations");
  Say("   park: %s\n", std::to_string(park()));
  ShowRenames("PendingFileRenameOperations");
  ShowRenames("PostponedFileRenameOperations");
  MoveFileExA((appDir + "\\new.cfg").c_str(), (appDir + "\\app.cfg").c_str(), MOVEFILE_DELAY_UNTIL_REBOOT);
  Say("   the setup schedules a rename of its own; merge: %s\n", std::to_string(merge()));
  ShowRenames("PendingFileRenameOperations");
  ShowRenames("PostponedFileRenameOperations");
  HKEY session = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSession, 0, KEY_ALL_ACCESS, &session);
  RegDeleteValueA(session, "PendingFileRenameOperations");  // nothing real to rename
  RegCloseKey(session);
  Say("\n");

  // --- Uninstall ----------------------------------------------------------
  const std::string host = folder + "qmis-uninstall-host.exe";
  const std::string command = "\"" + host + "\" -f\"" + appDir + "\\tool.uninstall\" -z\"" + tool + "\"";
  Say("3. Uninstalling %s through the uninstaller host:\n   %s\n", tool, command);
  Say("   host exit code %s\n", std::to_string(RunHost(command)));
  Say("   AudioCD default = %s, saved = %s\n", Show(HKEY_CLASSES_ROOT, "AudioCD\\shell", nullptr),
      Show(HKEY_CLASSES_ROOT, "AudioCD\\shell", "QmPrevious"));
  Say("   .qmsample = %s; product file type %s\n", Show(HKEY_CLASSES_ROOT, ".qmsample", nullptr),
      KeyExists(HKEY_CLASSES_ROOT, "QuillmoorSampleToolFile.qmsample") ? "still there" : "gone");
  Say("   shared key Refcount = %s (the Viewer still claims it)\n",
      Show(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmoor\\Shared\\Engine", "Refcount"));
  std::ifstream runs(appDir + "\\runs.log");
  int count = 0;
  for (std::string line; std::getline(runs, line);) ++count;
  Say("   host runs recorded: %s (two dependents, then the product itself)\n", std::to_string(count));
  Say("   Plugin A key %s, Plugin B key %s\n\n",
      KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmoor\\Plugin A") ? "left" : "gone",
      KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmoor\\Plugin B") ? "left" : "gone");

  Say("4. Uninstalling %s: its claim is the last one%s\n", viewer);
  Say("   release: %s\n", std::to_string(release(const_cast<char*>(viewer.c_str()))));
  Say("   HKLM\\SOFTWARE\\Quillmoor\\Shared\\Engine %s\n\n",
      KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmoor\\Shared\\Engine") ? "still there" : "deleted with its subtree");

  Say("5. Sweeping empty branches out of HKLM\\SOFTWARE\\Quillmoor%s%s\n");
  SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmoor\\Kept\\Deep", "Value", "x");
  std::string maker = "SOFTWARE\\Quillmoor";
  Say("   first sweep: %s, ", std::to_string(sweep(HKEY_LOCAL_MACHINE, maker.data())));
  Say("second sweep: %s\n", std::to_string(sweep(HKEY_LOCAL_MACHINE, maker.data())));
  Say("   Shared %s; Kept %s\n", KeyExists(HKEY_LOCAL_MACHINE, maker + "\\Shared") ? "left" : "swept away",
      KeyExists(HKEY_LOCAL_MACHINE, maker + "\\Kept") ? "kept (it holds a value)" : "gone");
  FreeLibrary(g_library);
  return 0;
}
