# SDL's allocations bounded, for every user of SDL in the process.
add_library(vorur_sdl_memory STATIC ${CMAKE_CURRENT_LIST_DIR}/sdl_memory.cpp)
target_include_directories(vorur_sdl_memory PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vorur_sdl_memory PUBLIC PkgConfig::SDL2)
set_target_properties(vorur_sdl_memory PROPERTIES AUTOMOC OFF)

# SDL_mixer, loaded on first use instead of at start (see sdl_mixer_lazy.cpp).
add_library(vorur_sdl_mixer_lazy STATIC ${CMAKE_CURRENT_LIST_DIR}/sdl_mixer_lazy.cpp)
target_include_directories(vorur_sdl_mixer_lazy PUBLIC ${SDL2_MIXER_INCLUDE_DIRS})
target_link_libraries(vorur_sdl_mixer_lazy PUBLIC PkgConfig::SDL2 ${CMAKE_DL_LIBS})
set_target_properties(vorur_sdl_mixer_lazy PROPERTIES AUTOMOC OFF)

# Sound output of the page sounds: SDL backend and a simulated one on a tick clock.
add_library(vorur_sound STATIC
  ${CMAKE_CURRENT_LIST_DIR}/sound_output.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sound_sdl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sound_sim.cpp
)
target_include_directories(vorur_sound PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vorur_sound PUBLIC PkgConfig::SDL2 vorur_sdl_mixer_lazy vorur_platform vorur_sdl_memory)
