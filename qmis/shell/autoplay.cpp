#include "qmis/shell/autoplay.h"

#include <windows.h>

#include <cstring>

#include "qmis/handles.h"
#include "qmis/layout.h"
#include "qmis/registry/key_tree.h"
#include "qmis/registry/value_walk.h"
#include "qmis/shell/saved_default.h"
#include "qmis/text.h"

namespace qmis {
namespace {

bool OpenAudioCdShell(UniqueKey& key) {
  return RegOpenKeyExA(HKEY_CLASSES_ROOT, kAudioCdShell, 0, KEY_ALL_ACCESS, key.put()) ==
         ERROR_SUCCESS;
}

}  // namespace

void RegisterAutoInsertTag(const char* productKey) {
  PathBuffer handler;
  if (!BuildHandlerName(productKey, handler)) return;
  UniqueKey shell;
  if (!OpenAudioCdShell(shell)) return;
  TextValue current;
  if (ReadTextValue(shell.get(), nullptr, current) != ERROR_SUCCESS) return;
  if (lstrcmpA(current.data, handler) == 0) return;  // already held
  // The default is taken only once the earlier one is safely saved.
  if (SaveDefault(shell.get(), current) != ERROR_SUCCESS) return;
  RegSetValueExA(shell.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(handler),
                 static_cast<DWORD>(std::strlen(handler)) + 1);
}

void UnregisterAutoInsertTag(const char* productKey) {
  PathBuffer handler;
  if (!BuildHandlerName(productKey, handler)) return;
  UniqueKey shell;
  if (!OpenAudioCdShell(shell)) return;
  TextValue current;
  const bool held = ReadTextValue(shell.get(), nullptr, current) != ERROR_SUCCESS ||
                    lstrcmpA(current.data, handler) == 0;
  // The saved verb is removed unless it is still needed: when it could not
  // be read or written back, it stays for a later attempt.
  const Restore restore = held ? RestoreSavedDefault(shell.get()) : Restore::kNothingSaved;
  if (restore == Restore::kRestored || restore == Restore::kNothingSaved) {
    RegDeleteValueA(shell.get(), kSavedDefaultValue);
  }
  (void)DeleteKeyTree(shell.get(), handler);
}

}  // namespace qmis
