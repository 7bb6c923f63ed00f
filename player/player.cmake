# The main dialog: the player itself.
add_library(vorur_geometry STATIC
  ${CMAKE_CURRENT_LIST_DIR}/draw_geometry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hit_test.cpp)
target_include_directories(vorur_geometry PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/platform)

if(TARGET vorur_mci AND TARGET vorur_skin AND TARGET vorur_recording AND TARGET vorur_lesson)
  add_library(vorur_player STATIC
    ${CMAKE_CURRENT_LIST_DIR}/main_dlg.h
    ${CMAKE_CURRENT_LIST_DIR}/main_dlg_window.cpp
    ${CMAKE_CURRENT_LIST_DIR}/main_dlg_state.cpp
    ${CMAKE_CURRENT_LIST_DIR}/main_dlg_lesson.cpp
    ${CMAKE_CURRENT_LIST_DIR}/main_dlg_test_run.cpp
    ${CMAKE_CURRENT_LIST_DIR}/main_dlg_paint.cpp
    ${CMAKE_CURRENT_LIST_DIR}/review_dlg.h
    ${CMAKE_CURRENT_LIST_DIR}/review_dlg.cpp)
  target_include_directories(vorur_player PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_compile_definitions(vorur_player PRIVATE VORUR_UPLOAD_HOST="${VORUR_UPLOAD_HOST}")
  target_link_libraries(vorur_player PUBLIC
    vorur_geometry vorur_mci vorur_skin vorur_recording vorur_lesson vorur_net
    vorur_app_settings vorur_platform_qt Qt6::Widgets)
endif()
