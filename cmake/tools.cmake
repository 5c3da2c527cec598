# quellora-render: moiré frames of the sweep to BMP or PNG files, no display needed.
find_package(PNG REQUIRED)
add_executable(quellora-render tools/render.cpp)
target_link_libraries(quellora-render PRIVATE quellora_moire PNG::PNG)
