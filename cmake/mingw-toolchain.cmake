# Cross build for Windows with MinGW-w64.
# QM_ARCH selects the target: i686 (the shipped 32-bit build) or x86_64.
if(NOT QM_ARCH)
  set(QM_ARCH i686)
endif()
set(QM_ARCH "${QM_ARCH}" CACHE STRING "MinGW-w64 target: i686 or x86_64")

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QM_ARCH})
set(QM_TRIPLE ${QM_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER   ${QM_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QM_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${QM_TRIPLE}-windres)
set(QM_WIDL            ${QM_TRIPLE}-widl)

set(CMAKE_FIND_ROOT_PATH /usr/${QM_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
