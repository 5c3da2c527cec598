# The target `uninstall` (cmake -P): removes every file and link that a
# `cmake --install` (or `make install`) of this build wrote, wherever it
# went (each prefix, each DESTDIR), as the build's record of its installs
# lists them (cmake/install_record.cmake); then the record. Folders stay.
# Without a record (nothing was installed from this build, or it was
# uninstalled already) it says so and changes nothing.
#
#   QUELLORA_BUILD_DIR   the build folder; QUELLORA_INSTALL_RECORD in the
#                        environment names another record

set(_record "$ENV{QUELLORA_INSTALL_RECORD}")
if(NOT _record)
  set(_record "${QUELLORA_BUILD_DIR}/install_record.txt")
endif()
if(NOT EXISTS "${_record}")
  message(STATUS "quellora: nothing to uninstall: no `cmake --install` of this build has installed anything "
                 "since the last uninstall (${_record} is missing)")
  return()
endif()

file(STRINGS "${_record}" _paths)
set(_removed 0)
set(_gone 0)
set(_left "")
foreach(_path IN LISTS _paths)
  # A link counts as there even when what it points to is gone.
  if(NOT EXISTS "${_path}" AND NOT IS_SYMLINK "${_path}")
    math(EXPR _gone "${_gone} + 1")
    continue()
  endif()
  message(STATUS "Removing: ${_path}")
  file(REMOVE "${_path}")
  if(EXISTS "${_path}" OR IS_SYMLINK "${_path}")
    list(APPEND _left "${_path}")
  else()
    math(EXPR _removed "${_removed} + 1")
  endif()
endforeach()
if(_left)
  list(JOIN _left ", " _left)
  message(FATAL_ERROR "quellora: could not remove ${_left}: uninstall as the user who installed "
                      "(with sudo where that was root)")
endif()
file(REMOVE "${_record}")
message(STATUS "quellora: uninstalled: ${_removed} files removed, ${_gone} gone already")
