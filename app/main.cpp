#include <iostream>
#include <string>
#include <vector>

#include "app/Commands.h"

#ifdef _WIN32
#include <windows.h>

namespace {

// An unpaired surrogate becomes U+FFFD rather than an error: the name is then simply not found.
std::string Utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  utf8.pop_back();  // the terminating zero
  return utf8;
}

}  // namespace

// Windows hands the command line over in UTF-16; the commands take UTF-8 everywhere (file names
// are turned back into UTF-16 where files are opened), so any name the user types works.
int wmain(int argc, wchar_t** argv) {
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8(argv[i]));
  return kestrova::RunCommandLine(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return kestrova::RunCommandLine(args, std::cout, std::cerr);
}
#endif
