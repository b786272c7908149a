# The header that carries the version, the application id and the icon sizes
# into the code, so that none of them is written twice.
# The caption shows the version as major.minor, the minor in two digits (1.0 -> 1.00).
set(minor "${PROJECT_VERSION_MINOR}")
string(LENGTH "${minor}" minorLength)
if(minorLength LESS 2)
  set(minor "0${minor}")
endif()
set(LC_CAPTION_VERSION "${PROJECT_VERSION_MAJOR}.${minor}")
list(LENGTH LC_PROGRAM_ICON_SIZES LC_PROGRAM_ICON_COUNT)
string(REPLACE ";" ", " LC_PROGRAM_ICON_LIST "${LC_PROGRAM_ICON_SIZES}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/ProgramInfo.h.in ${PROJECT_BINARY_DIR}/generated/ProgramInfo.h @ONLY)
include_directories(${PROJECT_BINARY_DIR}/generated)

# The device's input count, read from the protocol's header, so the man page,
# the AppStream record and the package's description follow the code.
set(protocolHeader ${PROJECT_SOURCE_DIR}/src/link/Protocol.h)
file(STRINGS ${protocolHeader} countLine REGEX "InputCount = [1-9];")
string(REGEX MATCH "[1-9]" LC_INPUT_COUNT "${countLine}")
if(NOT LC_INPUT_COUNT)
  message(FATAL_ERROR "no 'InputCount = N;' in ${protocolHeader}")
endif()
set(countWords one two three four five six seven eight nine)
math(EXPR countIndex "${LC_INPUT_COUNT} - 1")
list(GET countWords ${countIndex} LC_INPUT_COUNT_WORD)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${protocolHeader})
