#include "programs.h"

#include <vector>

#include "qmis/handles.h"
#include "wide.h"

namespace qmis_test {

ProgramRun RunProgram(const std::string& commandLine) {
  return RunProgram(Wide(commandLine, CP_ACP));
}

ProgramRun RunProgram(const std::wstring& commandLine) {
  ProgramRun run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  qmis::UniqueHandle readEnd, writeEnd;
  if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) {
    run.exitCode = 0xFFFFFFFF;
    return run;
  }
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd.get();
  startup.hStdError = writeEnd.get();
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION info{};
  std::wstring line = commandLine;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &info)) {
    run.exitCode = 0xFFFFFFFF;
    return run;
  }
  const qmis::UniqueHandle process(info.hProcess), thread(info.hThread);
  writeEnd.reset();  // the child holds the write end now: reading ends with it
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(readEnd.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    run.output.append(buffer, got);
  if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.get(), &run.exitCode)) {
    run.exitCode = 0xFFFFFFFF;
  }
  return run;
}

std::optional<qmis::UniqueHandle> StartProgram(std::string commandLine, const char* application) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  // No output from a test program: only its exit code counts. A Unix
  // program keeps the test's own handles; Wine does not start it without.
  if (application == nullptr) startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(application, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return std::nullopt;
  }
  const qmis::UniqueHandle thread(info.hThread);
  return qmis::UniqueHandle(info.hProcess);
}

DWORD RunWithoutOutput(const std::wstring& commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION info{};
  std::wstring line = commandLine;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return 0xFFFFFFFF;
  }
  const qmis::UniqueHandle process(info.hProcess), thread(info.hThread);
  DWORD code = 0xFFFFFFFF;
  if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.get(), &code)) {
    return 0xFFFFFFFF;
  }
  return code;
}

ProgramRun RegQuery(const std::string& arguments) {
  return RunProgram("reg.exe query " + arguments);
}

}  // namespace qmis_test
