# 32-bit ARM (hard float) with NEON: the same cross build as arm-linux-gnueabihf.cmake,
# with the NEON unit enabled so the NEON kernel variants are compiled (__ARM_NEON).
include(${CMAKE_CURRENT_LIST_DIR}/arm-linux-gnueabihf.cmake)
set(CMAKE_C_FLAGS_INIT "-mfpu=neon")
set(CMAKE_CXX_FLAGS_INIT "-mfpu=neon")
