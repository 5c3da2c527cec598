# Run by the install (cmake_install.cmake), not at configure time: writes the
# manual page and the desktop entry with the paths of this very install, so
# `--prefix DIR`, DESTDIR and CPack's package all name the place the files
# really go, then installs them.
#
# Set by the install(CODE) that includes this file:
#   QUELLORA_SOURCE_DIR, QUELLORA_WORK_DIR (a folder of the build tree),
#   QUELLORA_BINDIR, QUELLORA_LIBEXECDIR, QUELLORA_DATADIR, QUELLORA_MANDIR, QUELLORA_DOCDIR
#   (relative to the prefix, or absolute), PROJECT_VERSION, QUELLORA_SETTINGS_WINDOW
#   (the settings window is built: its desktop entry is written too).
# CMAKE_INSTALL_PREFIX is the prefix of this install, without DESTDIR.

foreach(_dir BINDIR LIBEXECDIR DATADIR MANDIR DOCDIR)
  if(IS_ABSOLUTE "${QUELLORA_${_dir}}")
    set(CMAKE_INSTALL_FULL_${_dir} "${QUELLORA_${_dir}}")
  else()
    set(CMAKE_INSTALL_FULL_${_dir} "${CMAKE_INSTALL_PREFIX}/${QUELLORA_${_dir}}")
  endif()
endforeach()

# A folder of its own: several installs of one build tree may run at once.
string(RANDOM LENGTH 12 _quellora_tag)
set(_work "${QUELLORA_WORK_DIR}/install-${_quellora_tag}")
file(MAKE_DIRECTORY "${_work}")
configure_file("${QUELLORA_SOURCE_DIR}/platform/x11/quellora.6x.in" "${_work}/quellora.6x" @ONLY)
configure_file("${QUELLORA_SOURCE_DIR}/platform/x11/quellora.desktop.in" "${_work}/quellora.desktop" @ONLY)
# Compressed as Debian wants it: gzip -9n (no name, no time stamp).
execute_process(COMMAND gzip -9n INPUT_FILE "${_work}/quellora.6x" OUTPUT_FILE "${_work}/quellora.6x.gz"
                RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "gzip failed (${_rc}) on the manual page")
endif()

file(INSTALL DESTINATION "${CMAKE_INSTALL_FULL_MANDIR}/man6" TYPE FILE
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ FILES "${_work}/quellora.6x.gz")
file(INSTALL DESTINATION "${CMAKE_INSTALL_FULL_DATADIR}/applications/screensavers" TYPE FILE
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ FILES "${_work}/quellora.desktop")
if(QUELLORA_SETTINGS_WINDOW)
  set(_entry example.orvandel.Quellora.desktop)
  configure_file("${QUELLORA_SOURCE_DIR}/settings-window/${_entry}.in" "${_work}/${_entry}" @ONLY)
  file(INSTALL DESTINATION "${CMAKE_INSTALL_FULL_DATADIR}/applications" TYPE FILE
       PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ FILES "${_work}/${_entry}")
endif()
file(REMOVE_RECURSE "${_work}")
