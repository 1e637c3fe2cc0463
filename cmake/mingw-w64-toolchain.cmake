# Cross-compiling for 64-bit Windows with MinGW-w64's POSIX-thread compilers, against the Qt and
# OpenCV that tools/windows-deps.sh builds into the cache.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_ov_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_ov_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_ov_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_ov_triple}-windres)

# The dependency prefix: given by the caller, or asked of the script that builds it.
if(NOT LUMIVEX_WINDOWS_DEPS)
    execute_process(COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/../tools/windows-deps.sh" --prefix
                    OUTPUT_VARIABLE LUMIVEX_WINDOWS_DEPS OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)
endif()
set(LUMIVEX_WINDOWS_DEPS "${LUMIVEX_WINDOWS_DEPS}" CACHE PATH "Windows dependencies (tools/windows-deps.sh)")
# Try-compiles run in projects of their own and need the prefix passed on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LUMIVEX_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${_ov_triple} "${LUMIVEX_WINDOWS_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
