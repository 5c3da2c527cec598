# cmake -DASSET_DIR=<dir> -DASSET_NAMES=<a,b,...> -DOUTPUT=<file.cpp> -P embed_assets.cmake
#
# Writes a C++ source holding each <dir>/<name>.bmp byte for byte, and
# EmbeddedAsset(i), the file of the i-th name.

string(REPLACE "," ";" ASSET_NAMES "${ASSET_NAMES}")
set(_code "// Written by cmake/embed_assets.cmake from assets/; do not edit.\n")
string(APPEND _code "#include <cstdint>\n#include <span>\n\nnamespace quellora {\n\nnamespace {\n")
set(_cases "")
set(_index 0)
foreach(_name IN LISTS ASSET_NAMES)
  file(READ ${ASSET_DIR}/${_name}.bmp _hex HEX)
  string(LENGTH "${_hex}" _length)
  if(_length EQUAL 0)
    message(FATAL_ERROR "${ASSET_DIR}/${_name}.bmp is empty")
  endif()
  # Two hex digits a byte, 24 bytes a line.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){24})" "\\1\n" _bytes "${_bytes}")
  string(APPEND _code "\n// ${_name}.bmp\nconst uint8_t k_${_name}[] = {\n${_bytes}\n};\n")
  string(APPEND _cases "    case ${_index}: return k_${_name};\n")
  math(EXPR _index "${_index} + 1")
endforeach()
string(APPEND _code "\n}  // namespace\n\nstd::span<const uint8_t> EmbeddedAsset(int index) {\n    switch (index) {\n")
string(APPEND _code "${_cases}    default: return {};\n    }\n}\n\n}  // namespace quellora\n")

file(WRITE ${OUTPUT} "${_code}")
