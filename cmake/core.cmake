# The platform-neutral core: run modes, the saver window, settings and the
# About dialog's model, over platform/platform.h.
add_library(quellora_core STATIC
  app/application.cpp
  app/entry.cpp
  saver/form1.cpp
  settings/settings_store.cpp
  settings/about_dialog.cpp
)
target_include_directories(quellora_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(quellora_core PUBLIC quellora_moire)
