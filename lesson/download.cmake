# The download dialog of start-up, over the fetch of net/.
if(TARGET vorur_net)
  add_library(vorur_download STATIC ${CMAKE_CURRENT_LIST_DIR}/download_dlg.cpp ${CMAKE_CURRENT_LIST_DIR}/download_dlg.h)
  target_include_directories(vorur_download PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(vorur_download PUBLIC vorur_net vorur_platform Qt6::Widgets)
endif()
