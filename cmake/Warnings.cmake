# Every target of the project links this to get the same warnings.
add_library(ornavel_warnings INTERFACE)
target_compile_options(ornavel_warnings INTERFACE -Wall -Wextra -Wpedantic)
if(ORNAVEL_WERROR)
  target_compile_options(ornavel_warnings INTERFACE -Werror)
endif()
