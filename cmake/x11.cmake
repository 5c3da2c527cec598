# The native Linux program `quellora` on Xlib (Xft for the About dialog's
# text) and its tests under Xvfb; cmake/package.cmake installs it.
if(NOT WIN32)
  find_package(X11 REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(XFT REQUIRED IMPORTED_TARGET xft fontconfig)
  if(NOT X11_Xrandr_FOUND OR NOT X11_Xext_FOUND)
    message(FATAL_ERROR "quellora needs the XRandR and Xext development files (libxrandr-dev, libxext-dev)")
  endif()
  include(GNUInstallDirs)

  add_library(quellora_x11 STATIC
    platform/x11/bitmap_pack.cpp
    platform/x11/command_line.cpp
    platform/x11/settings_file.cpp
    platform/x11/x11_about.cpp
    platform/x11/x11_keymap.cpp
    platform/x11/x11_platform.cpp
    platform/x11/x11_window.cpp
  )
  target_link_libraries(quellora_x11 PUBLIC quellora_core X11::X11 X11::Xrandr X11::Xext PkgConfig::XFT)

  add_executable(quellora platform/x11/main.cpp)
  target_link_libraries(quellora PRIVATE quellora_x11)
  set_target_properties(quellora PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

  if(QUELLORA_TESTS)
    # Pieces that need no display: the command line, the settings file and
    # the packing of frames into the server's bitmap layout.
    add_executable(test_x11 tests/x11/test_x11.cpp)
    target_link_libraries(test_x11 PRIVATE quellora_x11 GTest::gtest_main)
    add_test(NAME test_x11 COMMAND test_x11)
    set_tests_properties(test_x11 PROPERTIES LABELS "unit;x11")

    # End to end, each case on an Xvfb of its own.
    add_executable(xhelper tests/x11/xhelper.c)
    target_link_libraries(xhelper PRIVATE X11::X11 X11::Xrandr)
    # Debian's Python, where python3-numpy lives, before any other on PATH.
    include(${CMAKE_CURRENT_LIST_DIR}/test_python.cmake)
    quellora_find_test_python(QUELLORA_X11_PYTHON "numpy" "Python 3 with numpy, for the tests under Xvfb")
    if(NOT QUELLORA_X11_PYTHON)
      message(FATAL_ERROR "the X11 tests need python3 with numpy (python3-numpy)")
    endif()

    set(renders ${CMAKE_CURRENT_BINARY_DIR}/x11_renders)
    add_test(NAME x11_renders COMMAND $<TARGET_FILE:quellora-render> --steps 0:899 --out ${renders})
    set_tests_properties(x11_renders PROPERTIES LABELS x11 FIXTURES_SETUP x11_renders)

    set(cases saver_picture saver_monitors saver_moves saver_space saver_two hack_window hack_root daemon preview about errors)
    foreach(case ${cases})
      add_test(NAME x11_${case} COMMAND ${QUELLORA_X11_PYTHON} ${CMAKE_SOURCE_DIR}/tests/x11/x11_e2e.py
        --quellora $<TARGET_FILE:quellora> --helper $<TARGET_FILE:xhelper> --renders ${renders}
        --sample ${CMAKE_SOURCE_DIR}/assets/sample.bmp --render $<TARGET_FILE:quellora-render> --work ${CMAKE_CURRENT_BINARY_DIR}/x11_work/${case}
        ${case})
      set_tests_properties(x11_${case} PROPERTIES LABELS x11 TIMEOUT 180 FIXTURES_REQUIRED x11_renders
        SKIP_RETURN_CODE 77)
    endforeach()
  endif()
endif()
