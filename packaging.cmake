# Installation layout and the Debian package.
#
#   <prefix>/<libdir>/vorur-ozudiz/   the player and libDovOvoru.so side by side (and vorur-rec,
#                                     which loads the codec the same way)
#   <prefix>/bin/                     vorur-ozudiz (link to the player), vorur-ozudiz-demo,
#                                     viztool, lesson-server, vorur-upload, vorur-rec (link)
#   <prefix>/share/vorur-ozudiz/demo/ the demo lessons
#   <prefix>/share/applications/      menu entries; <prefix>/share/icons/hicolor/ the icon
#   <prefix>/share/metainfo/          the software-centre entry of the demo
#   <prefix>/share/man/man1/          a page for every command in bin/
#   <prefix>/share/doc/vorur-ozudiz/  copyright and changelog, as Debian has them
#
#   cmake --install <build> --prefix /usr      or      cpack -G DEB  (target "package")
#
# The player is installed by its own folder's rule into <libdir>/vorur-ozudiz.

set(VORUR_PACKAGE_MAINTAINER "Vorur_Ozudiz maintainers <maintainers@vorur-ozudiz.example>"
    CACHE STRING "Maintainer named in the Debian package")

set(vorur_pkg_libdir ${CMAKE_INSTALL_LIBDIR}/vorur-ozudiz)
set(vorur_pkg_datadir ${CMAKE_INSTALL_DATADIR}/vorur-ozudiz)
set(vorur_pkg_gen ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${vorur_pkg_gen})

# Links and the launcher find the private folder relative to bin/, so the tree can be
# installed under any prefix (and any DESTDIR) unchanged.
file(RELATIVE_PATH vorur_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${vorur_pkg_libdir})
file(RELATIVE_PATH vorur_bin_to_demo /${CMAKE_INSTALL_BINDIR} /${vorur_pkg_datadir}/demo)

if(TARGET DovOvoru)
  # Beside the player: it loads the codec by plain name through its $ORIGIN run path.
  install(TARGETS DovOvoru LIBRARY DESTINATION ${vorur_pkg_libdir} NAMELINK_SKIP)
endif()

if(TARGET Vorur_Ozudiz)
  file(CREATE_LINK ${vorur_bin_to_lib}/Vorur_Ozudiz ${vorur_pkg_gen}/vorur-ozudiz SYMBOLIC)
endif()

# Tools that need nothing of ours carry no run path in bin/.
foreach(tool viztool lesson-server vorur-upload)
  if(TARGET ${tool})
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "")
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# vorur-rec loads the codec like the player does, so it lives beside it too.
if(TARGET vorur-rec)
  install(TARGETS vorur-rec RUNTIME DESTINATION ${vorur_pkg_libdir})
  file(CREATE_LINK ${vorur_bin_to_lib}/vorur-rec ${vorur_pkg_gen}/vorur-rec SYMBOLIC)
  install(FILES ${vorur_pkg_gen}/vorur-rec DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(TARGET Vorur_Ozudiz)
  install(FILES ${vorur_pkg_gen}/vorur-ozudiz DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The menu entry: the player needs a lesson to open, so the visible entry opens the
  # demo lesson; the plain one opens portal links and lesson files, and is hidden.
  install(FILES packaging/vorur-ozudiz.desktop packaging/vorur-ozudiz-demo.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  if(TARGET lesson-server AND TARGET demo_lessons)
    configure_file(packaging/vorur-ozudiz-demo.in ${vorur_pkg_gen}/vorur-ozudiz-demo @ONLY)
    install(PROGRAMS ${vorur_pkg_gen}/vorur-ozudiz-demo DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endif()

if(TARGET demo_lessons)
  install(FILES ${CMAKE_BINARY_DIR}/demo/demo1.viz ${CMAKE_BINARY_DIR}/demo/demo2.viz
          DESTINATION ${vorur_pkg_datadir}/demo)
endif()

# Icon 128 as drawn for the skin, at the sizes the generator makes.
if(TARGET vorur_res)
  set(vorur_icon_dir ${CMAKE_BINARY_DIR}/res/skin/icons)
  install(FILES ${vorur_icon_dir}/128.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps RENAME vorur-ozudiz.png)
  foreach(size 16 24 32 48 64)
    install(FILES ${vorur_icon_dir}/128-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME vorur-ozudiz.png)
  endforeach()
endif()

# Lesson files: their type (a zip by its content, a lesson by its name) and its icon.
# The desktop's databases are brought up to date by the triggers of the packages
# that own them, so the package carries no scripts for it.
install(FILES packaging/vorur-ozudiz-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME vorur-ozudiz.xml)
if(TARGET vorur_res)
  foreach(size 16 24 32 48 64 256)
    install(FILES ${vorur_icon_dir}/lesson-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/mimetypes
            RENAME application-x-vorur-lesson.png)
  endforeach()
endif()

# Software centres list the demo entry, the one a user can start.
install(FILES packaging/example.vorur_ozudiz.demo.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Man pages and the changelog go out compressed without a time stamp, so that the
# package is the same from one build to the next.
set(vorur_man_pages vorur-ozudiz vorur-ozudiz-demo viztool lesson-server vorur-upload vorur-rec)
set(vorur_compressed)
foreach(page ${vorur_man_pages})
  list(APPEND vorur_compressed man/${page}.1)
endforeach()
list(APPEND vorur_compressed changelog)
set(vorur_compressed_outputs)
foreach(file ${vorur_compressed})
  set(plain ${vorur_pkg_gen}/${file})
  set(out ${plain}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/packaging/${file} ${plain}
    COMMAND gzip -9nf ${plain}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/packaging/${file}
    VERBATIM)
  list(APPEND vorur_compressed_outputs ${out})
endforeach()
add_custom_target(vorur_package_docs ALL DEPENDS ${vorur_compressed_outputs})
foreach(page ${vorur_man_pages})
  install(FILES ${vorur_pkg_gen}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES packaging/copyright ${vorur_pkg_gen}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vorur-ozudiz)
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME vorur-ozudiz)

# The changelog's newest entry names the version being packaged.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS packaging/changelog)
file(STRINGS packaging/changelog vorur_changelog_head LIMIT_COUNT 1)
if(NOT vorur_changelog_head MATCHES "^vorur-ozudiz \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog has no entry for ${PROJECT_VERSION} at its top")
endif()

# Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorur-ozudiz)
set(CPACK_PACKAGE_VENDOR Dazuzor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VORUR_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "lesson player for spoken-language practice")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VORUR_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The summary line comes from CPACK_PACKAGE_DESCRIPTION_SUMMARY.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A launcher starts the player with a lesson package on the lesson server and
the learner's identifiers. It shows the lesson page by page with pictures,
model sounds, and question and answer texts, steps through the pages by hand
or automatically, and in test mode records the learner's voice to MP3 and
uploads the recording to the lesson server.
.
The package also holds the tools for lesson authors and servers (viztool,
lesson-server, vorur-upload, vorur-rec) and two demo lessons, opened from the
menu entry through vorur-ozudiz-demo.")
# Libraries from dpkg-shlibdeps; the rest is loaded at run time: the Qt platform
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# plugins, Qt's Korean texts of the standard dialogs, the fonts of Korean text and
# the serif of the page texts, and the libraries the programs load on first use:
# libcurl, libpulse, SDL2 and SDL_mixer.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-translations-l10n, fonts-nanum, fonts-liberation2, libcurl4, libpulse0, libsdl2-2.0-0, libsdl2-mixer-2.0-0")
# Recording and page sounds go through a PulseAudio-compatible sound server; on a
# Wayland desktop the player runs natively with Qt's Wayland platform.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio, qt6-wayland")
include(CPack)
