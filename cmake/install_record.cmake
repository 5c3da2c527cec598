# Run by the install (cmake_install.cmake) after every other install rule:
# adds what this install wrote, each path as it lies on disk (DESTDIR in
# front), to the build's record of its installs, which the target
# `uninstall` reads (cmake/uninstall.cmake). CPack's installs into its
# staging folder make packages, not installs of the build: they are not
# recorded (they still write install_manifest.txt, with the paths of /usr,
# which is why the uninstall never reads that).
#
# Set by the install(CODE) that includes this file: QUELLORA_BUILD_DIR.
# QUELLORA_INSTALL_RECORD in the environment names another record (the tests
# keep their own).

set(_record "$ENV{QUELLORA_INSTALL_RECORD}")
if(NOT _record)
  set(_record "${QUELLORA_BUILD_DIR}/install_record.txt")
endif()
# CPack stages under <its output folder>/_CPack_Packages/, whatever -B says.
if(NOT "$ENV{DESTDIR}" MATCHES "/_CPack_Packages/")
  set(_paths "")
  if(EXISTS "${_record}")
    file(STRINGS "${_record}" _paths)
  endif()
  foreach(_file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
    list(APPEND _paths "$ENV{DESTDIR}${_file}")
  endforeach()
  list(REMOVE_DUPLICATES _paths)
  list(JOIN _paths "\n" _text)
  file(WRITE "${_record}" "${_text}\n")
endif()
