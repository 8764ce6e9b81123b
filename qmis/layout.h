// Every registry path, value name and text template the library reads or
// writes, in one place. Paths lie under HKEY_LOCAL_MACHINE unless said.
#pragma once

namespace qmis {

// A product's uninstall key and the lists below it; %s is the product key.
inline constexpr char kUninstallKeyFormat[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s";
inline constexpr char kClaimListFormat[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s\\RefcountList";
inline constexpr char kExtensionsFormat[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s\\Extensions";
inline constexpr char kDependentsFormat[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s\\Dependents";
inline constexpr char kClaimListName[] = "RefcountList";

// Shared keys and their claim masks; %s is the shared key name.
inline constexpr char kMakerRoot[] = "SOFTWARE\\Quillmoor";
inline constexpr char kSharedKeyFormat[] = "SOFTWARE\\Quillmoor\\%s";
inline constexpr char kClaimMaskValue[] = "Refcount";

// Shell keys under HKEY_CLASSES_ROOT, and the earlier default saved beside
// a default the product took over.
inline constexpr char kAudioCdShell[] = "AudioCD\\shell";
inline constexpr char kSavedDefaultValue[] = "QmPrevious";
// The product's handler name before its spaces go (%s: the product key),
// and its file type for an extension (handler name, then extension).
inline constexpr char kHandlerNameFormat[] = "Quillmoor %s";
inline constexpr char kFileTypeFormat[] = "%sFile%s";

// The system's pending file-rename list and the value it is parked in.
inline constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr char kPendingRenamesValue[] = "PendingFileRenameOperations";
inline constexpr char kParkedRenamesValue[] = "PostponedFileRenameOperations";

// A dependent's uninstall: the uninstaller path, then the dependent's file.
inline constexpr char kDependentCommandFormat[] = "%s -y -f\"%s\"";
inline constexpr char kQuotedDependentCommandFormat[] = "\"%s\" -y -f\"%s\"";

}  // namespace qmis
