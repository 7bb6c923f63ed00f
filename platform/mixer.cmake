# Mixer device layer: PulseAudio server, or the simulated mixer (VORUR_MIXER=sim).
add_library(vorur_mixer STATIC
  ${CMAKE_CURRENT_LIST_DIR}/mixer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mixer_card.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mixer_sim.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mixer_pulse.cpp
)
set_target_properties(vorur_mixer PROPERTIES AUTOMOC OFF)
target_include_directories(vorur_mixer PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vorur_mixer PUBLIC vorur_platform vorur_wavein PRIVATE vorur_pulse_lazy)
