# quellora.scr, the Windows screen saver, and its tests under Wine.
#
# In the cross build (CMAKE_SYSTEM_NAME Windows, cmake/mingw-w64-x86_64.cmake)
# this makes quellora.scr and the test helpers. In the native build it runs
# that cross build as an external project in <build>/mingw and registers the
# end-to-end tests, which run the saver under Wine in Xvfb (label "wine").

if(WIN32)
  enable_language(RC)

  # The pictures of assets/ (cmake/assets.cmake) go into the resources as
  # well, by their names in upper case.
  set(_quellora_bmps "")
  foreach(_name IN LISTS QUELLORA_ASSET_NAMES)
    list(APPEND _quellora_bmps ${CMAKE_SOURCE_DIR}/assets/${_name}.bmp)
  endforeach()
  set(QUELLORA_RC_BITMAPS "")
  foreach(_bmp IN LISTS _quellora_bmps)
    get_filename_component(_name ${_bmp} NAME_WE)
    string(TOUPPER ${_name} _name)
    string(APPEND QUELLORA_RC_BITMAPS "${_name} BITMAP \"${_bmp}\"\n")
  endforeach()
  set(QUELLORA_RC_ICON ${CMAKE_SOURCE_DIR}/platform/win32/quellora.ico)
  set(QUELLORA_RC_MANIFEST ${CMAKE_SOURCE_DIR}/platform/win32/quellora.manifest)
  configure_file(${CMAKE_SOURCE_DIR}/platform/win32/quellora.rc.in ${CMAKE_CURRENT_BINARY_DIR}/quellora.rc @ONLY)
  set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/quellora.rc APPEND PROPERTY OBJECT_DEPENDS
               ${_quellora_bmps} ${QUELLORA_RC_ICON} ${QUELLORA_RC_MANIFEST})

  add_executable(quellora_scr WIN32
    platform/win32/main.cpp
    platform/win32/win32_platform.cpp
    platform/win32/win32_window.cpp
    platform/win32/win32_blit.cpp
    platform/win32/win32_keys.cpp
    platform/win32/win32_about.cpp
    ${CMAKE_CURRENT_BINARY_DIR}/quellora.rc
  )
  set_target_properties(quellora_scr PROPERTIES
    OUTPUT_NAME quellora SUFFIX .scr
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  target_compile_definitions(quellora_scr PRIVATE UNICODE _UNICODE)
  target_link_options(quellora_scr PRIVATE -municode $<$<CONFIG:Release,MinSizeRel>:-s>)
  target_link_libraries(quellora_scr PRIVATE quellora_core comctl32 winmm imm32 ntdll)

  if(QUELLORA_TESTS)
    # Stand-ins for the host: the preview and configure host, MPR.DLL and
    # PASSWORD.CPL; and a host that runs the preview in its own process.
    set(_helpers ${CMAKE_BINARY_DIR}/wine-helpers)
    add_executable(quellora_test_preview tests/wine/test_preview.cpp
      platform/win32/win32_platform.cpp
      platform/win32/win32_window.cpp
      platform/win32/win32_blit.cpp
      platform/win32/win32_keys.cpp
      platform/win32/win32_about.cpp)
    set_target_properties(quellora_test_preview PROPERTIES OUTPUT_NAME test_preview RUNTIME_OUTPUT_DIRECTORY ${_helpers})
    target_compile_definitions(quellora_test_preview PRIVATE UNICODE _UNICODE)
    target_link_options(quellora_test_preview PRIVATE -municode)
    target_link_libraries(quellora_test_preview PRIVATE quellora_core comctl32 winmm imm32 ntdll)

    add_executable(quellora_test_host tests/wine/test_host.cpp)
    set_target_properties(quellora_test_host PROPERTIES OUTPUT_NAME test_host RUNTIME_OUTPUT_DIRECTORY ${_helpers})
    target_link_options(quellora_test_host PRIVATE -municode)
    target_link_libraries(quellora_test_host PRIVATE gdi32 version)

    add_library(quellora_test_mpr SHARED tests/wine/test_mpr.cpp)
    set_target_properties(quellora_test_mpr PROPERTIES OUTPUT_NAME mpr PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${_helpers})

    add_library(quellora_test_password SHARED tests/wine/test_password.cpp)
    set_target_properties(quellora_test_password PROPERTIES
      OUTPUT_NAME password PREFIX "" SUFFIX .cpl RUNTIME_OUTPUT_DIRECTORY ${_helpers})
  endif()
  return()
endif()

# --- the native build: the cross build, and the tests under Wine ----------

# The sanitizer and fuzzing builds check the core; the Windows build and its
# tests belong to the plain native build.
if(QUELLORA_SANITIZE OR QUELLORA_FUZZ)
  return()
endif()

find_program(QUELLORA_MINGW_CXX x86_64-w64-mingw32-g++)
find_program(QUELLORA_MINGW_WINDRES x86_64-w64-mingw32-windres)
if(NOT QUELLORA_MINGW_CXX OR NOT QUELLORA_MINGW_WINDRES)
  message(STATUS "quellora.scr is not built: the MinGW-w64 cross compiler (g++-mingw-w64-x86-64) is missing")
  return()
endif()

include(ExternalProject)
set(QUELLORA_MINGW_DIR ${CMAKE_BINARY_DIR}/mingw)
ExternalProject_Add(quellora_mingw
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${QUELLORA_MINGW_DIR}
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DQUELLORA_TESTS=${QUELLORA_TESTS}
    -DQUELLORA_BENCH=OFF
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${QUELLORA_MINGW_DIR}/quellora.scr
)

if(NOT QUELLORA_TESTS)
  return()
endif()

# The tests need Wine, Xvfb, the X tools and a Python with numpy and PIL.
set(_missing "")
foreach(_tool wine wineboot wineserver Xvfb xdotool xwd)
  string(TOUPPER "QUELLORA_${_tool}" _var)
  find_program(${_var} ${_tool})
  if(NOT ${_var})
    list(APPEND _missing ${_tool})
  endif()
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/test_python.cmake)
quellora_find_test_python(QUELLORA_WINE_PYTHON "numpy, PIL" "Python 3 with numpy and PIL, for the tests under Wine")
if(NOT QUELLORA_WINE_PYTHON)
  list(APPEND _missing "python3 with numpy and PIL")
endif()
if(_missing)
  list(JOIN _missing ", " _missing)
  message(STATUS "Wine end-to-end tests skipped: missing ${_missing}")
  return()
endif()

set(_script ${CMAKE_SOURCE_DIR}/tests/wine/wine_e2e.py)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_script})
execute_process(COMMAND ${QUELLORA_WINE_PYTHON} ${_script} list OUTPUT_VARIABLE _cases
                OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "tests/wine/wine_e2e.py list failed")
endif()

set(_work ${CMAKE_BINARY_DIR}/wine-tests)
# One Wine prefix made once per build tree; each test copies it.
add_test(NAME wine_prefix COMMAND ${QUELLORA_WINE_PYTHON} ${_script} prefix --work ${_work})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix LABELS wine TIMEOUT 300)
foreach(_case IN LISTS _cases)
  add_test(NAME wine_${_case}
    COMMAND ${QUELLORA_WINE_PYTHON} ${_script} ${_case} --work ${_work}
      --scr ${QUELLORA_MINGW_DIR}/quellora.scr --helpers ${QUELLORA_MINGW_DIR}/wine-helpers
      --render $<TARGET_FILE:quellora-render>)
  set_tests_properties(wine_${_case} PROPERTIES FIXTURES_REQUIRED wine_prefix LABELS wine TIMEOUT 300)
endforeach()
message(STATUS "Wine end-to-end tests: wine_prefix and ${_cases}")
