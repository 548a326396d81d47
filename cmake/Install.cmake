# Where `cmake --install` and the Debian package put the programs and the files a desktop
# needs to show them: the entry, the icon, the software-centre description, man pages and
# the shell completion. The application folder is the user's ($XDG_DATA_HOME/tarvel),
# made by the programs on first start, so nothing here is written at run time.
include(GNUInstallDirs)

set(TARVEL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

install(TARGETS tarvel-cli tarvel-sim tarvel-line RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(tarvel_man_pages tarvel-cli tarvel-sim tarvel-line)

if(TARGET tarvel)
  install(TARGETS tarvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  list(APPEND tarvel_man_pages tarvel)
  install(FILES ${TARVEL_PACKAGING_DIR}/tarvel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${TARVEL_PACKAGING_DIR}/io.github.tarvel.tarvel.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  # The PNGs are rendered from the SVG and committed:
  #   rsvg-convert -w 48 -h 48 tarvel.svg -o tarvel-48.png   (and 256 for tarvel-256.png)
  set(icons ${TARVEL_PACKAGING_DIR}/icons)
  install(FILES ${icons}/tarvel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 48 256)
    install(FILES ${icons}/tarvel-${size}.png RENAME tarvel.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

# Man pages carry the project version and are installed compressed, as Debian expects.
set(man_gz)
foreach(page IN LISTS tarvel_man_pages)
  configure_file(${TARVEL_PACKAGING_DIR}/man/${page}.1 ${PROJECT_BINARY_DIR}/man/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.1.gz
                     COMMAND gzip -9nf -k ${page}.1
                     DEPENDS ${PROJECT_BINARY_DIR}/man/${page}.1
                     WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/man)
  list(APPEND man_gz ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_gz})
install(FILES ${man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${TARVEL_PACKAGING_DIR}/bash-completion/tarvel-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The line watch as a systemd user service (tarvel-watch@DEVICE.service).
configure_file(${TARVEL_PACKAGING_DIR}/systemd/tarvel-watch@.service ${PROJECT_BINARY_DIR}/systemd/tarvel-watch@.service
               @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/systemd/tarvel-watch@.service DESTINATION lib/systemd/user)
# The line service of a home (tarvel-line.service).
configure_file(${TARVEL_PACKAGING_DIR}/systemd/tarvel-line.service ${PROJECT_BINARY_DIR}/systemd/tarvel-line.service
               @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/systemd/tarvel-line.service DESTINATION lib/systemd/user)
