# The native (Linux) build: the text rules setup.exe uses, and what is built on them without
# Windows. Each part below brings its own CMakeLists.txt.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()
enable_testing()

add_library(text_rules_portable STATIC src/setup_script/text_rules.cpp)
target_include_directories(text_rules_portable PUBLIC src)
target_compile_options(text_rules_portable PRIVATE -Wall -Wextra)

foreach(part src/setupcheck tests/fuzz tests/release)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${part}/CMakeLists.txt)
    add_subdirectory(${part})
  endif()
endforeach()
