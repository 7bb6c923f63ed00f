# SDL2 and libpulse, loaded on first use instead of at start (see lazy_library.h):
# their headers here, the libraries at run time.
add_library(vorur_sdl_lazy STATIC ${CMAKE_CURRENT_LIST_DIR}/sdl_lazy.cpp)
target_include_directories(vorur_sdl_lazy PUBLIC ${SDL2_INCLUDE_DIRS})
target_compile_options(vorur_sdl_lazy PUBLIC ${SDL2_CFLAGS_OTHER})
target_link_libraries(vorur_sdl_lazy PUBLIC vorur_platform)
set_target_properties(vorur_sdl_lazy PROPERTIES AUTOMOC OFF)
add_library(vorur_pulse_lazy STATIC ${CMAKE_CURRENT_LIST_DIR}/pulse_lazy.cpp)
target_include_directories(vorur_pulse_lazy PUBLIC ${PULSE_INCLUDE_DIRS})
target_link_libraries(vorur_pulse_lazy PUBLIC vorur_platform)
set_target_properties(vorur_pulse_lazy PROPERTIES AUTOMOC OFF)

# SDL's allocations bounded, for every user of SDL in the process.
add_library(vorur_sdl_memory STATIC ${CMAKE_CURRENT_LIST_DIR}/sdl_memory.cpp)
target_include_directories(vorur_sdl_memory PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vorur_sdl_memory PUBLIC vorur_sdl_lazy)
set_target_properties(vorur_sdl_memory PROPERTIES AUTOMOC OFF)

# SDL_mixer, loaded on first use instead of at start (see sdl_mixer_lazy.cpp).
add_library(vorur_sdl_mixer_lazy STATIC ${CMAKE_CURRENT_LIST_DIR}/sdl_mixer_lazy.cpp)
target_include_directories(vorur_sdl_mixer_lazy PUBLIC ${SDL2_MIXER_INCLUDE_DIRS})
target_link_libraries(vorur_sdl_mixer_lazy PUBLIC vorur_sdl_lazy ${CMAKE_DL_LIBS})
set_target_properties(vorur_sdl_mixer_lazy PROPERTIES AUTOMOC OFF)

# Sound output of the page sounds: SDL backend and a simulated one on a tick clock.
add_library(vorur_sound STATIC
  ${CMAKE_CURRENT_LIST_DIR}/sound_output.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sound_sdl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sound_sim.cpp
)
target_include_directories(vorur_sound PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vorur_sound PUBLIC vorur_sdl_lazy vorur_sdl_mixer_lazy vorur_platform vorur_sdl_memory)
