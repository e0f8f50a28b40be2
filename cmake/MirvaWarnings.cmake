# Warnings are errors for every target of this project.
add_compile_options(-Wall -Wextra -Werror)
# g++ 12 reports -Wmaybe-uninitialized inside std::variant and std::optional at -O2, more so
# with the sanitizers' instrumentation; those reports are false, and they would fail the build.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wno-maybe-uninitialized)
endif()
