# Cross build for 64-bit Windows with MinGW-w64 GCC, tested under wine:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The posix-threads flavour of the compilers: it has std::thread, std::mutex
# and the rest of <thread> (the win32 flavour has none of them in GCC 12).
# Its long double is the x87 80-bit type with a 64-bit significand, which the
# arithmetic of the tool rests on; MSVC has no such type.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OSTRIVALE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${OSTRIVALE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OSTRIVALE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${OSTRIVALE_MINGW_TRIPLET}-windres)

# Headers and libraries come from the MinGW tree only; programs (the build
# tools) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${OSTRIVALE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in statically: libgcc, libstdc++ and winpthread, so that
# each .exe needs no DLL beyond those every Windows has (KERNEL32, USER32,
# msvcrt). Check with: x86_64-w64-mingw32-objdump -p x.exe | grep "DLL Name"
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs built here run under wine: ctest and custom commands put this in
# front of them. No display is needed for console programs. WINEDEBUG=-all
# keeps wine's own diagnostics out of the test output; the prefix (wine's
# private C: drive and registry) lives in the build folder, so a build never
# touches ~/.wine and a fresh build folder starts a fresh prefix.
find_program(OSTRIVALE_WINE wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_COMMAND} -E env WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix
    ${OSTRIVALE_WINE})
