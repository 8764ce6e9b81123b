// Reading the uninstaller path and the product key from the host's
// command line.
#include <gmock/gmock.h>

#include <cstring>
#include <string>

#include "guard_buffer.h"
#include "internals.h"

namespace qmis_test {
namespace {

struct Read {
  int found;
  std::string text;
};

// Runs a reader over `commandLine` placed against a guard page.
Read ReadWith(int (*reader)(const char*, char*), const std::string& commandLine) {
  char out[MAX_PATH];
  std::memset(out, 0xBD, sizeof out);
  GuardedBuffer line = GuardedBuffer::String(commandLine);
  const int found = reader(line.data(), out);
  return {found, out};
}

Read Path(const std::string& line) {
  return ReadWith(InternalsTest::internals().GetUninstallerPath, line);
}
Read Product(const std::string& line) {
  return ReadWith(InternalsTest::internals().GetProductArg, line);
}

void ExpectRead(const Read& read, int found, const std::string& text,
                const Caller& caller = Caller::current()) {
  QMIS_TEST_TRACE_CALLER(caller);
  EXPECT_EQ(read.found, found) << text;
  EXPECT_EQ(read.text, text);
}

using CommandLine = InternalsTest;

TEST_F(CommandLine, QuotedPathAndProductKey) {
  const std::string line =
      "\"C:\\Setup Files\\remover.exe\" -f\"C:\\Apps\\Tool\\install.log\" -z\"Sample Tool 2\"";
  ExpectRead(Path(line), 1, "C:\\Setup Files\\remover.exe");
  ExpectRead(Product(line), 1, "Sample Tool 2");
}

TEST_F(CommandLine, UnquotedPartsStayAsTheyAre) {
  const std::string line = "C:\\remover.exe -fC:\\x.log -zTool";
  ExpectRead(Path(line), 1, "C:\\remover.exe");
  ExpectRead(Product(line), 1, "Tool");
}

TEST_F(CommandLine, WhatStandsBeforeTheFileOptionBelongsToThePath) {
  ExpectRead(Path("C:\\remover.exe -a -fx"), 1, "C:\\remover.exe -a");
  ExpectRead(Path("\"C:\\remover.exe\" -a -fx"), 1, "C:\\remover.exe\" -a");
}

TEST_F(CommandLine, ProductKeyReachesToTheEndOfTheLine) {
  ExpectRead(Product("r.exe -fx -z\"Tool\" -q"), 1, "Tool\" -q");
  ExpectRead(Product("r.exe -fx -z\"Tool\" "), 1, "Tool\" ");
  ExpectRead(Product("r.exe -fx -z \"Tool\""), 1, " \"Tool");
  ExpectRead(Product("r.exe -fx -z"), 1, "");
  ExpectRead(Product("r.exe -fx -z\""), 1, "");
}

TEST_F(CommandLine, MissingOrUppercaseMarkersGiveTheEmptyString) {
  ExpectRead(Path("C:\\remover.exe -Fx -Zk"), 0, "");
  ExpectRead(Product("C:\\remover.exe -Fx -Zk"), 0, "");
  ExpectRead(Path(""), 0, "");
}

TEST_F(CommandLine, FirstOccurrenceWinsWherePathsHoldMarkers) {
  ExpectRead(Path("C:\\My -files\\r.exe -fx"), 1, "C:\\My");
  ExpectRead(Product("r.exe -f\"C:\\a-zone.log\" -zTool"), 1, "one.log\" -zTool");
}

TEST_F(CommandLine, LongLinesAreSearchedWholeAndResultsAreNeverCut) {
  const std::string filler(400, 'x');
  ExpectRead(Product("r.exe -f\"" + filler + "\" -zTool"), 1, "Tool");
  ExpectRead(Path("r.exe " + filler + " -fy"), 0, "");  // 406 bytes would not fit
  ExpectRead(Product("r.exe -fy -z" + std::string(259, 'k')), 1, std::string(259, 'k'));
  ExpectRead(Product("r.exe -fy -z" + std::string(260, 'k')), 0, "");
  ExpectRead(Product("r.exe -fy -z\"" + std::string(259, 'k') + "\""), 1, std::string(259, 'k'));
  ExpectRead(Path(std::string(70000, 'p') + " -f"), 0, "");
}

TEST_F(CommandLine, EndsWithCharTestsTheLastByte) {
  EXPECT_EQ(internals().EndsWithChar("", '"'), 0);
  EXPECT_EQ(internals().EndsWithChar("\"", '"'), 1);
  EXPECT_EQ(internals().EndsWithChar("ab\"", 0x1122'3322), 1);  // only the low byte counts
  EXPECT_EQ(internals().EndsWithChar("ab", '"'), 0);
}

}  // namespace
}  // namespace qmis_test
