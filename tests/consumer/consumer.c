/* Calls every export of QMIS.dll through qmis.h and the import library. */
#include <stdio.h>
#include <string.h>

#include <qmis.h>

static int failures = 0;

#define CHECK(condition)                                                \
  do {                                                                  \
    if (!(condition)) {                                                 \
      printf("FAILED at line %d: %s\n", __LINE__, #condition);          \
      ++failures;                                                       \
    }                                                                   \
  } while (0)

static void WriteBytes(const char* path, int count) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  DWORD written = 0;
  WriteFile(file, "0123456789", (DWORD)count, &written, NULL);
  CloseHandle(file);
}

int main(void) {
  char version[16], text[MAX_PATH], temp[MAX_PATH], folder[MAX_PATH], moved[MAX_PATH];
  char data[MAX_PATH], hive[MAX_PATH];
  char spaced[] = "a b c";
  char product[] = "QMIS Consumer Test";
  char sharedKey[] = "ConsumerTest\\Key";
  char subkey[] = "Software\\QmisConsumer";
  char prefix[] = "QuillmoorQMISConsumerTest";
  char extension[] = ".qmconsumer";
  char command[] = "cmd.exe /c exit 3";
  int parked, merged;

  GetTempPathA(MAX_PATH, temp);
  snprintf(folder, sizeof folder, "%sqmis-consumer", temp);
  snprintf(moved, sizeof moved, "%sqmis-consumer-moved", temp);
  snprintf(data, sizeof data, "%s\\data.bin", folder);
  snprintf(hive, sizeof hive, "%sqmis-consumer.hive", temp);

  CHECK(QMSetup_DetectDxmedia() == 1);
  CHECK(QMSetup_GetInternalBuildNum() == 60);
  CHECK(QMSetup_GetInternalMajorVerNum() == 2);
  CHECK(QMSetup_GetInternalMinorVerNum() == 0);
  CHECK(QMSetup_GetVersionNum(version) == 60 && strcmp(version, "2.0.0.60") == 0);
  QMSetup_RemoveSpaces(spaced, 5);
  CHECK(strcmp(spaced, "abc") == 0);

  CHECK(QMSetup_SetRefcountedKey(product, sharedKey, 1) == 1);
  CHECK(QMSetup_RemoveRefcountedKeys(product) == 0);
  RegisterAutoInsertTag(product);
  UnregisterAutoInsertTag(product);
  UnregisterExtensions(product);
  UnregisterSpecificExtension(prefix, extension);

  CHECK(QMSetup_SilentRunExternalWait(command, text) == 3);

  CreateDirectoryA(folder, NULL);
  WriteBytes(data, 10);
  CHECK(QMSetup_GetCopyFileSize(folder) == 10);
  CHECK(QmRenameDirectory(folder, moved) == 0);
  CHECK(GetFileAttributesA(moved) != INVALID_FILE_ATTRIBUTES);

  DeleteFileA(hive);
  CHECK(QMSetup_RegSaveKey(HKEY_CURRENT_USER, subkey, hive) == 1);
  CHECK(QMSetup_RegRestoreKey(HKEY_CURRENT_USER, subkey, hive) == 1);
  CHECK(QmUninstall_KeyClean(HKEY_CURRENT_USER, subkey) == 0);

  parked = QMSetup_BackupPendingFileRename();
  merged = QMSetup_RestorePendingFileRename();
  CHECK(parked == merged);

  CHECK(UninstInitialize(0, 0, 0) == 0);
  CHECK(UninstUnInitialize(0, 0, 0) == 0);

  RegDeleteKeyA(HKEY_CURRENT_USER, subkey);
  DeleteFileA(hive);
  snprintf(data, sizeof data, "%s\\data.bin", moved);
  DeleteFileA(data);
  RemoveDirectoryA(moved);

  printf("%s consumer: every export called, %d failed checks\n",
#ifdef __cplusplus
         "C++",
#else
         "C",
#endif
         failures);
  return failures != 0;
}
