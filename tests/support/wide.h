// Text in UTF-16, as the system keeps file names, command lines and
// registry text, for the tests of the library's UTF-16 side. The tests spell
// their text in UTF-8.
#pragma once

#include <windows.h>

#include <string>

namespace qmis_test {

// `text` in `codePage` (UTF-8 unless said) as UTF-16, and back.
std::wstring Wide(const std::string& text, UINT codePage = CP_UTF8);
std::string Narrow(const std::wstring& text, UINT codePage = CP_UTF8);

// The bytes of a text in UTF-16, as a registry value holds them (no zero added).
std::string Utf16Bytes(const std::string& utf8);

}  // namespace qmis_test
