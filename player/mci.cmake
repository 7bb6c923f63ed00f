# The page sound player over the sound output layer.
add_library(vorur_mci STATIC ${CMAKE_CURRENT_LIST_DIR}/mci_player.cpp)
target_include_directories(vorur_mci PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vorur_mci PUBLIC vorur_sound)
