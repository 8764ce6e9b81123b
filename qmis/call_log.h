// The opt-in log: one line per export call, appended to the file the
// environment variable QMIS_LOG names, or sent to the debugger when it is
// "debug". Off (no file touched) when QMIS_LOG is not set.
#pragma once

#include <windows.h>

#include "qmis/call_report.h"

namespace qmis {

struct LogRecord {
  const char* exportName;
  const LogArg* args;
  int count;
  bool hasResult;
  DWORD result;
  LONG status;              // the last error the call leaves
  const char* step;         // the step that failed, when one did
  const wchar_t* subject;   // what it acted on ("" when nothing), in UTF-16
  const char* ansiSubject;  // or in the ANSI code page
};

// Writes the call's line, in UTF-8. The file is opened for each line, shared,
// in append mode, so that several processes can write one log. Never
// changes the thread's last error; a log that cannot be opened or written
// is passed over.
void WriteCallLog(const LogRecord& record);

}  // namespace qmis
