# Cross-compiles the kit for 64-bit Windows with Debian's clang, against the
# same MinGW-w64 runtime and C++ library (the posix flavour of the installed
# MinGW GCC's headers and libraries) as the main toolchain. A second
# compiler shows what only GCC accepts.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER   clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET   x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_RC_COMPILER  x86_64-w64-mingw32-windres)

# The installed MinGW GCC's own folder (12-posix on Debian 12, 14-posix on
# Debian 13), as that compiler names it.
execute_process(COMMAND x86_64-w64-mingw32-g++-posix -print-libgcc-file-name
    OUTPUT_VARIABLE KIT_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE KIT_LIBGCC_RESULT)
if(KIT_LIBGCC_RESULT EQUAL 0 AND EXISTS "${KIT_LIBGCC}")
    get_filename_component(KIT_GCC_DIR "${KIT_LIBGCC}" DIRECTORY)
else()
    file(GLOB KIT_GCC_DIRS /usr/lib/gcc/x86_64-w64-mingw32/*-posix)
    list(SORT KIT_GCC_DIRS COMPARE NATURAL)
    list(POP_BACK KIT_GCC_DIRS KIT_GCC_DIR)
endif()
if(NOT EXISTS "${KIT_GCC_DIR}/include/c++")
    message(FATAL_ERROR "No MinGW GCC (posix) C++ headers found under /usr/lib/gcc/x86_64-w64-mingw32")
endif()
set(CMAKE_CXX_FLAGS_INIT
    "-nostdinc++ -isystem ${KIT_GCC_DIR}/include/c++ -isystem ${KIT_GCC_DIR}/include/c++/x86_64-w64-mingw32 -isystem ${KIT_GCC_DIR}/include/c++/backward")
# GCC's libraries are where the driver does not look by itself; the posix
# flavour of libstdc++ and libgcc needs winpthreads, which -pthread puts in
# the driver's own group of runtime libraries.
foreach(kind EXE SHARED MODULE)
    # Link lines also carry the compile flags; -nostdinc++ means nothing there.
    set(CMAKE_${kind}_LINKER_FLAGS_INIT "-L${KIT_GCC_DIR} -pthread -Wno-unused-command-line-argument")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
