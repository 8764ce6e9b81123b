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

// The named mutexes the library's own writers meet on, one per shared
// resource, in the global namespace so that installers of different
// sessions meet: the shared keys' claim masks, the pending-rename lists,
// and the Audio-CD AutoPlay default.
inline constexpr char kClaimLockName[] = "Global\\QuillmoorSharedKeyClaims";
inline constexpr char kRenameLockName[] = "Global\\QuillmoorPendingRenames";
inline constexpr char kAutoPlayLockName[] = "Global\\QuillmoorAutoPlayDefault";

// Shell keys under HKEY_CLASSES_ROOT, and the earlier default saved beside
// a default the product took over.
inline constexpr char kAudioCdShell[] = "AudioCD\\shell";
#define QMIS_SAVED_DEFAULT "QmPrevious"
inline constexpr char kSavedDefaultValue[] = QMIS_SAVED_DEFAULT;
inline constexpr wchar_t kSavedDefaultValueW[] = L"" QMIS_SAVED_DEFAULT;
#undef QMIS_SAVED_DEFAULT
// The product's handler name before its spaces go (%s: the product key),
// and its file type for an extension (handler name, then extension).
inline constexpr char kHandlerNameFormat[] = "Quillmoor %s";
inline constexpr char kFileTypeFormat[] = "%sFile%s";

// The system's pending file-rename list and the value it is parked in.
inline constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
#define QMIS_PENDING_RENAMES "PendingFileRenameOperations"
#define QMIS_PARKED_RENAMES "PostponedFileRenameOperations"
inline constexpr char kPendingRenamesValue[] = QMIS_PENDING_RENAMES;
inline constexpr char kParkedRenamesValue[] = QMIS_PARKED_RENAMES;
inline constexpr wchar_t kPendingRenamesValueW[] = L"" QMIS_PENDING_RENAMES;
inline constexpr wchar_t kParkedRenamesValueW[] = L"" QMIS_PARKED_RENAMES;
#undef QMIS_PARKED_RENAMES
#undef QMIS_PENDING_RENAMES

// A dependent's uninstall: the uninstaller path, then the dependent's file,
// both in UTF-16 as the system keeps file names.
#define QMIS_DEPENDENT_OPTIONS " -y -f\"%s\""
inline constexpr wchar_t kDependentCommandFormat[] = L"%s" QMIS_DEPENDENT_OPTIONS;
inline constexpr wchar_t kQuotedDependentCommandFormat[] = L"\"%s\"" QMIS_DEPENDENT_OPTIONS;
#undef QMIS_DEPENDENT_OPTIONS

}  // namespace qmis
