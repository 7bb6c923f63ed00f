# The lesson model with its config.cfg archive format, package extraction and
# package writing. No Qt: the tools and tests use it without a GUI.
add_library(vorur_lesson STATIC
  ${CMAKE_CURRENT_LIST_DIR}/obj_archive.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cfg_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/codepage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/unzipper.cpp
  ${CMAKE_CURRENT_LIST_DIR}/package_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/manifest.cpp
)
target_include_directories(vorur_lesson PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vorur_lesson
  PUBLIC PkgConfig::MINIZIP PkgConfig::ZLIB Iconv::Iconv vorur_app_core
  PRIVATE nlohmann_json::nlohmann_json)
set_target_properties(vorur_lesson PROPERTIES AUTOMOC OFF)
