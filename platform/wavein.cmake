# Wave-in device layer: a record stream of the sound server (libpulse), SDL2
# capture for the simulated setups, and a factory hook for test devices.
add_library(vorur_wavein STATIC
  ${CMAKE_CURRENT_LIST_DIR}/wavein.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wavein_sdl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wavein_pulse.cpp
)
set_target_properties(vorur_wavein PROPERTIES AUTOMOC OFF)
target_include_directories(vorur_wavein PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vorur_wavein PUBLIC vorur_platform PRIVATE vorur_sdl_lazy vorur_pulse_lazy vorur_sdl_memory)
