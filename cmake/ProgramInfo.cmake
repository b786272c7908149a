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

# The input count as the protocol sets it, for the documents that name the inputs.
set(protocolHeader ${PROJECT_SOURCE_DIR}/src/link/Protocol.h)
file(STRINGS ${protocolHeader} inputCountLine REGEX "^inline constexpr int InputCount = [0-9]+;")
string(REGEX MATCH "InputCount = ([0-9]+)" inputCountLine "${inputCountLine}")
set(LC_INPUT_COUNT "${CMAKE_MATCH_1}")
if(NOT LC_INPUT_COUNT MATCHES "^[1-9]$")
  message(FATAL_ERROR "src/link/Protocol.h sets no InputCount of 1 to 9")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${protocolHeader})
