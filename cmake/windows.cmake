# The Windows program and its resources.
enable_language(RC)

target_link_libraries(ostrel PUBLIC
  gdiplus ole32 oleaut32 uuid shell32 shlwapi user32 gdi32 comctl32 winhttp ws2_32 bcrypt winmm
  mfuuid wmcodecdspuuid)
# Media Foundation's DLLs are loaded at run time (src/ui/media_foundation_win.*),
# so that the launcher starts where they are missing; mfuuid and wmcodecdspuuid
# hold only GUIDs.

if(MINGW)
  # No DLL that Windows does not ship: libstdc++, libgcc and winpthread go in statically.
  add_link_options(-static -static-libgcc -static-libstdc++)
  set(OSTREL_UNICODE_ENTRY -municode)
endif()

add_executable(OstrelLauncher WIN32 src/main/winmain_win.cpp src/main/resources/launcher.rc)
target_compile_options(OstrelLauncher PRIVATE ${OSTREL_WARNINGS})
target_link_options(OstrelLauncher PRIVATE ${OSTREL_UNICODE_ENTRY})
target_link_libraries(OstrelLauncher PRIVATE ostrel)
set_source_files_properties(src/main/resources/launcher.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/src/main/resources/launcher.ico;${CMAKE_SOURCE_DIR}/src/main/resources/launcher.manifest")

# The program runs in place: its read-only assets lie next to it.
add_custom_command(TARGET OstrelLauncher POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/assets $<TARGET_FILE_DIR:OstrelLauncher>/assets
  VERBATIM)

# Benchmark helper programs for bench/run.
include(${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
