// Reading the uninstaller path and the product key from the host's
// command line.
#include <gmock/gmock.h>

#include <cstring>
#include <string>

#include "guard_buffer.h"
#include "internals.h"
#include "wide.h"

namespace qmis_test {
namespace {

using CommandLine = InternalsTest;

// Each reader over each line: the first marker wins wherever it stands, one
// quote goes at each end, and a result that would not fit is never cut.
TEST_F(CommandLine, EachReaderTakesWhatItsMarkerGives) {
  const bool path = true, product = false;
  const std::string filler(400, 'x'), k259(259, 'k');
  struct Row {
    bool readsPath;
    std::string line;
    int found;
    std::string text;
  };
  const Row rows[] = {
      {path, "\"C:\\Setup Files\\remover.exe\" -f\"C:\\Apps\\install.log\" -z\"Sample Tool 2\"", 1,
       "C:\\Setup Files\\remover.exe"},
      {product, "\"C:\\Setup Files\\remover.exe\" -f\"C:\\Apps\\install.log\" -z\"Sample Tool 2\"",
       1, "Sample Tool 2"},
      {path, "C:\\remover.exe -fC:\\x.log -zTool", 1, "C:\\remover.exe"},
      {product, "C:\\remover.exe -fC:\\x.log -zTool", 1, "Tool"},
      // What stands before the file option belongs to the path.
      {path, "C:\\remover.exe -a -fx", 1, "C:\\remover.exe -a"},
      {path, "\"C:\\remover.exe\" -a -fx", 1, "C:\\remover.exe\" -a"},
      // The product key reaches to the end of the line.
      {product, "r.exe -fx -z\"Tool\" -q", 1, "Tool\" -q"},
      {product, "r.exe -fx -z\"Tool\" ", 1, "Tool\" "},
      {product, "r.exe -fx -z \"Tool\"", 1, " \"Tool"},
      {product, "r.exe -fx -z", 1, ""},
      {product, "r.exe -fx -z\"", 1, ""},
      // Missing or uppercase markers.
      {path, "C:\\remover.exe -Fx -Zk", 0, ""},
      {product, "C:\\remover.exe -Fx -Zk", 0, ""},
      {path, "", 0, ""},
      {path, "C:\\My -files\\r.exe -fx", 1, "C:\\My"},
      {product, "r.exe -f\"C:\\a-zone.log\" -zTool", 1, "one.log\" -zTool"},
      // Long lines are searched whole.
      {product, "r.exe -f\"" + filler + "\" -zTool", 1, "Tool"},
      {path, "r.exe " + filler + " -fy", 0, ""},  // 406 bytes would not fit
      {product, "r.exe -fy -z" + k259, 1, k259},
      {product, "r.exe -fy -z" + k259 + "k", 0, ""},
      {product, "r.exe -fy -z\"" + k259 + "\"", 1, k259},
      {path, std::string(70000, 'p') + " -f", 0, ""},
  };
  // The path is read from the line in UTF-16, the product key in ANSI.
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line.substr(0, 80));
    if (row.readsPath) {
      wchar_t out[MAX_PATH];
      std::memset(out, 0xBD, sizeof out);
      GuardedBuffer line = GuardedBuffer::String(Wide(row.line));
      EXPECT_EQ(internals().GetUninstallerPath(line.wide(), out), row.found);
      EXPECT_EQ(Narrow(out), row.text);
    } else {
      char out[MAX_PATH];
      std::memset(out, 0xBD, sizeof out);
      GuardedBuffer line = GuardedBuffer::String(row.line);
      EXPECT_EQ(internals().GetProductArg(line.data(), out), row.found);
      EXPECT_EQ(std::string(out), row.text);
    }
  }
}

TEST_F(CommandLine, EndsWithCharTestsTheLastByte) {
  EXPECT_EQ(internals().EndsWithChar("", '"'), 0);
  EXPECT_EQ(internals().EndsWithChar("\"", '"'), 1);
  EXPECT_EQ(internals().EndsWithChar("ab\"", 0x1122'3322), 1);  // only the low byte counts
  EXPECT_EQ(internals().EndsWithChar("ab", '"'), 0);
}

}  // namespace
}  // namespace qmis_test
