/* The few declarations of the Windows API the consumer uses, for a build
 * with no Windows SDK at hand: clang in Microsoft's mode compiles neither
 * mingw-w64's headers nor Wine's. The types are the ones <windows.h>
 * declares. */
#ifndef QMIS_CONSUMER_WINDOWS_SUBSET_H
#define QMIS_CONSUMER_WINDOWS_SUBSET_H

typedef unsigned long DWORD;
typedef int BOOL;
typedef long LONG;
typedef void* HANDLE;
typedef struct HKEY__* HKEY;
typedef struct HINSTANCE__* HMODULE;
typedef int(__stdcall* FARPROC)(void);

#define MAX_PATH 260
#define GENERIC_WRITE 0x40000000UL
#define CREATE_ALWAYS 2
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define HKEY_CURRENT_USER ((HKEY)(unsigned long)0x80000001UL)

#ifdef __cplusplus
extern "C" {
#endif
__declspec(dllimport) DWORD __stdcall GetTempPathA(DWORD, char*);
__declspec(dllimport) BOOL __stdcall CreateDirectoryA(const char*, void*);
__declspec(dllimport) HANDLE
    __stdcall CreateFileA(const char*, DWORD, DWORD, void*, DWORD, DWORD, HANDLE);
__declspec(dllimport) BOOL __stdcall WriteFile(HANDLE, const void*, DWORD, DWORD*, void*);
__declspec(dllimport) BOOL __stdcall CloseHandle(HANDLE);
__declspec(dllimport) DWORD __stdcall GetFileAttributesA(const char*);
__declspec(dllimport) BOOL __stdcall DeleteFileA(const char*);
__declspec(dllimport) BOOL __stdcall RemoveDirectoryA(const char*);
__declspec(dllimport) HANDLE __stdcall GetStdHandle(DWORD);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int);
__declspec(dllimport) char* __stdcall lstrcpyA(char*, const char*);
__declspec(dllimport) char* __stdcall lstrcatA(char*, const char*);
__declspec(dllimport) int __stdcall lstrcmpA(const char*, const char*);
__declspec(dllimport) HMODULE __stdcall GetModuleHandleA(const char*);
__declspec(dllimport) FARPROC __stdcall GetProcAddress(HMODULE, const char*);
__declspec(dllimport) LONG __stdcall RegDeleteKeyA(HKEY, const char*);
#ifdef __cplusplus
}
#endif

#endif
