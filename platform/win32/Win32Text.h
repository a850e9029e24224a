// Text at the Windows API boundary: the program keeps UTF-8 everywhere and hands Windows UTF-16.
#pragma once

#include <string>

namespace kestrova::platform::win32 {

// Invalid sequences become U+FFFD rather than an error: a name that cannot be spelt is then
// simply not found.
std::wstring Utf16(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
std::string Utf8(const wchar_t* wide);

// The system's text for an error code (GetLastError, an HRESULT), on one line.
std::string ErrorText(unsigned long code);

}  // namespace kestrova::platform::win32
