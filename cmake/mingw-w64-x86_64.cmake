# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the posix thread
# model: packages g++-mingw-w64-x86-64-posix and binutils-mingw-w64-x86-64).
#
# The programs come out linked statically, with the C and C++ runtime and the
# thread library inside, so that noksu.exe runs on its own on any Windows.
#
#   cmake -S . -B build-windows \
#         --toolchain cmake/mingw-w64-x86_64.cmake \
#         -DwxWidgets_CONFIG_EXECUTABLE=/var/cache/noksu/wxmsw/bin/wx-config
#
# or, the same with the settings in CMakePresets.json: cmake --preset windows

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NOKSU_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${NOKSU_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NOKSU_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${NOKSU_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${NOKSU_MINGW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${NOKSU_MINGW_TRIPLET}-ranlib CACHE FILEPATH "")

# Headers and libraries come from the target's tree; programs (wx-config among
# them) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${NOKSU_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Release builds leave the symbol table out: it is half of the executable.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_EXE_LINKER_FLAGS_MINSIZEREL_INIT "-s")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")


# wxWidgets for Windows is a tree of its own beside the compiler's: the one
# whose wx-config is given. Its headers are found there and nowhere else.
if(wxWidgets_CONFIG_EXECUTABLE)
    execute_process(
        COMMAND sh "${wxWidgets_CONFIG_EXECUTABLE}" --prefix
        OUTPUT_VARIABLE NOKSU_WX_PREFIX
        OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE NOKSU_WX_CONFIG_RESULT)
    if(NOKSU_WX_CONFIG_RESULT EQUAL 0 AND IS_DIRECTORY "${NOKSU_WX_PREFIX}")
        list(APPEND CMAKE_FIND_ROOT_PATH "${NOKSU_WX_PREFIX}")
    endif()
endif()
