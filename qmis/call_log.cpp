#include "qmis/call_log.h"

#include <cwchar>

#include "qmis/handles.h"

namespace qmis {
namespace {

constexpr wchar_t kLogVariable[] = L"QMIS_LOG";
constexpr wchar_t kDebugTarget[] = L"debug";
// A string argument longer than this is cut in the log, with "..." after it.
constexpr int kArgumentShown = 80;

// A line of the log, built in UTF-16 and cut, never overrun, at its size.
class Line {
 public:
  void Add(const wchar_t* text, size_t length) {
    for (size_t i = 0; i < length && used_ + 1 < kSize; ++i) text_[used_++] = text[i];
    text_[used_] = L'\0';
  }
  void Add(const wchar_t* text) { Add(text, std::wcslen(text)); }
  void AddAnsi(const char* text, int length = -1) {
    wchar_t wide[kSize];
    const int units = MultiByteToWideChar(CP_ACP, 0, text, length, wide, kSize - 1);
    wide[units > 0 ? units : 0] = L'\0';
    Add(wide);
  }
  void AddNumber(const wchar_t* format, DWORD number) {
    wchar_t digits[16];
    wsprintfW(digits, format, number);
    Add(digits);
  }
  const wchar_t* text() const { return text_; }
  size_t length() const { return used_; }

 private:
  static constexpr size_t kSize = 2048;
  wchar_t text_[kSize] = L"";
  size_t used_ = 0;
};

void AddQuoted(Line& line, const LogArg& arg) {
  if (arg.text == nullptr) {
    line.Add(L"null");
    return;
  }
  wchar_t wide[kArgumentShown];
  int shown = 0;
  bool cut = false;
  if (arg.kind == LogArg::Kind::kWide) {
    const auto* text = static_cast<const wchar_t*>(arg.text);
    while (shown < kArgumentShown && text[shown] != L'\0') ++shown;
    cut = text[shown] != L'\0';
    std::wmemcpy(wide, text, shown);
  } else {
    // At most one UTF-16 unit per byte: the first bytes give the first units.
    const auto* text = static_cast<const char*>(arg.text);
    int bytes = 0;
    while (bytes < kArgumentShown && text[bytes] != '\0') ++bytes;
    cut = text[bytes] != '\0';
    shown = bytes == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, text, bytes, wide, kArgumentShown);
  }
  line.Add(L"\"");
  line.Add(wide, shown > 0 ? shown : 0);
  line.Add(cut ? L"...\"" : L"\"");
}

void AddArgument(Line& line, const LogArg& arg) {
  switch (arg.kind) {
    case LogArg::Kind::kAnsi:
    case LogArg::Kind::kWide:
      AddQuoted(line, arg);
      break;
    case LogArg::Kind::kNumber:
      line.AddNumber(L"%lu", arg.number);
      break;
    case LogArg::Kind::kRoot: {
      static constexpr const wchar_t* kRoots[] = {L"HKCR", L"HKCU", L"HKLM", L"HKU"};
      const DWORD index = arg.number - 0x80000000u;
      if (index < 4) {
        line.Add(kRoots[index]);
      } else {
        line.AddNumber(L"0x%lX", arg.number);
      }
      break;
    }
  }
}

void AddStatus(Line& line, LONG status) {
  line.AddNumber(L"error %lu", static_cast<DWORD>(status));
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, static_cast<DWORD>(status), LANG_USER_DEFAULT, reinterpret_cast<wchar_t*>(&text), 0,
      nullptr);
  const UniqueLocal owner(text);
  if (length == 0 || text == nullptr) return;
  DWORD end = length;
  while (end > 0 && (text[end - 1] == L'\r' || text[end - 1] == L'\n' || text[end - 1] == L' '))
    --end;
  line.Add(L" (");
  line.Add(text, end);
  line.Add(L")");
}

void Compose(Line& line, const LogRecord& record) {
  SYSTEMTIME time;
  GetLocalTime(&time);
  wchar_t stamp[40];
  wsprintfW(stamp, L"%04u-%02u-%02u %02u:%02u:%02u.%03u ", time.wYear, time.wMonth, time.wDay,
            time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
  line.Add(stamp);
  line.AddNumber(L"pid %lu ", GetCurrentProcessId());
  line.AddAnsi(record.exportName);
  line.Add(L"(");
  for (int i = 0; i < record.count; ++i) {
    if (i > 0) line.Add(L", ");
    AddArgument(line, record.args[i]);
  }
  line.Add(L")");
  if (record.hasResult)
    line.AddNumber(record.result > 0xFFFF ? L" = 0x%lX" : L" = %lu", record.result);
  if (record.status != ERROR_SUCCESS) {
    line.Add(L"; ");
    if (record.step != nullptr) line.AddAnsi(record.step);
    if (record.ansiSubject[0] != '\0') {
      line.Add(L" ");
      line.AddAnsi(record.ansiSubject);
    } else if (record.subject[0] != L'\0') {
      line.Add(L" ");
      line.Add(record.subject);
    }
    line.Add(L": ");
    AddStatus(line, record.status);
  }
  line.Add(L"\r\n");
}

void AppendToFile(const wchar_t* path, const Line& line) {
  // One write of the whole line, in append mode, with the file locked: each
  // line goes whole to the end, whichever process writes it (a system whose
  // append is not atomic across processes would otherwise let two writers
  // write over each other).
  char utf8[3 * 2048];
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.text(), static_cast<int>(line.length()),
                                        utf8, sizeof utf8, nullptr, nullptr);
  if (bytes <= 0) return;
  const UniqueFile file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  OVERLAPPED whole{};
  const bool locked =
      LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
  DWORD written = 0;
  (void)WriteFile(file.get(), utf8, static_cast<DWORD>(bytes), &written, nullptr);
  // The lock goes with the handle in any case; it is given back at once.
  if (locked) (void)UnlockFileEx(file.get(), 0, MAXDWORD, MAXDWORD, &whole);
}

}  // namespace

void WriteCallLog(const LogRecord& record) {
  const DWORD lastError = GetLastError();
  wchar_t target[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(kLogVariable, target, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    Line line;
    Compose(line, record);
    if (lstrcmpiW(target, kDebugTarget) == 0) {
      OutputDebugStringW(line.text());
    } else {
      AppendToFile(target, line);
    }
  }
  SetLastError(lastError);
}

}  // namespace qmis
