// Key paths the library reads and writes under HKEY_LOCAL_MACHINE.
#pragma once

namespace qmis {

inline constexpr char kUninstallKeyFormat[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s";
inline constexpr char kClaimListFormat[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s\\RefcountList";
inline constexpr char kMakerRoot[] = "SOFTWARE\\Quillmoor";
inline constexpr char kSharedKeyFormat[] = "SOFTWARE\\Quillmoor\\%s";
inline constexpr char kClaimListName[] = "RefcountList";
inline constexpr char kClaimMaskValue[] = "Refcount";

}  // namespace qmis
