#include "uninstall_script.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "companion.h"

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

bool ReadUninstallScript(const std::wstring& path, UninstallScript& script) {
  FILE* in = _wfopen(path.c_str(), L"rb");
  if (in == nullptr) return false;
  std::string text;
  char block[4096];
  for (size_t read; (read = std::fread(block, 1, sizeof block, in)) > 0;) text.append(block, read);
  std::fclose(in);
  // A script written in UTF-16 (with its byte order mark) is read as such.
  if (text.size() >= 2 && text[0] == '\xFF' && text[1] == '\xFE') {
    text = Utf8FromWide(std::wstring(reinterpret_cast<const wchar_t*>(text.data() + 2),
                                     (text.size() - 2) / sizeof(wchar_t)));
  }
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    std::string line = text.substr(at, end - at);
    at = end + 1;
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
      DeleteFileW(WideFromUtf8(step.argument).c_str());
    } else if (step.verb == "dir") {
      RemoveDirectoryW(WideFromUtf8(step.argument).c_str());
    } else if (step.verb == "key") {
      DeleteKey(step.argument);
    } else if (step.verb == "sleep") {
      Sleep(std::stoul(step.argument));
    }
  }
}
