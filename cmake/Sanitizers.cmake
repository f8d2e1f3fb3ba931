# Sanitizers apply to the whole build so that every library is instrumented alike.
if(ORNAVEL_SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(ORNAVEL_SANITIZER STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT ORNAVEL_SANITIZER STREQUAL "")
  message(FATAL_ERROR "ORNAVEL_SANITIZER must be empty, 'address' or 'thread'")
endif()

if(ORNAVEL_FUZZ)
  # The C of the debug-output writer is instrumented too, so both compilers must be clang.
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang"
     OR NOT ORNAVEL_SANITIZER STREQUAL "address")
    message(FATAL_ERROR "ORNAVEL_FUZZ needs clang (CC=clang CXX=clang++) and ORNAVEL_SANITIZER=address")
  endif()
  # Coverage for the fuzzer in every library, not only in the fuzz targets.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
