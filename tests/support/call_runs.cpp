#include <cstdio>

#include "call_child.h"
#include "library.h"
#include "programs.h"

namespace qmis_test {

std::string CallLine(int killBeforeWrite, const std::string& startEvent,
                     const std::vector<std::string>& arguments) {
  std::string line = "\"" + ProgramFolder() + "qmis-call-child.exe\" " +
                     std::to_string(killBeforeWrite) + " " + startEvent;
  for (const std::string& argument : arguments) {
    line += " \"";
    for (char c : argument) line += c == '"' ? std::string("\\\"") : std::string(1, c);
    line += "\"";
  }
  return line;
}

CallRun RunCall(const std::vector<std::string>& arguments, int killBeforeWrite) {
  const ProgramRun run = RunProgram(CallLine(killBeforeWrite, "-", arguments));
  CallRun result;
  result.exitCode = run.exitCode;
  std::sscanf(run.output.c_str(), "writes=%d", &result.writes);
  return result;
}

std::vector<DWORD> RunCallsAtOnce(const std::string& startEvent,
                                  const std::vector<std::vector<std::string>>& calls) {
  const LONG count = static_cast<LONG>(calls.size());
  const qmis::UniqueHandle start(CreateEventA(nullptr, TRUE, FALSE, startEvent.c_str()));
  const qmis::UniqueHandle ready(
      CreateSemaphoreA(nullptr, 0, count, (startEvent + ".ready").c_str()));
  std::vector<qmis::UniqueHandle> children;
  for (const auto& call : calls)
    children.push_back(StartProgram(CallLine(0, startEvent, call)).value_or(qmis::UniqueHandle()));
  for (const auto& child : children) {
    if (child) WaitForSingleObject(ready.get(), 30000);
  }
  SetEvent(start.get());
  std::vector<DWORD> codes;
  for (const auto& child : children) {
    DWORD code = kBadArguments;
    if (child && WaitForSingleObject(child.get(), 60000) == WAIT_OBJECT_0)
      GetExitCodeProcess(child.get(), &code);
    codes.push_back(code);
  }
  return codes;
}

}  // namespace qmis_test
