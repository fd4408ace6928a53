# Writes the version source of velnor-rove: the version record registered
# before main and the six version marker texts, all from the same values.
# Run at build time:
#   cmake -DOUT=<file> -DCOMPILER=<banner> -DMAJOR=.. -DMINOR=.. -DBUILD=.. -DREVISION=.. -P version.cmake
# with the numbers of the project() version (major.minor.build.revision).
foreach(part MAJOR MINOR BUILD REVISION)
  if(NOT DEFINED ${part} OR "${${part}}" STREQUAL "")
    message(FATAL_ERROR "version.cmake: -D${part}= is missing")
  endif()
endforeach()
set(EXTRA "")

string(TIMESTAMP BUILD_TIME "%Y/%m/%d %H:%M:%S")
execute_process(COMMAND uname -s -n -r -v -m -o OUTPUT_VARIABLE MACHINE OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND id -un OUTPUT_VARIABLE USER_NAME OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT USER_NAME)
  set(USER_NAME "$ENV{USER}")
endif()

function(c_literal var value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  string(REPLACE "\n" " " value "${value}")
  set(${var} "\"${value}\"" PARENT_SCOPE)
endfunction()

c_literal(C_COMPILER "${COMPILER}")
c_literal(C_MACHINE "${MACHINE}")
c_literal(C_TIME "${BUILD_TIME}")
c_literal(C_USER "${USER_NAME}")
c_literal(C_EXTRA "${EXTRA}")

set(content "// Generated at build time by src/version.cmake; do not edit.
#include \"istd/verinfo.h\"

#define ROVE_EXTRA ${C_EXTRA}
#define ROVE_COMPILER ${C_COMPILER}
#define ROVE_MACHINE ${C_MACHINE}
#define ROVE_TIME ${C_TIME}
#define ROVE_USER ${C_USER}

namespace {

// Read by no code: they let `strings` tell which build a program file is.
// One array keeps them in this order; it is not const, so the debug
// information does not carry a second copy of the texts.
[[gnu::used]] char c_versionMarkers[] =
    \"$MCIVersion: ${MAJOR}.${MINOR}-${BUILD}-\" ROVE_EXTRA \"-r${REVISION} $\\0\"
    \"$MCISvnRevision: ${REVISION} $\\0\"
    \"$MCIBuildCompiler: \" ROVE_COMPILER \" $\\0\"
    \"$MCIBuildMachine: \" ROVE_MACHINE \" $\\0\"
    \"$MCIBuildTime: \" ROVE_TIME \" $\\0\"
    \"$MCIBuildUser: \" ROVE_USER \" $\";

struct VersionRegistration {
    VersionRegistration() {
        istd::VerInfo::Init(${MAJOR}, ${MINOR}, ${BUILD}, ${REVISION}, ROVE_EXTRA, ROVE_COMPILER, ROVE_TIME,
                            ROVE_MACHINE, ROVE_USER);
    }
};

// Before every other static initialiser of the program.
__attribute__((init_priority(101))) VersionRegistration g_versionRegistration;

}  // namespace
")
file(WRITE "${OUT}.tmp" "${content}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
