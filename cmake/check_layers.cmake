# Usage: cmake -DROOT=<source root> -P check_layers.cmake
# Fails unless the library's includes flow one way: the frame driver (audio/frame/) may include
# the stages and the shared vocabulary; a stage (audio/parse/, audio/dequant/, audio/synth/)
# includes only its own folder and the shared vocabulary; the vocabulary (audio/*.h) includes
# only itself; video/ includes only itself.
file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/audio/*.h ${ROOT}/audio/*.cpp ${ROOT}/video/*.h
     ${ROOT}/video/*.cpp)
set(faults "")
foreach(source IN LISTS sources)
  get_filename_component(folder ${source} DIRECTORY)
  file(STRINGS ${ROOT}/${source} lines REGEX "^#include \"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
    if(included STREQUAL "mpfix.h")
      continue()
    endif()
    get_filename_component(includedFolder ${included} DIRECTORY)
    if(includedFolder STREQUAL folder)
      continue()  # the same folder
    endif()
    set(allowed FALSE)
    if(folder MATCHES "^audio/(parse|dequant|synth)$" AND includedFolder STREQUAL "audio")
      set(allowed TRUE)  # a stage on the shared vocabulary
    elseif(folder STREQUAL "audio/frame" AND includedFolder MATCHES "^audio(/(parse|dequant|synth))?$")
      set(allowed TRUE)  # the driver on the stages and the vocabulary
    endif()
    if(NOT allowed)
      list(APPEND faults "${source} includes ${included}")
    endif()
  endforeach()
endforeach()
if(faults)
  string(REPLACE ";" "\n    " lines "${faults}")
  message(FATAL_ERROR "includes against the flow of the pipeline:\n    ${lines}")
endif()
list(LENGTH sources count)
message(STATUS "includes flow one way in ${count} files")
