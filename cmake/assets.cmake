# The pictures: the BMP codec, the pattern generator and the four files of
# assets/, built into quellora_assets as byte arrays. The arrays are written by
# a CMake script, so a cross build runs no program of its own on the host.

# In the order of enum Asset (moire/assets.h).
set(QUELLORA_ASSET_NAMES pattern1 pattern2 title sample)
set(_quellora_asset_bmps "")
foreach(_name IN LISTS QUELLORA_ASSET_NAMES)
  list(APPEND _quellora_asset_bmps ${CMAKE_SOURCE_DIR}/assets/${_name}.bmp)
endforeach()

string(REPLACE ";" "," _quellora_asset_list "${QUELLORA_ASSET_NAMES}")
set(_quellora_asset_data ${CMAKE_CURRENT_BINARY_DIR}/generated/asset_data.cpp)
add_custom_command(
  OUTPUT ${_quellora_asset_data}
  COMMAND ${CMAKE_COMMAND} -DASSET_DIR=${CMAKE_SOURCE_DIR}/assets -DASSET_NAMES=${_quellora_asset_list}
          -DOUTPUT=${_quellora_asset_data} -P ${CMAKE_SOURCE_DIR}/cmake/embed_assets.cmake
  DEPENDS ${_quellora_asset_bmps} ${CMAKE_SOURCE_DIR}/cmake/embed_assets.cmake
  COMMENT "Embedding the pictures of assets/"
  VERBATIM)

# The codec and the generator, which the asset generator also needs before
# any asset exists.
set(QUELLORA_PICTURE_SOURCES moire/bitmap1.cpp moire/bmp.cpp moire/patterns.cpp)

add_library(quellora_assets STATIC ${QUELLORA_PICTURE_SOURCES} moire/assets.cpp ${_quellora_asset_data})
target_include_directories(quellora_assets PUBLIC ${CMAKE_SOURCE_DIR})

if(NOT WIN32)
  # quellora-assets OUTDIR: regenerates the four pictures (tools/make_assets.cpp).
  find_package(Freetype)
  if(Freetype_FOUND)
    add_executable(quellora-assets tools/make_assets.cpp ${QUELLORA_PICTURE_SOURCES})
    target_include_directories(quellora-assets PRIVATE ${CMAKE_SOURCE_DIR})
    target_link_libraries(quellora-assets PRIVATE Freetype::Freetype)
  else()
    message(STATUS "quellora-assets is not built: FreeType (libfreetype-dev) is missing")
  endif()
endif()

if(QUELLORA_FUZZ)
  # The codec is compiled into the fuzzer itself so that libFuzzer sees its coverage.
  add_executable(fuzz_bmp tests/fuzz_bmp.cpp moire/bitmap1.cpp moire/bmp.cpp)
  target_include_directories(fuzz_bmp PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(fuzz_bmp PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
  target_link_options(fuzz_bmp PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
