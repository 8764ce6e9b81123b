// The QMIS-managed state of a machine, read from the registry (never
// written): shared keys and their claims, each product's extensions and
// dependents, the AutoPlay default, and the rename lists.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "qmis/layout.h"

// Where the library keeps its state, below HKEY_LOCAL_MACHINE, in the
// library's own names: the key above the products' keys, and the maker's root.
inline const std::string kUninstall(qmis::kUninstallKeyFormat,
                                    sizeof qmis::kUninstallKeyFormat - sizeof "\\%s");
inline constexpr const char* kMaker = qmis::kMakerRoot;

struct Claim {
  std::string product;
  std::string sharedKey;
  DWORD bits = 0;
};

struct SharedKey {
  std::string name;  // below HKLM\SOFTWARE\Quillmoor
  DWORD type = REG_NONE;
  DWORD size = 0;
  DWORD mask = 0;
  bool maskValid() const { return type == REG_DWORD && size == 4; }
};

struct Extension {
  std::string name;
  std::string state;  // "held by the product", "restorable from QmPrevious", ...
  std::string type;   // the file type it opens as: its key's default value
};

struct Dependent {
  std::string name;
  std::string file;
  bool present = false;
};

struct Product {
  std::string key;
  std::string handlerName;
  std::vector<Claim> claims;
  std::vector<Extension> extensions;
  std::vector<Dependent> dependents;
};

struct RenamePair {
  std::string from;
  std::string to;  // empty: deletion
};

struct QmisState {
  // Which view of HKLM\SOFTWARE was read: a 32-bit program on 64-bit Windows
  // (WOW64) sees the keys under HKLM\SOFTWARE\WOW6432Node, as QMIS.dll does.
  bool wow64 = false;
  std::vector<SharedKey> sharedKeys;
  std::vector<Product> products;
  std::string autoPlayDefault;  // "" when absent
  std::string autoPlaySaved;
  std::vector<RenamePair> pending;
  std::vector<RenamePair> parked;
  std::vector<std::string> inconsistencies;
};

// The library's QMSetup_RemoveSpaces, which makes handler names.
using RemoveSpaces = void(WINAPI*)(char*, DWORD);

// Reads everything, or only what concerns `product` when it is not empty,
// and what is wrong with it.
QmisState ReadQmisState(const std::string& product, RemoveSpaces removeSpaces);
