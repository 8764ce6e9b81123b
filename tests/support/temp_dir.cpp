#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "programs.h"
#include "qmis/handles.h"

namespace qmis_test {

namespace {

// The Unix path of a Windows path, or "" off Wine.
std::string UnixPath(const std::string& path) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  wchar_t wide[4 * MAX_PATH];
  if (unixName == nullptr ||
      MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, 4 * MAX_PATH) == 0)
    return {};
  char* name = unixName(wide);
  if (name == nullptr) return {};
  std::string text = name;
  HeapFree(GetProcessHeap(), 0, name);
  return text;
}

// Starts a Unix program, which Wine runs when given its path on drive Z:.
// Wine does not wait for it: callers poll for its effect.
bool StartUnixProgram(const char* program, const std::string& line) {
  return StartProgram(line, program).has_value();
}

bool IsLink(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool WaitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) Sleep(10);
  return done();
}

}  // namespace

TempDir::TempDir() {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  static int counter = 0;
  path_ = std::string(base) + "qmis_" + (info ? info->name() : "t") + "_" +
          std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
  std::replace(path_.begin() + 3, path_.end(), '/', '_');
  RemoveTree(path_);
  CreateDirectoryA(path_.c_str(), nullptr);
}

TempDir::~TempDir() {
  // The system's own removal would follow a link into what it leads to.
  for (const std::string& link : links_) {
    if (StartUnixProgram("Z:\\bin\\rm", "rm \"" + UnixPath(link) + "\"")) {
      WaitUntil([&] { return !PathExists(link); });
    }
  }
  RemoveTree(path_);
}

void TempDir::Folder(const std::string& name) const {
  std::string full = path_;
  size_t start = 0;
  while (start <= name.size()) {
    const size_t end = std::min(name.find('\\', start), name.size());
    full += "\\" + name.substr(start, end - start);
    CreateDirectoryA(full.c_str(), nullptr);
    start = end + 1;
  }
}

void TempDir::File(const std::string& name, DWORD size, const Caller& caller) const {
  QMIS_TEST_TRACE_CALLER(caller);
  const size_t slash = name.find_last_of('\\');
  if (slash != std::string::npos) Folder(name.substr(0, slash));
  const qmis::UniqueFile file(CreateFileA((*this / name).c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file) << name;
  std::string bytes(size, 'q');
  DWORD written = 0;
  WriteFile(file.get(), bytes.data(), size, &written, nullptr);
}

bool TempDir::UnixLink(const std::string& name, const std::string& target) {
  const std::string linkPath = UnixPath(*this / name);
  if (linkPath.empty() ||
      !StartUnixProgram("Z:\\bin\\ln", "ln -s \"" + target + "\" \"" + linkPath + "\"")) {
    return false;
  }
  links_.push_back(*this / name);
  return WaitUntil([&] { return IsLink(*this / name); });
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// In UTF-16, so that names the ANSI code page cannot spell go too.
void RemoveTreeWide(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  const qmis::UniqueFind search(FindFirstFileW((path + L"\\*").c_str(), &entry));
  if (search) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        continue;  // never what a link leads to
      } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTreeWide(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search.get(), &entry));
  }
  RemoveDirectoryW(path.c_str());
  DeleteFileW(path.c_str());
}

}  // namespace

void RemoveTree(const std::string& path) {
  wchar_t wide[4 * MAX_PATH];
  if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, 4 * MAX_PATH) > 0)
    RemoveTreeWide(wide);
}

}  // namespace qmis_test
