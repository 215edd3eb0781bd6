# What a Linux desktop and a Debian system need besides the programs: the desktop entry, the
# AppStream metainfo, the icons, the man pages and the licence, all generated from the project
# version, the version block and the icon designs.
include(GNUInstallDirs)

set(MORVIK_ID com.morvik.MorvikSerialDemo)
set(MORVIK_PACKAGE morvik-serial-demo)
set(MORVIK_MAINTAINER_EMAIL maintainers@morvik.example)
set(MORVIK_ICON_SIZES 16 32 48 64 128 256)
set(MORVIK_SVG ${PROJECT_SOURCE_DIR}/dialog/res/MainFrame.svg)

set(desktop_dir ${PROJECT_BINARY_DIR}/desktop)
set(desktop_outputs ${desktop_dir}/${MORVIK_ID}.desktop ${desktop_dir}/${MORVIK_ID}.metainfo.xml)
foreach(size ${MORVIK_ICON_SIZES})
  list(APPEND desktop_outputs ${desktop_dir}/${MORVIK_ID}-${size}.png)
endforeach()
add_custom_command(OUTPUT ${desktop_outputs}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${desktop_dir}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:desktop-files>
    ${desktop_dir} ${MORVIK_SVG}
  DEPENDS desktop-files ${MORVIK_SVG} VERBATIM)

# Man pages share the description of how a port number finds its device, and of its profile.
set(man_pages MorvikSerialDemo morvik-simdevice morvik-ports morvik-send)
file(READ ${PROJECT_SOURCE_DIR}/man/port-rule.man PORT_RULE)
string(STRIP "${PORT_RULE}" PORT_RULE)
file(READ ${PROJECT_SOURCE_DIR}/man/profile.man PROFILES)
string(STRIP "${PROFILES}" PROFILES)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/port-rule.man
  ${PROJECT_SOURCE_DIR}/man/profile.man)
set(man_outputs)
foreach(page ${man_pages})
  configure_file(man/${page}.1.in ${desktop_dir}/man/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${desktop_dir}/${page}.1.gz
    COMMAND gzip -9n -c ${desktop_dir}/man/${page}.1 > ${desktop_dir}/${page}.1.gz
    DEPENDS ${desktop_dir}/man/${page}.1)
  list(APPEND man_outputs ${desktop_dir}/${page}.1.gz)
endforeach()

# Debian's copyright file carries the licence's terms (from "Permission" on) indented by one
# space, empty lines as " .".
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
set(LICENSE_TEXT "")
set(in_terms FALSE)
foreach(line IN LISTS license_lines)
  if(line MATCHES "^Permission")
    set(in_terms TRUE)
  endif()
  if(NOT in_terms)
  elseif(line STREQUAL "")
    string(APPEND LICENSE_TEXT " .\n")
  else()
    string(APPEND LICENSE_TEXT " ${line}\n")
  endif()
endforeach()
string(STRIP "${LICENSE_TEXT}" LICENSE_TEXT)
set(LICENSE_TEXT " ${LICENSE_TEXT}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
configure_file(packaging/copyright.in ${desktop_dir}/copyright @ONLY)
execute_process(COMMAND date -u -R -d "${MORVIK_RELEASE_DATE} 12:00"
  OUTPUT_VARIABLE MORVIK_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
configure_file(packaging/changelog.in ${desktop_dir}/changelog @ONLY)
add_custom_command(OUTPUT ${desktop_dir}/changelog.gz
  COMMAND gzip -9n -c ${desktop_dir}/changelog > ${desktop_dir}/changelog.gz
  DEPENDS ${desktop_dir}/changelog)

add_custom_target(desktop-data ALL DEPENDS ${desktop_outputs} ${man_outputs} ${desktop_dir}/changelog.gz)

install(TARGETS MorvikSerialDemo morvik-ports morvik-send morvik-simdevice
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Where bash-completion looks for a program's completion when it is first completed.
install(FILES completions/morvik-ports completions/morvik-send completions/morvik-simdevice
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${desktop_dir}/${MORVIK_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${desktop_dir}/${MORVIK_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size ${MORVIK_ICON_SIZES})
  install(FILES ${desktop_dir}/${MORVIK_ID}-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${MORVIK_ID}.png)
endforeach()
install(FILES ${MORVIK_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
  RENAME ${MORVIK_ID}.svg)
install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${desktop_dir}/copyright ${desktop_dir}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${MORVIK_PACKAGE})
