// qmis-inspect: shows, without changing anything, the QMIS-managed state of
// a machine and whether it is consistent.
//
//   qmis-inspect.exe [--json] [--product NAME]
//
// Exit status: 0 consistent, 1 inconsistencies found, 2 bad usage, 3 QMIS.dll
// not found (neither beside the program nor in ..\bin).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "companion.h"
#include "qmis.h"
#include "qmis_state.h"
#include "report_writer.h"

namespace {

int Usage() {
  std::fputs("usage: qmis-inspect [--json] [--product NAME]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  std::string product;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--product") == 0 && i + 1 < argc && argv[i + 1][0] != '\0') {
      product = argv[++i];
    } else {
      return Usage();
    }
  }
  const qmis::UniqueModule library = LoadCompanionLibrary();
  auto removeSpaces = reinterpret_cast<decltype(&QMSetup_RemoveSpaces)>(reinterpret_cast<void*>(
      library ? GetProcAddress(library.get(), "QMSetup_RemoveSpaces") : nullptr));
  if (removeSpaces == nullptr) {
    std::fputs("qmis-inspect: QMIS.dll is neither beside the program nor in ..\\bin\n", stderr);
    return 3;
  }
  const QmisState state = ReadQmisState(product, removeSpaces);
  const std::string report = json ? JsonReport(state) : TextReport(state);
  std::fwrite(report.data(), 1, report.size(), stdout);
  return state.inconsistencies.empty() ? 0 : 1;
}
