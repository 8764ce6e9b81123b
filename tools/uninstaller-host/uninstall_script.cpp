#include "uninstall_script.h"

#include <windows.h>

#include <fstream>

namespace {

HKEY RootOf(const std::string& name) {
  if (name == "HKLM") return HKEY_LOCAL_MACHINE;
  if (name == "HKCU") return HKEY_CURRENT_USER;
  if (name == "HKCR") return HKEY_CLASSES_ROOT;
  return nullptr;
}

void DeleteKey(const std::string& fullPath) {
  const size_t slash = fullPath.find('\\');
  if (slash == std::string::npos) return;  // never a whole root
  HKEY root = RootOf(fullPath.substr(0, slash));
  const std::string path = fullPath.substr(slash + 1);
  if (root == nullptr || path.empty()) return;
  RegDeleteTreeA(root, path.c_str());
  RegDeleteKeyA(root, path.c_str());
}

}  // namespace

bool ReadUninstallScript(const std::string& path, UninstallScript& script) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t space = line.find(' ');
    ScriptStep step{line.substr(0, space),
                    space == std::string::npos ? "" : line.substr(space + 1)};
    if (step.verb == "exit") script.exitCode = std::stoul(step.argument);
    script.steps.push_back(step);
  }
  return true;
}

void RunUninstallScript(const UninstallScript& script) {
  for (const ScriptStep& step : script.steps) {
    if (step.verb == "file") {
      DeleteFileA(step.argument.c_str());
    } else if (step.verb == "dir") {
      RemoveDirectoryA(step.argument.c_str());
    } else if (step.verb == "key") {
      DeleteKey(step.argument);
    } else if (step.verb == "sleep") {
      Sleep(std::stoul(step.argument));
    }
  }
}
