# Usage: cmake -DREADME=<README.md> -DEXAMPLE=<file> -P check_readme.cmake
# Fails unless README.md contains the example file verbatim.
file(READ ${README} readme)
file(READ ${EXAMPLE} example)
string(FIND "${readme}" "${example}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "README.md does not show ${EXAMPLE} as it stands")
endif()
