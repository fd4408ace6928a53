# velnor-rove, the command-line client. Included from src/CMakeLists.txt.

# Options, help texts, conversions and argument parsing, shared with the
# unit tests and the fuzz targets.
add_library(velnorrovecore STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/rove_values.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/rove_params.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/rove_commands.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/rove_output.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/velnor-rove-signal-output.cpp)
target_include_directories(velnorrovecore PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(velnorrovecore PRIVATE ${VELNOR_WARNINGS})
# Boost.Program_options is linked statically when its archive is there: one
# shared library less to load on every start of the tool.
find_library(ROVE_BOOST_PO_ARCHIVE NAMES libboost_program_options.a)
if(ROVE_BOOST_PO_ARCHIVE)
  target_link_libraries(velnorrovecore PUBLIC velnoristd Boost::headers ${ROVE_BOOST_PO_ARCHIVE})
else()
  target_link_libraries(velnorrovecore PUBLIC velnoristd Boost::program_options)
endif()
# The tool sees only the public headers of mci (for the value types) and
# the CORBA-free ones of isig that mci.h names.
target_include_directories(velnorrovecore PUBLIC ${CMAKE_SOURCE_DIR}/platform/mci/include
                           ${CMAKE_SOURCE_DIR}/platform/isig/include)

# Version values are taken at build time, for the record and the markers.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} --version OUTPUT_VARIABLE ROVE_COMPILER_BANNER
                ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX REPLACE "\n.*" "" ROVE_COMPILER_BANNER "${ROVE_COMPILER_BANNER}")
set(ROVE_VERSION_SOURCE ${CMAKE_CURRENT_BINARY_DIR}/rove_version.cpp)
add_custom_target(velnor-rove-version
  COMMAND ${CMAKE_COMMAND} -DOUT=${ROVE_VERSION_SOURCE} "-DCOMPILER=${ROVE_COMPILER_BANNER}"
          -P ${CMAKE_CURRENT_SOURCE_DIR}/version.cmake
  BYPRODUCTS ${ROVE_VERSION_SOURCE}
  COMMENT "velnor-rove version values"
  VERBATIM)

add_executable(velnor-rove
  ${CMAKE_CURRENT_SOURCE_DIR}/velnor-rove.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/rove_handlers.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/velnor-rove-signal.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/velnor-rove-listener.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/velnor-rove-signal-handler.cpp
  ${ROVE_VERSION_SOURCE})
add_dependencies(velnor-rove velnor-rove-version)
target_compile_options(velnor-rove PRIVATE ${VELNOR_WARNINGS})
target_link_libraries(velnor-rove PRIVATE velnorrovecore velnormci velnorisig velnoristd velnorwire)

if(VELNOR_FUZZ)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # Coverage for the fuzzer in the code under test.
    target_compile_options(velnorrovecore PRIVATE -fsanitize=fuzzer-no-link)
  endif()
  add_subdirectory(${CMAKE_SOURCE_DIR}/fuzz ${CMAKE_BINARY_DIR}/fuzz)
endif()
