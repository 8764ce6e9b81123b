// Every registry path, value name and text template the library reads or
// writes, in one place. Paths lie under HKEY_LOCAL_MACHINE unless said.
#pragma once

namespace qmis {

// A product's uninstall key and the lists below it; %s is the product key.
#define QMIS_UNINSTALL_KEY "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s"
#define QMIS_CLAIM_LIST_NAME "RefcountList"
inline constexpr char kUninstallKeyFormat[] = QMIS_UNINSTALL_KEY;
inline constexpr char kClaimListFormat[] = QMIS_UNINSTALL_KEY "\\" QMIS_CLAIM_LIST_NAME;
inline constexpr char kExtensionsFormat[] = QMIS_UNINSTALL_KEY "\\Extensions";
inline constexpr char kDependentsFormat[] = QMIS_UNINSTALL_KEY "\\Dependents";
inline constexpr char kClaimListName[] = QMIS_CLAIM_LIST_NAME;
#undef QMIS_CLAIM_LIST_NAME
#undef QMIS_UNINSTALL_KEY

// Shared keys and their claim masks; %s is the shared key name.
#define QMIS_MAKER_ROOT "SOFTWARE\\Quillmoor"
inline constexpr char kMakerRoot[] = QMIS_MAKER_ROOT;
inline constexpr char kSharedKeyFormat[] = QMIS_MAKER_ROOT "\\%s";
#undef QMIS_MAKER_ROOT
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
#define QMIS_DEPENDENT_OPTIONS " -y -f\"%s\""
inline constexpr char kDependentCommandFormat[] = "%s" QMIS_DEPENDENT_OPTIONS;
inline constexpr char kQuotedDependentCommandFormat[] = "\"%s\"" QMIS_DEPENDENT_OPTIONS;
#undef QMIS_DEPENDENT_OPTIONS

}  // namespace qmis
