# Warnings a compiler raises about correct code, each switched off only where a probe shows that
# compiler raising it.
include(CheckCXXSourceCompiles)

# GCC 12 at -O3 inlines std::string's replace into a memcpy it believes may overlap itself, and
# warns (-Wrestrict) on such plain code as `s = "t"` or `"-" + std::to_string(n)` (GCC bugs
# 105329 and 105651, mended in later releases). The probe compiles exactly those two lines; where
# they warn, the warning is off for the whole build, as it cannot be told apart from the real kind
# there. Overlapping copies are still caught at run time by the AddressSanitizer build.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(CMAKE_REQUIRED_FLAGS "-std=c++20 -O3 -Wrestrict -Werror=restrict")
  check_cxx_source_compiles([[
    #include <string>
    std::string Suffix(int n) { return "-" + std::to_string(n); }
    void Name(std::string& s) { s = "t"; }
    int main() { std::string s = Suffix(2); Name(s); return int(s.size()); }
  ]] KESTROVA_STRING_COPIES_WITHOUT_RESTRICT_WARNING)
  unset(CMAKE_REQUIRED_FLAGS)
  if(NOT KESTROVA_STRING_COPIES_WITHOUT_RESTRICT_WARNING)
    message(STATUS "${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION} warns falsely about "
                   "std::string copies (-Wrestrict): that warning is off")
    add_compile_options(-Wno-restrict)
  endif()
endif()
