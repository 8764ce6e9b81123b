#include "qmis/shell/autoplay.h"

#include <windows.h>

#include <cstring>

#include "qmis/handles.h"
#include "qmis/layout.h"
#include "qmis/registry/key_tree.h"
#include "qmis/registry/value_walk.h"
#include "qmis/shell/saved_default.h"
#include "qmis/text.h"
#include "qmis/wide_text.h"

namespace qmis {
namespace {

bool OpenAudioCdShell(UniqueKey& key) {
  return RegOpenKeyExA(HKEY_CLASSES_ROOT, kAudioCdShell, 0, KEY_ALL_ACCESS, key.put()) ==
         ERROR_SUCCESS;
}

// The handler name, and the same in UTF-16 for comparing with the default,
// which is read as the system keeps it.
bool BuildHandlerNames(const char* productKey, PathBuffer& handler, WidePath& wideHandler) {
  return BuildHandlerName(productKey, handler) && WidenPath(handler, wideHandler);
}

}  // namespace

void RegisterAutoInsertTag(const char* productKey) {
  PathBuffer handler;
  WidePath wideHandler;
  if (!BuildHandlerNames(productKey, handler, wideHandler)) return;
  UniqueKey shell;
  if (!OpenAudioCdShell(shell)) return;
  TextValue current;
  if (ReadTextValue(shell.get(), nullptr, current) != ERROR_SUCCESS) return;
  if (lstrcmpW(current.data, wideHandler) == 0) return;  // already held
  // The default is taken only once the earlier one is safely saved.
  if (SaveDefault(shell.get(), current) != ERROR_SUCCESS) return;
  RegSetValueExA(shell.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(handler),
                 static_cast<DWORD>(std::strlen(handler)) + 1);
}

void UnregisterAutoInsertTag(const char* productKey) {
  PathBuffer handler;
  WidePath wideHandler;
  if (!BuildHandlerNames(productKey, handler, wideHandler)) return;
  UniqueKey shell;
  if (!OpenAudioCdShell(shell)) return;
  TextValue current;
  const bool held = ReadTextValue(shell.get(), nullptr, current) != ERROR_SUCCESS ||
                    lstrcmpW(current.data, wideHandler) == 0;
  // The saved verb is removed unless it is still needed: when it could not
  // be read or written back, it stays for a later attempt.
  const Restore restore = held ? RestoreSavedDefault(shell.get()) : Restore::kNothingSaved;
  if (restore == Restore::kRestored || restore == Restore::kNothingSaved) {
    RegDeleteValueA(shell.get(), kSavedDefaultValue);
  }
  (void)DeleteKeyTree(shell.get(), handler);
}

}  // namespace qmis
