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
