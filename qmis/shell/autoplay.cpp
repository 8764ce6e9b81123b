#include "qmis/shell/autoplay.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "qmis/call_report.h"
#include "qmis/handles.h"
#include "qmis/layout.h"
#include "qmis/named_lock.h"
#include "qmis/registry/key_tree.h"
#include "qmis/registry/value_walk.h"
#include "qmis/shell/saved_default.h"
#include "qmis/text.h"
#include "qmis/wide_text.h"

namespace qmis {
namespace {

// Several products of the maker may take the default one after another;
// "QmPrevious" is one value. It holds the default that stood before the
// first of them (the machine's own, or one a user or another program set):
// a takeover from another product of the maker keeps it, and a hand-back
// while another product of the maker holds the default leaves it for that
// product. A verb key the library deleted is never named by the default.

bool OpenAudioCdShell(UniqueKey& key) {
  const LONG status = RegOpenKeyExA(HKEY_CLASSES_ROOT, kAudioCdShell, 0, KEY_ALL_ACCESS, key.put());
  if (status == ERROR_SUCCESS) return true;
  if (status == ERROR_FILE_NOT_FOUND) {
    ReportNothingFound("HKCR\\AudioCD\\shell");
    return false;
  }
  return Failed(false, "RegOpenKeyExA", status, "HKCR\\AudioCD\\shell");
}

// The handler name, and the same in UTF-16 for comparing with the default,
// which is read as the system keeps it.
bool BuildHandlerNames(const char* productKey, PathBuffer& handler, WidePath& wideHandler) {
  if (productKey[0] == '\0')
    return Failed(false, "argument check (an empty product key)", ERROR_INVALID_PARAMETER,
                  productKey);
  return BuildHandlerName(productKey, handler) && WidenPath(handler, wideHandler);
}

// Whether `name` has the form of a handler of the maker: "Quillmoor" and
// more, in any letter case, as the registry matches key names, and one key
// name (no backslash).
bool HasHandlerForm(const wchar_t* name) {
  constexpr wchar_t kPrefix[] = L"Quillmoor";
  constexpr size_t kPrefixLength = sizeof kPrefix / sizeof kPrefix[0] - 1;
  if (std::wcslen(name) <= kPrefixLength || std::wcschr(name, L'\\') != nullptr) return false;
  wchar_t head[kPrefixLength + 1];
  std::wmemcpy(head, name, kPrefixLength);
  head[kPrefixLength] = L'\0';
  return lstrcmpiW(head, kPrefix) == 0;
}

// Whether the verb key `name` exists below the shell key. Only a key that is
// not found counts as gone: one that cannot be opened is still there.
bool VerbExists(HKEY shell, const wchar_t* name) {
  UniqueKey verb;
  return RegOpenKeyExW(shell, name, 0, KEY_READ, verb.put()) != ERROR_FILE_NOT_FOUND;
}

// Who the default names, for the product whose handler is `handler`. A
// name of the handler's form counts as another product's only while its
// verb key exists: a user's default that merely begins with "Quillmoor" is
// no product's, and one whose verb key is gone names nothing.
enum class Holder {
  kNobody,        // no default, or one that cannot be read
  kThisProduct,   // the handler name, in any letter case
  kOtherProduct,  // another product of the maker, whose verb key exists
  kGoneVerb,      // a handler name whose verb key is gone
  kSomeoneElse,   // a user's or another program's verb
};

Holder WhoHolds(HKEY shell, LONG readStatus, const TextValue& current, const wchar_t* handler) {
  if (readStatus != ERROR_SUCCESS) return Holder::kNobody;
  if (lstrcmpiW(current.data, handler) == 0) return Holder::kThisProduct;
  if (!HasHandlerForm(current.data)) return Holder::kSomeoneElse;
  return VerbExists(shell, current.data) ? Holder::kOtherProduct : Holder::kGoneVerb;
}

// What "QmPrevious" holds, for the product whose handler is `handler`.
enum class Saved {
  kNothing,     // no saved default
  kRestorable,  // a default that may become the default again
  kGoneVerb,    // this product's own verb, whose key goes now, or a handler whose key is gone
  kUnreadable,  // something that cannot be read: never written over or deleted
};

Saved ReadSaved(HKEY shell, const wchar_t* handler, TextValue& saved) {
  const LONG status = ReadSavedDefault(shell, saved);
  if (status == ERROR_FILE_NOT_FOUND) return Saved::kNothing;
  if (status != ERROR_SUCCESS)
    return Failed(Saved::kUnreadable, "reading QmPrevious", status, "HKCR\\AudioCD\\shell");
  if (!HasHandlerForm(saved.data)) return Saved::kRestorable;
  const bool live = lstrcmpiW(saved.data, handler) != 0 && VerbExists(shell, saved.data);
  return live ? Saved::kRestorable : Saved::kGoneVerb;
}

// Hands the default back from the saved one; false when it cannot be done
// now (the saved value cannot be read or written back), and both stay for a
// later attempt. With nothing that may be restored, a default that names
// this product or a gone verb is deleted rather than left naming a deleted
// key.
bool HandBackDefault(HKEY shell, Holder holder, const wchar_t* handler) {
  TextValue saved;
  const Saved state = ReadSaved(shell, handler, saved);
  if (state == Saved::kUnreadable) return false;
  if (state == Saved::kNothing && holder == Holder::kNobody)
    ReportNothingFound("HKCR\\AudioCD\\shell, QmPrevious");
  if (state == Saved::kRestorable) {
    const LONG written = WriteDefault(shell, saved);
    if (written != ERROR_SUCCESS)
      return Failed(false, "writing QmPrevious back", written, "HKCR\\AudioCD\\shell");
  } else if (holder != Holder::kNobody) {
    (void)RegDeleteValueA(shell, nullptr);  // a default that cannot go stays: still no loss
  }
  // Deleting what is not there is no failure worth reporting.
  if (state != Saved::kNothing) (void)RegDeleteValueA(shell, kSavedDefaultValue);
  return true;
}

}  // namespace

void RegisterAutoInsertTag(const char* productKey) {
  PathBuffer handler;
  WidePath wideHandler;
  if (!BuildHandlerNames(productKey, handler, wideHandler)) return;
  // What the default and the saved value hold is read and changed with no
  // other installer's takeover or hand-back in between.
  const NamedLock lock(kAutoPlayLockName);
  UniqueKey shell;
  if (!OpenAudioCdShell(shell)) return;
  TextValue current;
  const LONG read = ReadTextValue(shell.get(), nullptr, current);
  const Holder holder = WhoHolds(shell.get(), read, current, wideHandler);
  if (holder == Holder::kNobody) {
    if (read == ERROR_FILE_NOT_FOUND)
      return ReportNothingFound("HKCR\\AudioCD\\shell, its default");
    return ReportFailure("reading the default", read, "HKCR\\AudioCD\\shell");
  }
  if (holder == Holder::kThisProduct) return;
  // Over another product of the maker, the saved default stays: it is the
  // one from before the first takeover, or one that cannot be read and so is
  // never written over. A gone verb is never saved.
  bool keepSaved = false;
  if (holder == Holder::kOtherProduct || holder == Holder::kGoneVerb) {
    TextValue saved;
    const Saved state = ReadSaved(shell.get(), wideHandler, saved);
    keepSaved = state == Saved::kRestorable || state == Saved::kUnreadable;
  }
  if (!keepSaved && holder != Holder::kGoneVerb) {
    // The default is taken only once the earlier one is safely saved.
    const LONG saved = SaveDefault(shell.get(), current);
    if (saved != ERROR_SUCCESS)
      return ReportFailure("saving QmPrevious", saved, "HKCR\\AudioCD\\shell");
  }
  const LONG taken =
      RegSetValueExA(shell.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(handler),
                     static_cast<DWORD>(std::strlen(handler)) + 1);
  if (taken != ERROR_SUCCESS) ReportFailure("RegSetValueExA", taken, "HKCR\\AudioCD\\shell");
}

void UnregisterAutoInsertTag(const char* productKey) {
  PathBuffer handler;
  WidePath wideHandler;
  if (!BuildHandlerNames(productKey, handler, wideHandler)) return;
  const NamedLock lock(kAutoPlayLockName);
  UniqueKey shell;
  if (!OpenAudioCdShell(shell)) return;
  TextValue current;
  const LONG read = ReadTextValue(shell.get(), nullptr, current);
  const Holder holder = WhoHolds(shell.get(), read, current, wideHandler);
  switch (holder) {
    case Holder::kOtherProduct:
      break;  // the saved default stays for the product that holds the default
    case Holder::kSomeoneElse:
      // The default is not ours to hand back; a saved value is forgotten.
      (void)RegDeleteValueA(shell.get(), kSavedDefaultValue);
      break;
    case Holder::kNobody:
    case Holder::kGoneVerb:
      (void)HandBackDefault(shell.get(), holder, wideHandler);
      break;
    case Holder::kThisProduct:
      // A default that could not be handed back keeps its verb key, so that
      // it names a verb that exists until a later hand-back finishes.
      if (!HandBackDefault(shell.get(), holder, wideHandler)) return;
      break;
  }
  // The verb key may never have been made: only a failure to delete one
  // that is there is reported.
  const LONG deleted = DeleteKeyTree(shell.get(), handler);
  if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND)
    ReportFailure("deleting the verb key", deleted, handler);
}

}  // namespace qmis
