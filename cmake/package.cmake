# The packages, all with the version of project():
#   - the install rules of the Linux program (an XScreenSaver hack), with
#     destinations under CMAKE_INSTALL_PREFIX; a plain `cmake --install`
#     strips the program as `cmake --install --strip` would;
#   - quellora_<version>_<arch>.deb, made by CPack;
#   - quellora-<version>-win64.zip and quellora-<version>-setup.exe (NSIS)
#     around the cross-built quellora.scr;
#   - their tests are in tests/package (label "package"; the setup
#     program's is a Wine case).
# The normal build makes the three packages in the build folder; the target
# `packages` makes just them.
if(WIN32)
  return()  # the cross build makes quellora.scr; its packages are made here, in the native build
endif()

include(GNUInstallDirs)
set(QUELLORA_MAINTAINER "Orvandel <quellora@orvandel.example>")

# --- the version, where a user sees it ------------------------------------

# `quellora --version`; the Windows resources take it in cmake/win32.cmake
# (platform/win32/quellora.rc.in).
target_compile_definitions(quellora PRIVATE QUELLORA_VERSION="${PROJECT_VERSION}")

# The debian/changelog of a native package names the version it describes.
file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/debian/changelog _quellora_changelog_top LIMIT_COUNT 1)
if(NOT _quellora_changelog_top MATCHES "^quellora \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog starts with '${_quellora_changelog_top}': "
                      "add an entry for version ${PROJECT_VERSION}")
endif()

# The manual page and the desktop entry name the version and the installed paths.
set(_quellora_man ${CMAKE_CURRENT_BINARY_DIR}/quellora.6x)
configure_file(${CMAKE_SOURCE_DIR}/platform/x11/quellora.6x.in ${_quellora_man} @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/platform/x11/quellora.desktop.in ${CMAKE_CURRENT_BINARY_DIR}/quellora.desktop @ONLY)

# Compressed as Debian wants them: gzip -9n (no name, no time stamp).
set(_quellora_gz "")
foreach(_file ${_quellora_man} ${CMAKE_SOURCE_DIR}/packaging/debian/changelog)
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
list(GET _quellora_gz 1 _quellora_changelog_gz)

# --- install rules ----------------------------------------------------------

# Debian's hardening of the program the packages ship (lintian looks for it):
# a read-only GOT once started, and checked string and memory functions.
target_link_options(quellora PRIVATE LINKER:-z,relro,-z,now)
foreach(_target quellora quellora_x11)
  target_compile_definitions(${_target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
endforeach()

# Stripped by every install, `cmake --install` without --strip and CPack too:
# this runs in cmake_install.cmake before the program's own rule.
install(CODE "set(CMAKE_INSTALL_DO_STRIP TRUE)")
install(TARGETS quellora RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/xscreensaver)
install(FILES platform/x11/quellora.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/xscreensaver/config)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quellora.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications/screensavers)
install(FILES ${_quellora_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES LICENSE packaging/debian/copyright ${_quellora_changelog_gz} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# --- the Debian package -----------------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quellora)
set(CPACK_PACKAGE_VENDOR Orvandel)
set(CPACK_PACKAGE_CONTACT ${QUELLORA_MAINTAINER})
set(CPACK_PACKAGE_HOMEPAGE_URL https://orvandel.example/quellora/)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "moire screen saver for X11 and XScreenSaver")
set(CPACK_PACKAGE_DESCRIPTION
  "Two 1-bit pictures of octagonal band patterns are combined pixel by pixel
with exclusive-or and slide past each other in a 1024x768 viewport on black;
sixteen-pointed rosettes flare and fade where the bands meet.
.
The program runs as an XScreenSaver hack (choose Quellora in
xscreensaver-settings) and on its own, full screen.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUELLORA_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xscreensaver)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)

# The normal build makes the package (CPack runs no build of its own with Ninja).
add_custom_target(packages)
find_program(QUELLORA_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(QUELLORA_DPKG dpkg)
if(QUELLORA_SANITIZE OR QUELLORA_FUZZ)
  # Those builds check the code; they package nothing.
elseif(QUELLORA_DPKG_SHLIBDEPS AND QUELLORA_DPKG)
  execute_process(COMMAND ${QUELLORA_DPKG} --print-architecture OUTPUT_VARIABLE _quellora_arch
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(QUELLORA_DEB ${CMAKE_BINARY_DIR}/quellora_${PROJECT_VERSION}_${_quellora_arch}.deb)
  add_custom_command(OUTPUT ${QUELLORA_DEB}
    COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DEPENDS quellora quellora_docs ${_quellora_gz} ${CMAKE_CURRENT_BINARY_DIR}/quellora.desktop
      ${CMAKE_SOURCE_DIR}/platform/x11/quellora.xml ${CMAKE_SOURCE_DIR}/LICENSE
      ${CMAKE_SOURCE_DIR}/packaging/debian/copyright ${CMAKE_BINARY_DIR}/CPackConfig.cmake
      ${CMAKE_BINARY_DIR}/cmake_install.cmake
    COMMENT "Making quellora_${PROJECT_VERSION}_${_quellora_arch}.deb with CPack"
    VERBATIM)
  add_custom_target(quellora_deb ALL DEPENDS ${QUELLORA_DEB})
  add_dependencies(packages quellora_deb)
else()
  message(STATUS "The Debian package is not made: dpkg-shlibdeps (dpkg-dev) is missing")
endif()

# --- the Windows downloads, beside quellora.scr -----------------------------

if(TARGET quellora_mingw)
  set(_quellora_scr ${QUELLORA_MINGW_DIR}/quellora.scr)
  set(_quellora_win64 ${CMAKE_CURRENT_BINARY_DIR}/win64)
  # Text files for Windows: CRLF line ends.
  configure_file(LICENSE ${_quellora_win64}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(packaging/windows/README.txt.in ${_quellora_win64}/README.txt @ONLY NEWLINE_STYLE CRLF)

  set(QUELLORA_WIN64_ZIP ${CMAKE_BINARY_DIR}/quellora-${PROJECT_VERSION}-win64.zip)
  add_custom_command(OUTPUT ${QUELLORA_WIN64_ZIP}
    COMMAND ${CMAKE_COMMAND} -E copy ${_quellora_scr} ${_quellora_win64}/quellora.scr
    COMMAND ${CMAKE_COMMAND} -E rm -f ${QUELLORA_WIN64_ZIP}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${QUELLORA_WIN64_ZIP} --format=zip quellora.scr README.txt LICENSE.txt
    WORKING_DIRECTORY ${_quellora_win64}
    DEPENDS quellora_mingw ${_quellora_scr} ${_quellora_win64}/LICENSE.txt ${_quellora_win64}/README.txt
    COMMENT "Making quellora-${PROJECT_VERSION}-win64.zip"
    VERBATIM)
  add_custom_target(quellora_win64_zip ALL DEPENDS ${QUELLORA_WIN64_ZIP})
  add_dependencies(packages quellora_win64_zip)

  find_program(QUELLORA_MAKENSIS makensis)
  if(QUELLORA_MAKENSIS)
    # The version as the four numbers of a Windows file version.
    string(REPLACE "." ";" _quellora_vi "${PROJECT_VERSION}.0.0.0")
    list(SUBLIST _quellora_vi 0 4 _quellora_vi)
    list(JOIN _quellora_vi "." _quellora_vi)
    set(QUELLORA_SETUP_EXE ${CMAKE_BINARY_DIR}/quellora-${PROJECT_VERSION}-setup.exe)
    set(_nsi ${CMAKE_SOURCE_DIR}/packaging/windows/quellora.nsi)
    set(_ico ${CMAKE_SOURCE_DIR}/platform/win32/quellora.ico)
    add_custom_command(OUTPUT ${QUELLORA_SETUP_EXE}
      COMMAND ${QUELLORA_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DVI_VERSION=${_quellora_vi}
        -DSCR=${_quellora_scr} -DLICENSE=${_quellora_win64}/LICENSE.txt -DICON=${_ico}
        -DOUTFILE=${QUELLORA_SETUP_EXE} ${_nsi}
      DEPENDS quellora_mingw ${_quellora_scr} ${_quellora_win64}/LICENSE.txt ${_nsi} ${_ico}
      COMMENT "Making quellora-${PROJECT_VERSION}-setup.exe with NSIS"
      VERBATIM)
    add_custom_target(quellora_setup ALL DEPENDS ${QUELLORA_SETUP_EXE})
    add_dependencies(packages quellora_setup)
  else()
    message(STATUS "quellora-${PROJECT_VERSION}-setup.exe is not made: NSIS (makensis) is missing")
  endif()
endif()
