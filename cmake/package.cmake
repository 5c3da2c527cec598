# The packages, all with the version of project():
#   - the install rules of the Linux program (an XScreenSaver hack), with
#     destinations under CMAKE_INSTALL_PREFIX; a plain `cmake --install`
#     strips the program as `cmake --install --strip` would;
#   - their tests (label "package").
if(WIN32)
  return()  # the cross build makes quellora.scr; its packages are made here, in the native build
endif()

include(GNUInstallDirs)

# --- the version, where a user sees it ------------------------------------

# `quellora --version`; the Windows resources take it in cmake/win32.cmake
# (platform/win32/quellora.rc.in).
target_compile_definitions(quellora PRIVATE QUELLORA_VERSION="${PROJECT_VERSION}")

# The manual page and the desktop entry name the version and the installed paths.
set(_quellora_man ${CMAKE_CURRENT_BINARY_DIR}/quellora.6x)
configure_file(${CMAKE_SOURCE_DIR}/platform/x11/quellora.6x.in ${_quellora_man} @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/platform/x11/quellora.desktop.in ${CMAKE_CURRENT_BINARY_DIR}/quellora.desktop @ONLY)

# Compressed as Debian wants them: gzip -9n (no name, no time stamp).
set(_quellora_gz "")
foreach(_file ${_quellora_man})
  get_filename_component(_name ${_file} NAME)
  set(_gz ${CMAKE_CURRENT_BINARY_DIR}/doc/${_name}.gz)
  add_custom_command(OUTPUT ${_gz}
    COMMAND sh -c "gzip -9n < \"$1\" > \"$2\"" sh ${_file} ${_gz}
    DEPENDS ${_file}
    COMMENT "Compressing ${_name}"
    VERBATIM)
  list(APPEND _quellora_gz ${_gz})
endforeach()
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/doc)
add_custom_target(quellora_docs ALL DEPENDS ${_quellora_gz})
list(GET _quellora_gz 0 _quellora_man_gz)

# --- install rules ----------------------------------------------------------

# Stripped by every install, `cmake --install` without --strip and CPack too:
# this runs in cmake_install.cmake before the program's own rule.
install(CODE "set(CMAKE_INSTALL_DO_STRIP TRUE)")
install(TARGETS quellora RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/xscreensaver)
install(FILES platform/x11/quellora.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/xscreensaver/config)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quellora.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications/screensavers)
install(FILES ${_quellora_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

# --- tests ------------------------------------------------------------------

if(NOT QUELLORA_TESTS OR QUELLORA_SANITIZE OR QUELLORA_FUZZ)
  return()
endif()

set(_script ${CMAKE_SOURCE_DIR}/tests/package/package_e2e.py)
set(_work ${CMAKE_BINARY_DIR}/package-tests)
set(_run ${QUELLORA_X11_PYTHON} ${_script})

add_test(NAME package_install COMMAND ${_run} install --cmake ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR}
  --work ${_work} --version ${PROJECT_VERSION})
set_tests_properties(package_install PROPERTIES LABELS package)
