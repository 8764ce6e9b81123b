/* qmis.h - the exports of QMIS.dll, a helper DLL for setup programs and
 * uninstallers. Every export is __stdcall. Strings are ANSI (the system's
 * ANSI code page), except in the five exports whose names end in W, which
 * take paths and command lines in UTF-16, as the system keeps them: use
 * those for paths a user or the system chose (a profile folder, say), which
 * may hold characters the ANSI code page cannot spell. Product keys and
 * shared key names stay ANSI: they name registry keys that ANSI callers
 * wrote.
 *
 * Every export but the entry point leaves the thread's last error: 0 when it
 * did what its result says, else the reason (GetLastError() right after the
 * call). With the environment variable QMIS_LOG naming a file, each call
 * appends one UTF-8 line about itself to it (docs/failures.md).
 *
 * Link with the import library: libQMIS.dll.a for mingw-w64 GCC and clang
 * (find_package(qmis): qmis::qmis), QMIS.lib for Microsoft's linker and
 * lld-link. Or load the DLL and use GetProcAddress with the exact names.
 *
 * C99 and C++, with GCC, clang (GNU or Microsoft ABI) and Microsoft's
 * compiler. The header includes <windows.h> unless QMIS_NO_WINDOWS_H is
 * defined; it needs nothing from it: the declarations use the types behind
 * HKEY (struct HKEY__*, as <windows.h> declares it unless NO_STRICT is
 * defined), DWORD (unsigned long) and LONG (long). */
#ifndef QMIS_H
#define QMIS_H

#ifndef QMIS_NO_WINDOWS_H
#include <windows.h>
#endif
#include <stddef.h> /* wchar_t in C */

#define QMIS_CALL __stdcall
struct HKEY__;
typedef struct HKEY__* QMIS_HKEY;

#ifdef __cplusplus
extern "C" {
#endif

/* Module frame ---------------------------------------------------------- */

/* Always 1. */
int QMIS_CALL QMSetup_DetectDxmedia(void);
/* 60, 2 and 0: build, major and minor version. */
int QMIS_CALL QMSetup_GetInternalBuildNum(void);
int QMIS_CALL QMSetup_GetInternalMajorVerNum(void);
int QMIS_CALL QMSetup_GetInternalMinorVerNum(void);
/* Writes "2.0.0.60" (9 bytes with the zero) into text; returns 60. */
int QMIS_CALL QMSetup_GetVersionNum(char* text);
/* Removes the spaces from the first length bytes of buffer, in place;
 * a length above 260 changes nothing. */
void QMIS_CALL QMSetup_RemoveSpaces(char* buffer, unsigned long length);

/* Registry maintenance -------------------------------------------------- */

/* 1 when the key (created if missing) was saved to a new hive file with the
 * backup privilege on for the call; 0 otherwise, also when the file exists. */
int QMIS_CALL QMSetup_RegSaveKey(QMIS_HKEY root, char* subkey, char* file);
/* 1 when the hive file was restored over the key; 0 otherwise. */
int QMIS_CALL QMSetup_RegRestoreKey(QMIS_HKEY root, char* subkey, char* file);
/* The same in UTF-16. In both, a subkey or file path of 260 characters or
 * more (bytes, in the ANSI ones) gives 0. */
int QMIS_CALL QMSetup_RegSaveKeyW(QMIS_HKEY root, const wchar_t* subkey, const wchar_t* file);
int QMIS_CALL QMSetup_RegRestoreKeyW(QMIS_HKEY root, const wchar_t* subkey, const wchar_t* file);
/* 1 when the pending file-rename list was parked and removed, else 0. */
int QMIS_CALL QMSetup_BackupPendingFileRename(void);
/* 1 when the parked list was merged back in front of the pending one, else
 * 0 with nothing changed. */
int QMIS_CALL QMSetup_RestorePendingFileRename(void);
/* Deletes the direct subkeys whose whole branch holds no value. Win32
 * status: the open's error, or the close's status (0). */
long QMIS_CALL QmUninstall_KeyClean(QMIS_HKEY root, char* subkey);

/* Shared keys under HKLM\SOFTWARE\Quillmoor ----------------------------- */

/* Claims the shared key for the product with bits; 1, or 0 on failure. */
int QMIS_CALL QMSetup_SetRefcountedKey(char* productKey, char* sharedKeyName, unsigned long bits);
/* Releases the product's claims; 1 when there was nothing to release, else
 * a Win32 status (0 when the claim list was deleted). */
long QMIS_CALL QMSetup_RemoveRefcountedKeys(char* productKey);

/* Processes and files --------------------------------------------------- */

/* Runs commandLine and waits; the exit code, or 0x80004005 when it cannot be
 * started. For codes other than 0 and 3010, errorText (260 bytes) gets the
 * system's message text. */
unsigned long QMIS_CALL QMSetup_SilentRunExternalWait(char* commandLine, char* errorText);
/* The same in UTF-16: errorText holds 260 UTF-16 characters. commandLine is
 * not changed and may be a literal. */
unsigned long QMIS_CALL QMSetup_SilentRunExternalWaitW(const wchar_t* commandLine,
                                                       wchar_t* errorText);
/* Total size of the files below directory (names beginning with '.' left
 * out), modulo 2^32; 0 for a missing or empty directory. */
unsigned long QMIS_CALL QMSetup_GetCopyFileSize(const char* directory);
unsigned long QMIS_CALL QMSetup_GetCopyFileSizeW(const wchar_t* directory);
/* Moves a directory (or file) on one volume; always 0. A path of 260
 * characters or more (bytes, in the ANSI one) moves nothing. */
int QMIS_CALL QmRenameDirectory(const char* existing, const char* renamed);
int QMIS_CALL QmRenameDirectoryW(const wchar_t* existing, const wchar_t* renamed);

/* Uninstaller hooks (arguments not read; always 0) ---------------------- */

int QMIS_CALL UninstInitialize(unsigned long, unsigned long, unsigned long);
int QMIS_CALL UninstUnInitialize(unsigned long, unsigned long, unsigned long);

/* Shell cleanup, under decorated export names ---------------------------
 *
 * Exported as the decorated names of C++ __stdcall functions. Microsoft's
 * C++ decoration of the declarations below gives exactly those names; GCC
 * and clang in the GNU ABI are told the names. In C with Microsoft's
 * compiler, reach them with GetProcAddress and the names and pointer types
 * that follow. */

#define QMIS_REGISTER_AUTO_INSERT_TAG_NAME "?RegisterAutoInsertTag@@YGXPAD@Z"
#define QMIS_UNREGISTER_AUTO_INSERT_TAG_NAME "?UnregisterAutoInsertTag@@YGXPAD@Z"
#define QMIS_UNREGISTER_EXTENSIONS_NAME "?UnregisterExtensions@@YGXPAD@Z"
#define QMIS_UNREGISTER_SPECIFIC_EXTENSION_NAME "?UnregisterSpecificExtension@@YGXPAD0@Z"

typedef void(QMIS_CALL* QMIS_REGISTER_AUTO_INSERT_TAG_FN)(char* productKey);
typedef void(QMIS_CALL* QMIS_UNREGISTER_AUTO_INSERT_TAG_FN)(char* productKey);
typedef void(QMIS_CALL* QMIS_UNREGISTER_EXTENSIONS_FN)(char* productKey);
typedef void(QMIS_CALL* QMIS_UNREGISTER_SPECIFIC_EXTENSION_FN)(char* handlerName, char* extension);

#if defined(__GNUC__) && !defined(_MSC_VER)
/* The assembler name, exactly: GCC hands the label to gas, which wants the
 * quotes around a name holding '?' and '@' and takes them off; clang keeps
 * any quotes as part of the name. The library's own build keeps the plain
 * names, which its module definition exports under the decorated ones. */
#if defined(QMIS_BUILDING_LIBRARY)
#define QMIS_DECORATED(name)
#elif defined(__clang__)
#define QMIS_DECORATED(name) __asm__(name)
#else
#define QMIS_DECORATED(name) __asm__("\"" name "\"")
#endif
/* Takes the Audio-CD AutoPlay default for the product, saving the old one. */
void QMIS_CALL RegisterAutoInsertTag(char* productKey)
    QMIS_DECORATED(QMIS_REGISTER_AUTO_INSERT_TAG_NAME);
/* Hands the AutoPlay default back and deletes the product's verb. */
void QMIS_CALL UnregisterAutoInsertTag(char* productKey)
    QMIS_DECORATED(QMIS_UNREGISTER_AUTO_INSERT_TAG_NAME);
/* Hands back every extension listed under the product's "Extensions". */
void QMIS_CALL UnregisterExtensions(char* productKey)
    QMIS_DECORATED(QMIS_UNREGISTER_EXTENSIONS_NAME);
/* Hands back one extension; handlerName is the product's handler name. */
void QMIS_CALL UnregisterSpecificExtension(char* handlerName, char* extension)
    QMIS_DECORATED(QMIS_UNREGISTER_SPECIFIC_EXTENSION_NAME);
#endif

#ifdef __cplusplus
}
#if defined(_MSC_VER)
void __stdcall RegisterAutoInsertTag(char* productKey);
void __stdcall UnregisterAutoInsertTag(char* productKey);
void __stdcall UnregisterExtensions(char* productKey);
void __stdcall UnregisterSpecificExtension(char* handlerName, char* extension);
#endif
#endif

#endif /* QMIS_H */
