# Warning flags shared by every target of the project.
add_library(kestro_warnings INTERFACE)
if(MSVC)
  target_compile_options(kestro_warnings INTERFACE /W4)
else()
  target_compile_options(kestro_warnings INTERFACE -Wall -Wextra -Wpedantic)
  if(KESTRO_WARNINGS_AS_ERRORS)
    target_compile_options(kestro_warnings INTERFACE -Werror)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      # GCC 12's optimiser-driven warnings give false positives inside the standard library at
      # -O2 (moves in std::vector::insert "out of bounds", short strings "maybe uninitialized"):
      # in optimised builds they stay warnings. Debug builds keep every warning an error.
      target_compile_options(kestro_warnings INTERFACE
        $<$<NOT:$<CONFIG:Debug>>:-Wno-error=array-bounds -Wno-error=stringop-overflow
                                 -Wno-error=maybe-uninitialized>)
    endif()
  endif()
endif()
