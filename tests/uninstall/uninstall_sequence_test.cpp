// The uninstaller hook: the product's cleanup and its dependents' runs.
#include <gmock/gmock.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "internals.h"
#include "library_test.h"
#include "programs.h"
#include "qmis/handles.h"
#include "temp_dir.h"
#include "wide.h"

namespace qmis_test {
namespace {

std::string Host() { return ProgramFolder() + "qmis-uninstall-host.exe"; }

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Value names of a key in the registry's own enumeration order.
std::vector<std::string> EnumerationOrder(const std::string& path) {
  std::vector<std::string> names;
  qmis::UniqueKey key;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put());
  char name[400];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    if (RegEnumValueA(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    names.push_back(name);
  }
  return names;
}

class Dependents : public InternalsTest {
 protected:
  void SetUp() override {
    InternalsTest::SetUp();
    product_ = sandbox_.NewProduct("Product");
    log_ = dir_ / "runs.log";
  }
  std::string List() const { return DependentsPath(product_); }
  // A dependent's script that logs its run, then does `extra`.
  std::string Script(const std::string& name, const std::string& extra = "") {
    const std::string path = dir_ / name;
    WriteFile(path, "log " + log_ + "\nsleep 200\n" + extra);
    return path;
  }
  void Add(const std::string& name, const std::string& file, DWORD type = REG_SZ) {
    SetValue(HKEY_LOCAL_MACHINE, List(), name, {type, std::string(file.c_str(), file.size() + 1)});
  }
  void RunAll(const std::string& uninstaller) {
    internals().RunDependentUninstallers(Wide(uninstaller).c_str(), product_.c_str());
  }
  std::vector<std::string> Commands() {
    std::vector<std::string> commands;
    for (const Call& call : hook().Calls("CreateProcessW")) commands.push_back(CommandLineOf(call));
    return commands;
  }

  TempDir dir_;
  std::string product_;
  std::string log_;
};

TEST_F(Dependents, RunOneAfterAnotherInEnumerationOrder) {
  Add("first", Script("one.txt"));
  Add("Second", Script("two.txt"));
  RunAll(Host());
  std::vector<std::string> expected;
  for (const std::string& name : EnumerationOrder(List())) {
    expected.push_back(Host() + " -y -f\"" + dir_ / (name == "first" ? "one.txt" : "two.txt") +
                       "\"");
  }
  EXPECT_EQ(Commands(), expected);
  const std::vector<std::string> runs = Lines(log_);
  ASSERT_EQ(runs.size(), 2u);
  unsigned long long start1 = 0, end1 = 0, start2 = 0, end2 = 0;
  std::istringstream(runs[0]) >> start1 >> end1;
  std::istringstream(runs[1]) >> start2 >> end2;
  EXPECT_GE(start2, end1);  // the second run began after the first had ended
  EXPECT_NE(runs[0].find(expected[0].substr(Host().size())), std::string::npos);
}

TEST_F(Dependents, EntriesThatCannotRunArePassedOverAndTheWalkGoesOn) {
  const std::string script = Script("ok.txt");
  Add("expand", script, REG_EXPAND_SZ);
  Add("multi", script, REG_MULTI_SZ);
  Add("missing", dir_ / "missing.txt");
  dir_.Folder("folder");
  Add("folder", dir_ / "folder");
  Add(std::string(300, 'n'), script);
  Add("long", dir_ / std::string(270, 'l'));
  Add("zz last", script);
  RunAll(Host());
  EXPECT_EQ(Commands(), std::vector<std::string>{Host() + " -y -f\"" + script + "\""});
  EXPECT_EQ(Lines(log_).size(), 1u);
}

TEST_F(Dependents, FileHeldWithoutSharingIsRun) {
  const std::string script = Script("held.txt");
  const qmis::UniqueFile held(
      CreateFileA(script.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  Add("held", script);
  std::string missingHost = "C:\\no-host.exe";
  RunAll(missingHost);  // the run itself fails; only the attempt counts here
  EXPECT_EQ(Commands(), std::vector<std::string>{missingHost + " -y -f\"" + script + "\""});
}

// Data stored without its zero comes back without one on Windows (Wine adds
// it): the path is still read whole, and nothing after it.
TEST_F(Dependents, DataStoredWithoutItsZeroIsReadWhole) {
  const std::string script = Script("s.txt");
  Add("a", script);
  hook().Replace("RegEnumValueW", [this](const uint32_t* a) -> uint32_t {
    const uint32_t status = hook().CallReal("RegEnumValueW", a);
    DWORD* size = EnumeratedSize(a);
    if (status == ERROR_SUCCESS && *size >= 2) {
      *size -= 2;
      reinterpret_cast<wchar_t*>(EnumeratedData(a))[*size / 2] = L'X';
    }
    return status;
  });
  RunAll(Host());
  EXPECT_EQ(Commands(), std::vector<std::string>{Host() + " -y -f\"" + script + "\""});
}

TEST_F(Dependents, FailingDependentDoesNotStopTheNext) {
  Add("a", Script("a.txt", "exit 5\n"));
  Add("b", Script("b.txt"));
  RunAll(Host());
  EXPECT_EQ(Lines(log_).size(), 2u);
}

TEST_F(Dependents, ListDeletedByAFirstRunEndsTheWalk) {
  Add("a", Script("a.txt", "key HKLM\\" + List() + "\n"));
  Add("b", Script("b.txt", "key HKLM\\" + List() + "\n"));
  RunAll(Host());
  EXPECT_EQ(Lines(log_).size(), 1u);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, List()));
}

TEST_F(Dependents, CommandThatWouldNotFitIsPassedOver) {
  const std::string script = Script("s.txt");
  Add("a", script);
  RunAll(std::string(260 - 8 - script.size(), 'h'));  // one byte too many with " -y -f\"\""
  EXPECT_EQ(hook().Count("CreateProcessW"), 0);
  RunAll(std::string(259 - 8 - script.size(), 'h'));
  EXPECT_EQ(hook().Count("CreateProcessW"), 1);
}

// An uninstaller path with a space is quoted when, as it stands, it names a
// file; unquoted, the system would try each of its words as a program.
TEST_F(Dependents, ProgramPathWithSpacesIsQuotedOnlyWhenItNamesAFile) {
  const std::string script = Script("s.txt");
  Add("a", script);
  dir_.File("my host.exe", 1);
  const std::string spaced = dir_ / "my host.exe";
  const std::string quoted = "\"" + spaced + "\"";
  for (const auto& [path, program] : std::vector<std::pair<std::string, std::string>>{
           {spaced, quoted},
           {spaced + " -x", spaced + " -x"},              // not a file as a whole
           {dir_ / "no such.exe", dir_ / "no such.exe"},  // names no file
           {"\"" + spaced, "\"" + spaced},                // holds a quote
           {Host(), Host()}}) {                           // no space
    hook().ClearLog();
    RunAll(path);
    EXPECT_EQ(Commands(), std::vector<std::string>{program + " -y -f\"" + script + "\""}) << path;
  }
  // The 260-byte limit counts the two quotes.
  const size_t room = 259 - 10 - script.size() - dir_.path().size() - 1;
  for (size_t padding : {room - 6, room - 5}) {
    const std::string name = "h " + std::string(padding, 'x') + ".exe";
    dir_.File(name, 1);
    hook().ClearLog();
    RunAll(dir_ / name);
    EXPECT_EQ(hook().Count("CreateProcessW"), padding == room - 5 ? 0 : 1) << padding;
  }
}

// As installed: the host in "C:\Program Files\QmHost", started with its
// quoted path, and a program planted at C:\Program.exe.
TEST_F(Dependents, ProgramPlantedAtTheFirstWordOfThePathIsNeverStarted) {
  const std::string folder = "C:\\Program Files\\QmHost";
  const std::string planted = "C:\\Program.exe";
  ASSERT_FALSE(PathExists(planted));
  struct Cleanup {
    std::string folder, planted;
    ~Cleanup() {
      DeleteFileA(planted.c_str());
      RemoveTree(folder);
      SetEnvironmentVariableA("QMIS_TEST_CHILD_TRACE", nullptr);
    }
  } cleanup{folder, planted};
  CreateDirectoryA(folder.c_str(), nullptr);
  for (const char* file : {"qmis-uninstall-host.exe", "QMIS.dll"}) {
    ASSERT_TRUE(CopyFileA((ProgramFolder() + file).c_str(), (folder + "\\" + file).c_str(), FALSE));
  }
  ASSERT_TRUE(CopyFileA((ProgramFolder() + "qmis-test-child.exe").c_str(), planted.c_str(), FALSE));
  const std::string trace = dir_ / "planted.log";
  SetEnvironmentVariableA("QMIS_TEST_CHILD_TRACE", trace.c_str());
  dir_.File("dep.dat", 1);
  Add("dep", Script("dep.txt", "file " + (dir_ / "dep.dat") + "\n"));
  WriteFile(dir_ / "main.txt", "");
  const std::string host = folder + "\\qmis-uninstall-host.exe";
  EXPECT_EQ(RunProgram("\"" + host + "\" -f\"" + (dir_ / "main.txt") + "\" -z" + product_).exitCode,
            0u);
  EXPECT_FALSE(PathExists(trace)) << "C:\\Program.exe was started";
  EXPECT_FALSE(PathExists(dir_ / "dep.dat")) << "the dependent's uninstall did not run";
  EXPECT_EQ(Lines(log_).size(), 1u);
}

TEST_F(Dependents, FilePresence) {
  dir_.File("f.txt", 1);
  dir_.Folder("d");
  EXPECT_EQ(internals().IsFilePresent(Wide(dir_ / "f.txt").c_str()), 1);
  EXPECT_EQ(internals().IsFilePresent(Wide(dir_ / "none.txt").c_str()), 0);
  EXPECT_EQ(internals().IsFilePresent(Wide(dir_ / "d").c_str()), 0);
}

class UninstallHook : public LibraryTest {
 protected:
  int Initialize(const std::string& commandLine) {
    hook().ReplaceCommandLine(commandLine);
    return api().UninstInitialize(0, 0, 0);
  }
  std::vector<std::string> OpenedPaths() {
    std::vector<std::string> paths;
    for (const Call& call : hook().Calls("RegOpenKeyExA")) paths.push_back(KeyPath(call));
    return paths;
  }
};

// The steps run in their order: extensions, AutoPlay, claims, dependents.
TEST_F(UninstallHook, ProductWithoutListsFindsNothingAndReturnsZero) {
  EXPECT_EQ(Initialize("\"C:\\host.exe\" -f\"C:\\x.log\" -z\"No Such Product\""), 0);
  EXPECT_EQ(hook().Count("CreateProcessW"), 0);
  const std::string product = kUninstall + "\\No Such Product\\";
  std::vector<std::string> steps = OpenedPaths();
  std::erase_if(steps, [&](const std::string& path) {
    return path != "AudioCD\\shell" && path.rfind(product, 0) != 0;
  });
  EXPECT_THAT(steps, ::testing::ElementsAre(product + "Extensions", "AudioCD\\shell",
                                            product + "RefcountList", product + "Dependents"));
  EXPECT_EQ(api().UninstUnInitialize(1, 2, 3), 0);
}

// Without -z the product key is empty: no step acts on the Uninstall key's
// own lists, or on anything else. Without " -f" a command would name no
// program, so no dependent is run, yet every entry is still visited.
TEST_F(UninstallHook, MissingMarkersChangeNothingAndRunNothing) {
  EXPECT_EQ(Initialize("C:\\host.exe -f\"x\""), 0);
  EXPECT_EQ(hook().Count("RegOpenKeyExA"), 0);

  const std::string product = sandbox_.NewProduct("NoF");
  TempDir dir;
  dir.File("dep.txt", 1);
  SetValue(HKEY_LOCAL_MACHINE, DependentsPath(product), "d", Sz(dir / "dep.txt"));
  SetValue(HKEY_LOCAL_MACHINE, DependentsPath(product), "e", Sz(dir / "dep.txt"));
  hook().ClearLog();
  EXPECT_EQ(Initialize("C:\\host.exe -z" + product), 0);
  EXPECT_EQ(hook().Count("CreateProcessW"), 0);
  EXPECT_EQ(hook().Count("RegEnumValueW"), 3);
}

TEST_F(UninstallHook, WholeProductRemovedThroughTheHost) {
  TempDir dir;
  const std::string product = sandbox_.NewProduct("Main Tool");
  std::string handler = "Quillmoor" + product;
  handler.erase(std::remove(handler.begin(), handler.end(), ' '), handler.end());
  // A shared key, an extension with its earlier type, and the AutoPlay default.
  std::string productArg = product, sharedName = sandbox_.NewSharedKey("Shared");
  const std::string shared = SharedKeyPath(sharedName);
  ASSERT_EQ(api().SetRefcountedKey(productArg.data(), sharedName.data(), 1), 1);
  const std::string ext = "." + sandbox_.Unique("ext");
  sandbox_.Own(HKEY_CLASSES_ROOT, ext);
  sandbox_.Own(HKEY_CLASSES_ROOT, handler + "File" + ext);
  SetValue(HKEY_CLASSES_ROOT, ext, "", Sz(handler + "File" + ext));
  SetValue(HKEY_CLASSES_ROOT, ext, kSavedDefault, Sz("txtfile"));
  CreateKey(HKEY_CLASSES_ROOT, handler + "File" + ext + "\\shell");
  SetValue(HKEY_LOCAL_MACHINE, ExtensionsPath(product), ext, Sz(""));
  DeleteTree(HKEY_CLASSES_ROOT, "AudioCD");
  sandbox_.Own(HKEY_CLASSES_ROOT, "AudioCD");
  SetValue(HKEY_CLASSES_ROOT, "AudioCD\\shell", "", Sz("play"));
  CreateKey(HKEY_CLASSES_ROOT, "AudioCD\\shell\\" + handler);
  api().RegisterAutoInsertTag(productArg.data());
  // Two dependents, each with its own file and key that its script removes.
  std::vector<std::string> dependentKeys;
  for (const std::string name : {"DepOne", "DepTwo"}) {
    const std::string key = sandbox_.NewKey(HKEY_LOCAL_MACHINE, "SOFTWARE", name);
    dependentKeys.push_back(key);
    SetValue(HKEY_LOCAL_MACHINE, key, "installed", Dword(1));
    dir.File(name + ".dat", 10);
    WriteFile(dir / (name + ".txt"), "file " + dir / (name + ".dat") + "\nkey HKLM\\" + key +
                                         "\nlog " + (dir / "runs.log") + "\n");
    SetValue(HKEY_LOCAL_MACHINE, DependentsPath(product), name, Sz(dir / (name + ".txt")));
  }
  WriteFile(dir / "main.txt", "log " + (dir / "runs.log") + "\n");

  // Runs that uninstall nothing: bad usage gives 2 and the usage line, a
  // host with no QMIS.dll beside it 3.
  ASSERT_TRUE(CopyFileA(Host().c_str(), (dir / "lone.exe").c_str(), FALSE));
  const std::string script = " -f\"" + (dir / "main.txt") + "\"", key = " -z\"" + product + "\"";
  const struct {
    std::string line;
    DWORD code;
    std::string says;
  } refused[] = {{Host(), 2, "usage: qmis-uninstall-host"},
                 {Host() + key, 2, "usage:"},
                 {Host() + " -q" + script + key, 2, "usage:"},
                 {dir / "lone.exe" + script + key, 3, "QMIS.dll is neither"}};
  for (const auto& [line, code, says] : refused) {
    const ProgramRun run = RunProgram(line);
    EXPECT_EQ(run.exitCode, code) << line;
    EXPECT_THAT(run.output, ::testing::HasSubstr(says)) << line;
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, ClaimListPath(product)));
  }

  const ProgramRun host =
      RunProgram("\"" + Host() + "\" -f\"" + (dir / "main.txt") + "\" -z\"" + product + "\"");
  EXPECT_EQ(host.exitCode, 0u);
  EXPECT_EQ(Lines(dir / "runs.log").size(), 3u);  // two dependents, then the product's own run
  EXPECT_FALSE(PathExists(dir / "DepOne.dat"));
  EXPECT_FALSE(PathExists(dir / "DepTwo.dat"));
  // Checked with the system's reg.exe.
  for (const std::string& key : dependentKeys)
    EXPECT_EQ(RegQuery("\"HKLM\\" + key + "\"").exitCode, 1u) << key << " was left";
  EXPECT_EQ(RegQuery("\"HKLM\\" + shared + "\"").exitCode, 1u);
  EXPECT_EQ(RegQuery("\"HKCR\\" + handler + "File" + ext + "\"").exitCode, 1u);
  EXPECT_EQ(RegQuery("\"HKLM\\" + ClaimListPath(product) + "\"").exitCode, 1u);
  const ProgramRun extension = RegQuery("\"HKCR\\" + ext + "\" /ve");
  EXPECT_EQ(extension.exitCode, 0u);
  EXPECT_NE(extension.output.find("txtfile"), std::string::npos) << extension.output;
  const ProgramRun autoplay = RegQuery("\"HKCR\\AudioCD\\shell\" /ve");
  EXPECT_NE(autoplay.output.find("play"), std::string::npos) << autoplay.output;
  EXPECT_EQ(autoplay.output.find(handler), std::string::npos) << autoplay.output;
}

}  // namespace
}  // namespace qmis_test
