/* qmis.h - the exports of QMIS.dll, a helper DLL for setup programs and
 * uninstallers. Every export is __stdcall and takes ANSI strings. Link with
 * the import library libQMIS.dll.a (find_package(qmis): qmis::qmis), or load
 * the DLL and use GetProcAddress with the exact names.
 *
 * C99 and C++. */
#ifndef QMIS_H
#define QMIS_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Module frame ---------------------------------------------------------- */

/* Always 1. */
int WINAPI QMSetup_DetectDxmedia(void);
/* 60, 2 and 0: build, major and minor version. */
int WINAPI QMSetup_GetInternalBuildNum(void);
int WINAPI QMSetup_GetInternalMajorVerNum(void);
int WINAPI QMSetup_GetInternalMinorVerNum(void);
/* Writes "2.0.0.60" (9 bytes with the zero) into text; returns 60. */
int WINAPI QMSetup_GetVersionNum(char* text);
/* Removes the spaces from the first length bytes of buffer, in place;
 * a length above 260 changes nothing. */
void WINAPI QMSetup_RemoveSpaces(char* buffer, DWORD length);

/* Registry maintenance -------------------------------------------------- */

/* 1 when the key (created if missing) was saved to a new hive file with the
 * backup privilege on for the call; 0 otherwise, also when the file exists. */
int WINAPI QMSetup_RegSaveKey(HKEY root, char* subkey, char* file);
/* 1 when the hive file was restored over the key; 0 otherwise. */
int WINAPI QMSetup_RegRestoreKey(HKEY root, char* subkey, char* file);
/* 1 when the pending file-rename list was parked and removed, else 0. */
int WINAPI QMSetup_BackupPendingFileRename(void);
/* 1 when the parked list was merged back in front of the pending one, else
 * 0 with nothing changed. */
int WINAPI QMSetup_RestorePendingFileRename(void);
/* Deletes the direct subkeys whose whole branch holds no value. Win32
 * status: the open's error, or the close's status (0). */
LONG WINAPI QmUninstall_KeyClean(HKEY root, char* subkey);

/* Shared keys under HKLM\SOFTWARE\Quillmoor ----------------------------- */

/* Claims the shared key for the product with bits; 1, or 0 on failure. */
int WINAPI QMSetup_SetRefcountedKey(char* productKey, char* sharedKeyName, DWORD bits);
/* Releases the product's claims; 1 when there was nothing to release, else
 * a Win32 status (0 when the claim list was deleted). */
LONG WINAPI QMSetup_RemoveRefcountedKeys(char* productKey);

/* Processes and files --------------------------------------------------- */

/* Runs commandLine and waits; the exit code, or 0x80004005 when it cannot be
 * started. For codes other than 0 and 3010, errorText (260 bytes) gets the
 * system's message text. */
DWORD WINAPI QMSetup_SilentRunExternalWait(char* commandLine, char* errorText);
/* Total size of the files below directory (names beginning with '.' left
 * out), modulo 2^32; 0 for a missing or empty directory. */
DWORD WINAPI QMSetup_GetCopyFileSize(const char* directory);
/* Moves a directory (or file) on one volume; always 0. */
int WINAPI QmRenameDirectory(const char* existing, const char* renamed);

/* Uninstaller hooks (arguments not read; always 0) ---------------------- */

int WINAPI UninstInitialize(DWORD, DWORD, DWORD);
int WINAPI UninstUnInitialize(DWORD, DWORD, DWORD);

/* Shell cleanup, under decorated export names ---------------------------
 *
 * Exported as the decorated names of C++ __stdcall functions. MSVC's C++
 * decoration of the declarations below gives exactly those names; GCC and
 * clang are told the names. In C with MSVC, reach them with GetProcAddress
 * and the names and pointer types that follow. */

#define QMIS_REGISTER_AUTO_INSERT_TAG_NAME "?RegisterAutoInsertTag@@YGXPAD@Z"
#define QMIS_UNREGISTER_AUTO_INSERT_TAG_NAME "?UnregisterAutoInsertTag@@YGXPAD@Z"
#define QMIS_UNREGISTER_EXTENSIONS_NAME "?UnregisterExtensions@@YGXPAD@Z"
#define QMIS_UNREGISTER_SPECIFIC_EXTENSION_NAME "?UnregisterSpecificExtension@@YGXPAD0@Z"

typedef void(WINAPI* QMIS_REGISTER_AUTO_INSERT_TAG_FN)(char* productKey);
typedef void(WINAPI* QMIS_UNREGISTER_AUTO_INSERT_TAG_FN)(char* productKey);
typedef void(WINAPI* QMIS_UNREGISTER_EXTENSIONS_FN)(char* productKey);
typedef void(WINAPI* QMIS_UNREGISTER_SPECIFIC_EXTENSION_FN)(char* prefix, char* extension);

#if defined(__GNUC__)
#define QMIS_DECORATED(name) __asm__("\"" name "\"")
/* Takes the Audio-CD AutoPlay default for the product, saving the old one. */
void WINAPI RegisterAutoInsertTag(char* productKey) QMIS_DECORATED(QMIS_REGISTER_AUTO_INSERT_TAG_NAME);
/* Hands the AutoPlay default back and deletes the product's verb. */
void WINAPI UnregisterAutoInsertTag(char* productKey) QMIS_DECORATED(QMIS_UNREGISTER_AUTO_INSERT_TAG_NAME);
/* Hands back every extension listed under the product's "Extensions". */
void WINAPI UnregisterExtensions(char* productKey) QMIS_DECORATED(QMIS_UNREGISTER_EXTENSIONS_NAME);
/* Hands back one extension; prefix is the product's handler name. */
void WINAPI UnregisterSpecificExtension(char* prefix, char* extension)
    QMIS_DECORATED(QMIS_UNREGISTER_SPECIFIC_EXTENSION_NAME);
#endif

#ifdef __cplusplus
}
#if defined(_MSC_VER)
void __stdcall RegisterAutoInsertTag(char* productKey);
void __stdcall UnregisterAutoInsertTag(char* productKey);
void __stdcall UnregisterExtensions(char* productKey);
void __stdcall UnregisterSpecificExtension(char* prefix, char* extension);
#endif
#endif

#endif /* QMIS_H */
