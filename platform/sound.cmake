# SDL's allocations bounded, for every user of SDL in the process.
add_library(vorur_sdl_memory STATIC ${CMAKE_CURRENT_LIST_DIR}/sdl_memory.cpp)
target_include_directories(vorur_sdl_memory PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vorur_sdl_memory PUBLIC PkgConfig::SDL2)
set_target_properties(vorur_sdl_memory PROPERTIES AUTOMOC OFF)

# Sound output of the page sounds: SDL backend and a simulated one on a tick clock.
add_library(vorur_sound STATIC
  ${CMAKE_CURRENT_LIST_DIR}/sound_output.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sound_sdl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sound_sim.cpp
)
target_include_directories(vorur_sound PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vorur_sound PUBLIC PkgConfig::SDL2 PkgConfig::SDL2_MIXER vorur_platform vorur_sdl_memory)
