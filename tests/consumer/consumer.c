/* Calls every export of QMIS.dll through qmis.h and an import library, as an
 * installer author's program does, and checks the results. The same source
 * is built as C and C++ by each toolchain of the release. */
#ifdef QMIS_NO_WINDOWS_H
#include "windows_subset.h"
#else
#include <windows.h>
#endif

#include <qmis.h>

static int failures = 0;
static int checks = 0;

static void Print(const char* text) {
  DWORD written = 0;
  DWORD length = 0;
  while (text[length] != '\0') ++length;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, 0);
}

static void PrintNumber(int value) {
  char digits[12];
  int at = 11;
  digits[at] = '\0';
  do {
    digits[--at] = (char)('0' + value % 10);
    value /= 10;
  } while (value > 0);
  Print(digits + at);
}

static void Check(int condition, int line, const char* what) {
  ++checks;
  if (condition) return;
  Print("FAILED at line ");
  PrintNumber(line);
  Print(": ");
  Print(what);
  Print("\n");
  ++failures;
}
#define CHECK(condition) Check((condition) ? 1 : 0, __LINE__, #condition)

static void Join(char* out, const char* first, const char* second) {
  lstrcpyA(out, first);
  lstrcatA(out, second);
}

/* The paths here are the temp folder's, which is ASCII under the test
 * runtime; each byte becomes one UTF-16 unit. */
static void Widen(wchar_t* out, const char* in) {
  while ((*out++ = (wchar_t)(unsigned char)*in++) != 0) {
  }
}

static void WriteBytes(const char* path, int count) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
  DWORD written = 0;
  WriteFile(file, "0123456789", (DWORD)count, &written, 0);
  CloseHandle(file);
}

/* The four shell functions: by their declarations in C++ and with GCC or
 * clang's GNU mode, by GetProcAddress in C with Microsoft's compiler. */
static void CallShellCleanup(char* product, char* prefix, char* extension) {
#if defined(__cplusplus) || !defined(_MSC_VER)
  RegisterAutoInsertTag(product);
  UnregisterAutoInsertTag(product);
  UnregisterExtensions(product);
  UnregisterSpecificExtension(prefix, extension);
  CHECK(1);
#else
  HMODULE dll = GetModuleHandleA("QMIS.dll");
  QMIS_REGISTER_AUTO_INSERT_TAG_FN registerTag =
      (QMIS_REGISTER_AUTO_INSERT_TAG_FN)GetProcAddress(dll, QMIS_REGISTER_AUTO_INSERT_TAG_NAME);
  QMIS_UNREGISTER_AUTO_INSERT_TAG_FN unregisterTag =
      (QMIS_UNREGISTER_AUTO_INSERT_TAG_FN)GetProcAddress(dll, QMIS_UNREGISTER_AUTO_INSERT_TAG_NAME);
  QMIS_UNREGISTER_EXTENSIONS_FN unregisterExtensions =
      (QMIS_UNREGISTER_EXTENSIONS_FN)GetProcAddress(dll, QMIS_UNREGISTER_EXTENSIONS_NAME);
  QMIS_UNREGISTER_SPECIFIC_EXTENSION_FN unregisterExtension =
      (QMIS_UNREGISTER_SPECIFIC_EXTENSION_FN)GetProcAddress(
          dll, QMIS_UNREGISTER_SPECIFIC_EXTENSION_NAME);
  CHECK(registerTag && unregisterTag && unregisterExtensions && unregisterExtension);
  if (registerTag && unregisterTag && unregisterExtensions && unregisterExtension) {
    registerTag(product);
    unregisterTag(product);
    unregisterExtensions(product);
    unregisterExtension(prefix, extension);
  }
#endif
}

static int RunConsumer(void) {
  char version[16], text[MAX_PATH], temp[MAX_PATH], folder[MAX_PATH], moved[MAX_PATH];
  char data[MAX_PATH], hive[MAX_PATH];
  char spaced[] = "a b c";
  char product[] = "QMIS Consumer Test";
  char sharedKey[] = "ConsumerTest\\Key";
  char subkey[] = "Software\\QmisConsumer";
  char prefix[] = "QuillmoorQMISConsumerTest";
  char extension[] = ".qmconsumer";
  char command[] = "cmd.exe /c exit 3";
  wchar_t wideText[MAX_PATH], wideFolder[MAX_PATH], wideMoved[MAX_PATH], wideHive[MAX_PATH];
  int parked, merged;

  GetTempPathA(MAX_PATH, temp);
  Join(folder, temp, "qmis-consumer");
  Join(moved, temp, "qmis-consumer-moved");
  Join(data, folder, "\\data.bin");
  Join(hive, temp, "qmis-consumer.hive");

  CHECK(QMSetup_DetectDxmedia() == 1);
  CHECK(QMSetup_GetInternalBuildNum() == 60);
  CHECK(QMSetup_GetInternalMajorVerNum() == 2);
  CHECK(QMSetup_GetInternalMinorVerNum() == 0);
  CHECK(QMSetup_GetVersionNum(version) == 60 && lstrcmpA(version, "2.0.0.60") == 0);
  QMSetup_RemoveSpaces(spaced, 5);
  CHECK(lstrcmpA(spaced, "abc") == 0);

  CHECK(QMSetup_SetRefcountedKey(product, sharedKey, 1) == 1);
  CHECK(QMSetup_RemoveRefcountedKeys(product) == 0);
  CallShellCleanup(product, prefix, extension);

  CHECK(QMSetup_SilentRunExternalWait(command, text) == 3);

  CreateDirectoryA(folder, 0);
  WriteBytes(data, 10);
  CHECK(QMSetup_GetCopyFileSize(folder) == 10);
  CHECK(QmRenameDirectory(folder, moved) == 0);
  CHECK(GetFileAttributesA(moved) != INVALID_FILE_ATTRIBUTES);

  DeleteFileA(hive);
  CHECK(QMSetup_RegSaveKey(HKEY_CURRENT_USER, subkey, hive) == 1);
  CHECK(QMSetup_RegRestoreKey(HKEY_CURRENT_USER, subkey, hive) == 1);

  /* The Unicode entry points; the command line may be a literal. */
  Widen(wideFolder, folder);
  Widen(wideMoved, moved);
  Widen(wideHive, hive);
  CHECK(QMSetup_SilentRunExternalWaitW(L"cmd.exe /c exit 4", wideText) == 4);
  CHECK(QMSetup_GetCopyFileSizeW(wideMoved) == 10);
  CHECK(QmRenameDirectoryW(wideMoved, wideFolder) == 0);
  CHECK(QmRenameDirectoryW(wideFolder, wideMoved) == 0);
  CHECK(GetFileAttributesA(moved) != INVALID_FILE_ATTRIBUTES);
  DeleteFileA(hive);
  CHECK(QMSetup_RegSaveKeyW(HKEY_CURRENT_USER, L"Software\\QmisConsumer", wideHive) == 1);
  CHECK(QMSetup_RegRestoreKeyW(HKEY_CURRENT_USER, L"Software\\QmisConsumer", wideHive) == 1);
  CHECK(QmUninstall_KeyClean(HKEY_CURRENT_USER, subkey) == 0);

  parked = QMSetup_BackupPendingFileRename();
  merged = QMSetup_RestorePendingFileRename();
  CHECK(parked == merged);

  CHECK(UninstInitialize(0, 0, 0) == 0);
  CHECK(UninstUnInitialize(0, 0, 0) == 0);

  RegDeleteKeyA(HKEY_CURRENT_USER, subkey);
  DeleteFileA(hive);
  Join(data, moved, "\\data.bin");
  DeleteFileA(data);
  RemoveDirectoryA(moved);

#ifdef __cplusplus
  Print("C++ consumer: every export called, ");
#else
  Print("C consumer: every export called, ");
#endif
  PrintNumber(checks);
  Print(" checks, ");
  PrintNumber(failures);
  Print(" failed\n");
  return failures != 0;
}

#ifdef QMIS_CONSUMER_ENTRY
/* Built without a C runtime: the process starts here, and the copies the
 * compiler makes for the arrays above need a memcpy. */
#include <stddef.h>
#ifdef __cplusplus
extern "C" {
#endif
void* memcpy(void* to, const void* from, size_t count) {
  char* out = (char*)to;
  const char* in = (const char*)from;
  while (count-- > 0) *out++ = *in++;
  return to;
}
void QMIS_CONSUMER_ENTRY(void);
#ifdef __cplusplus
}
#endif
void QMIS_CONSUMER_ENTRY(void) { ExitProcess((unsigned int)RunConsumer()); }
#else
int main(void) { return RunConsumer(); }
#endif
