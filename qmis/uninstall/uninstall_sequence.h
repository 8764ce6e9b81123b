// What the uninstaller host's call into the library does for the product
// named on its command line, and the dependent products' uninstalls.
#pragma once

namespace qmis {

// Hands back the product's extensions and AutoPlay default, releases its
// shared keys, then runs the host for each dependent, one after another.
// The product key comes from the command line in the ANSI code page (the
// keys it names were written by ANSI callers); the host's own path from the
// same line in UTF-16, whole whatever its characters.
void UninstallProduct(const char* commandLine, const wchar_t* wideCommandLine);

// Runs "<uninstaller path> -y -f"<file>"" for each REG_SZ value under the
// product's "Dependents" key whose file is present, waiting for each run.
// Paths and commands are carried in UTF-16, as the system keeps them.
void RunDependentUninstallers(const wchar_t* uninstallerPath, const char* productKey);

// The template of the command that runs the host for a dependent's file,
// "<uninstaller path> -y -f"<file>"", with the path in quotes when it holds a
// space and names a file as it stands; nullptr when the path is empty.
[[nodiscard]] const wchar_t* DependentCommandFormat(const wchar_t* uninstallerPath);

// Whether the file exists: it opens for reading, or another process holds it
// without sharing.
[[nodiscard]] int IsFilePresent(const wchar_t* path);

}  // namespace qmis
