# What a Windows build made on Linux needs beyond the toolchain file: Boost's headers without the
# Linux C library's headers beside them, and Wine to run what it builds.

# Boost is header-only here; its headers sit in /usr/include with glibc's, which must not reach
# the MinGW compiler, so a folder of its own holds a link to them alone.
set(LUMIVEX_BOOST_HEADERS /usr/include/boost CACHE PATH "Boost's header folder")
if(NOT EXISTS ${LUMIVEX_BOOST_HEADERS}/version.hpp)
    message(FATAL_ERROR "Boost's headers are not in ${LUMIVEX_BOOST_HEADERS} (libboost-dev)")
endif()
set(ov_boost_include ${CMAKE_BINARY_DIR}/boost-include)
file(MAKE_DIRECTORY ${ov_boost_include})
file(CREATE_LINK ${LUMIVEX_BOOST_HEADERS} ${ov_boost_include}/boost SYMBOLIC)
add_library(Boost::headers INTERFACE IMPORTED)
target_include_directories(Boost::headers SYSTEM INTERFACE ${ov_boost_include})
# Boost 1.74's Windows unlink (behind shared_memory_object::remove) searches the path it renames
# through an array declared one element long. From -O2 on, GCC trusts that bound, the search
# stops at once, the rename target loses its folder and Windows refuses it: the channel's
# objects stay behind under their names, and the next session's filter module cannot create
# them again. Without the bound-derived loop limits the search reads the whole path.
target_compile_options(Boost::headers INTERFACE -fno-aggressive-loop-optimizations)

# Every test and every program that ctest runs goes through Wine, with a prefix of this build's.
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tools/wine-run.sh ${CMAKE_BINARY_DIR})

# Qt's Windows builds define these for their users (Qt6::Platform on win32-g++ adds most).
add_compile_definitions(UNICODE _UNICODE)

# A Windows program finds its platform plugin in "platforms" beside it, as a deployed
# application does; the programs a test starts get no plugin path of the test's.
file(COPY ${LUMIVEX_WINDOWS_DEPS}/plugins/platforms DESTINATION ${CMAKE_BINARY_DIR}/bin)

# The host's rcc compresses with zstd, which the Qt built for Windows here lacks (its resources
# would then refer to a zstd feature its QtCore does not export); zlib serves instead.
list(APPEND CMAKE_AUTORCC_OPTIONS --no-zstd)
