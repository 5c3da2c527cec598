# The packages, all with the version of project():
#   - the install rules of the Linux program (an XScreenSaver hack), with
#     destinations under CMAKE_INSTALL_PREFIX; a plain `cmake --install`
#     strips the program as `cmake --install --strip` would, and writes the
#     manual page and desktop entry with the paths of that install;
#   - quellora_<version>_<arch>.deb, made by CPack;
#   - quellora-<version>-win64.zip and quellora-<version>-setup.exe (NSIS)
#     around the cross-built quellora.scr;
#   - their tests are in tests/package (label "package"; the setup
#     program's is a Wine case).
# The target `packages` makes the three in the build folder; the plain build
# makes none of them (see below).
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

# The manual page to read from the build tree (`man -l build/native/quellora.6x`),
# with the configured paths; the installed one and the desktop entry are written
# by the install itself, with the paths of that install (cmake/install_texts.cmake).
configure_file(${CMAKE_SOURCE_DIR}/platform/x11/quellora.6x.in ${CMAKE_CURRENT_BINARY_DIR}/quellora.6x @ONLY)

# The changelog, compressed as Debian wants it: gzip -9n (no name, no time stamp).
set(_quellora_changelog_gz ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${_quellora_changelog_gz}
  COMMAND sh -c "gzip -9n < \"$1\" > \"$2\"" sh ${CMAKE_SOURCE_DIR}/packaging/debian/changelog ${_quellora_changelog_gz}
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/debian/changelog
  COMMENT "Compressing changelog"
  VERBATIM)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/doc)
add_custom_target(quellora_docs ALL DEPENDS ${_quellora_changelog_gz})

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
# The program in the hack folder, where XScreenSaver looks, and on the PATH
# under its name, for the commands a user types (and for idle daemons).
file(RELATIVE_PATH _quellora_link_target /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBEXECDIR}/xscreensaver/quellora)
install(CODE "
  set(_link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quellora\")
  message(STATUS \"Installing: \${_link} -> ${_quellora_link_target}\")
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  file(CREATE_LINK \"${_quellora_link_target}\" \"\${_link}\" SYMBOLIC)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quellora\")
")
install(FILES platform/x11/quellora.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/xscreensaver/config)
# The manual page and the desktop entry, with the paths of the install at hand.
install(CODE "
  set(QUELLORA_SOURCE_DIR \"${CMAKE_SOURCE_DIR}\")
  set(QUELLORA_WORK_DIR \"${CMAKE_CURRENT_BINARY_DIR}\")
  set(QUELLORA_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(QUELLORA_LIBEXECDIR \"${CMAKE_INSTALL_LIBEXECDIR}\")
  set(QUELLORA_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
  set(QUELLORA_MANDIR \"${CMAKE_INSTALL_MANDIR}\")
  set(QUELLORA_DOCDIR \"${CMAKE_INSTALL_DOCDIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  set(QUELLORA_SETTINGS_WINDOW $<TARGET_EXISTS:quellora-settings>)
  include(\"${CMAKE_SOURCE_DIR}/cmake/install_texts.cmake\")
")
install(FILES LICENSE packaging/debian/copyright ${_quellora_changelog_gz} DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Every install of this build is recorded, after all the other install rules
# of every folder have run, and `cmake --build BUILD --target uninstall`
# takes out what they wrote (cmake/install_record.cmake, cmake/uninstall.cmake).
function(_quellora_record_installs)
  install(CODE "
    set(QUELLORA_BUILD_DIR \"${CMAKE_BINARY_DIR}\")
    include(\"${CMAKE_SOURCE_DIR}/cmake/install_record.cmake\")
  ")
endfunction()
cmake_language(DEFER CALL _quellora_record_installs)
add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -DQUELLORA_BUILD_DIR=${CMAKE_BINARY_DIR} -P ${CMAKE_SOURCE_DIR}/cmake/uninstall.cmake
  COMMENT "Removing what the installs of this build wrote"
  VERBATIM)

# The settings window, where it is built: the program on the PATH beside
# quellora, found in the application grid by its desktop entry (written
# above) and icons, and in software centres by its AppStream metadata.
set(_quellora_settings_files "")
if(TARGET quellora-settings)
  target_link_options(quellora-settings PRIVATE LINKER:-z,relro,-z,now)
  target_compile_definitions(quellora-settings PRIVATE $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  install(TARGETS quellora-settings RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY settings-window/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor
          FILES_MATCHING PATTERN "*.png")
  install(FILES settings-window/example.orvandel.Quellora.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  file(GLOB _quellora_settings_files ${CMAKE_SOURCE_DIR}/settings-window/icons/*/apps/*.png)
  list(APPEND _quellora_settings_files quellora-settings
    ${CMAKE_SOURCE_DIR}/settings-window/example.orvandel.Quellora.desktop.in
    ${CMAKE_SOURCE_DIR}/settings-window/example.orvandel.Quellora.metainfo.xml)
endif()

# --- the Debian package -----------------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quellora)
set(CPACK_PACKAGE_VENDOR Orvandel)
set(CPACK_PACKAGE_CONTACT ${QUELLORA_MAINTAINER})
set(CPACK_PACKAGE_HOMEPAGE_URL https://orvandel.example/quellora/)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "moire screen saver for X11, XScreenSaver and Wayland")
set(CPACK_PACKAGE_DESCRIPTION
  "Two 1-bit pictures of octagonal band patterns are combined pixel by pixel
with exclusive-or and slide past each other in a 1024x768 viewport on black;
sixteen-pointed rosettes flare and fade where the bands meet.
.
The program runs as an XScreenSaver hack (`quellora --xscreensaver-add`
puts it into a user's list), on its own, full screen, and natively on
Wayland compositors, started by an idle daemon such as swayidle or by its
own idle watcher (`quellora --idle`, at login with `quellora --autostart on`)
on GNOME, KDE Plasma, wlroots compositors and X11. Its settings window
(quellora-settings, in the application grid) shows a live preview and sets
when it starts, its picture size and its monitors.")
# The package's files live under /usr whatever prefix this build was configured
# with. CPack installs with DESTDIR and CMAKE_INSTALL_PREFIX /usr, so the texts
# written at install time name /usr as well (not CPack's staging folder).
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUELLORA_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xscreensaver)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)

# The packages are made on request, never by the plain build: `cpack` and
# `make package` make the .deb as CPack always does, and the target
# `packages` makes all three (the native preset builds it too). Were the
# .deb part of `all`, CPack's own build of `all` before it packages (the
# Makefile generators' `preinstall`) would run CPack again, and so on.
add_custom_target(packages)
find_program(QUELLORA_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(QUELLORA_DPKG dpkg)
if(QUELLORA_SANITIZE OR QUELLORA_FUZZ)
  quellora_summary(packages "no: the sanitizer and fuzzing builds package nothing")
elseif(QUELLORA_DPKG_SHLIBDEPS AND QUELLORA_DPKG)
  execute_process(COMMAND ${QUELLORA_DPKG} --print-architecture OUTPUT_VARIABLE _quellora_arch
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(QUELLORA_DEB ${CMAKE_BINARY_DIR}/quellora_${PROJECT_VERSION}_${_quellora_arch}.deb)
  add_custom_command(OUTPUT ${QUELLORA_DEB}
    COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DEPENDS quellora quellora_docs ${_quellora_changelog_gz}
      ${CMAKE_SOURCE_DIR}/platform/x11/quellora.xml ${CMAKE_SOURCE_DIR}/platform/x11/quellora.6x.in
      ${CMAKE_SOURCE_DIR}/platform/x11/quellora.desktop.in ${CMAKE_SOURCE_DIR}/cmake/install_texts.cmake
      ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/packaging/debian/copyright
      ${CMAKE_BINARY_DIR}/CPackConfig.cmake ${CMAKE_BINARY_DIR}/cmake_install.cmake
      ${_quellora_settings_files}
    COMMENT "Making quellora_${PROJECT_VERSION}_${_quellora_arch}.deb with CPack"
    VERBATIM)
  add_custom_target(quellora_deb DEPENDS ${QUELLORA_DEB})
  add_dependencies(packages quellora_deb)
  quellora_summary("Debian package" "yes, by the target packages, cpack or make package")
else()
  quellora_summary("Debian package" "no: dpkg-shlibdeps is missing (apt install dpkg-dev)")
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
  add_custom_target(quellora_win64_zip DEPENDS ${QUELLORA_WIN64_ZIP})
  add_dependencies(packages quellora_win64_zip)
  quellora_summary("Windows zip" "yes, by the target packages")

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
    add_custom_target(quellora_setup DEPENDS ${QUELLORA_SETUP_EXE})
    add_dependencies(packages quellora_setup)
    quellora_summary("Windows setup program" "yes, by the target packages")
  else()
    quellora_summary("Windows setup program" "no: makensis is missing (apt install nsis)")
  endif()
elseif(NOT QUELLORA_SANITIZE AND NOT QUELLORA_FUZZ)
  quellora_summary("Windows zip and setup program" "no: quellora.scr is not built")
endif()
