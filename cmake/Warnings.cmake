# Warnings are always on; they stop the build only where someone can fix the
# code (the test command, CI, developers who pass -DPELMORAN_WERROR=ON), never
# in a user's or packager's build with a compiler we have not tried.
option(PELMORAN_WERROR "Treat compiler warnings as errors" OFF)
add_compile_options(-Wall -Wextra)
if(PELMORAN_WERROR)
  add_compile_options(-Werror)
endif()

# GCC 12 at -O3 inlines std::string::assign into a memcpy that it then
# believes may overlap by 2^63 bytes (GCC bug 105329); any file that assigns a
# short literal can trip it, so it is off for that compiler. Real overlaps are
# still caught at run time: AddressSanitizer checks memcpy's arguments.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options(-Wno-restrict)
endif()
