# What gets installed and how it is packed: the Windows zip, and on Linux the Debian package (with
# KOVEX_PACKAGE on, as scripts/package.sh configures it). Both carry PROJECT_VERSION.

if(WIN32)
  # The Windows zip: the program, the network server, the images, icon, a settings file and a read-me.
  install(TARGETS KOVEXFuel kovex-server RUNTIME DESTINATION .)
  file(GLOB KOVEX_IMAGES ${CMAKE_SOURCE_DIR}/assets/*.txr)
  install(FILES ${KOVEX_IMAGES} ${CMAKE_SOURCE_DIR}/assets/lcd.bmp ${CMAKE_SOURCE_DIR}/assets/plane2.ico
                ${CMAKE_SOURCE_DIR}/assets/KOVEXFuel.INI ${CMAKE_SOURCE_DIR}/packaging/windows/README.txt
          DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME KOVEXFuel)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_STRIP_FILES ON)
  include(CPack)

  # The setup program, made with Debian's NSIS from the same files as the zip, the programs stripped
  # as there: KOVEXFuel-<version>-setup.exe in the build folder.
  find_program(KOVEX_MAKENSIS makensis)
  if(NOT KOVEX_MAKENSIS)
    message(STATUS "makensis not found (Debian's nsis): no Windows setup program")
    return()
  endif()
  set(KOVEX_SETUP_FILE ${CMAKE_BINARY_DIR}/KOVEXFuel-${PROJECT_VERSION}-setup.exe)
  set(KOVEX_SETUP_PROGRAMS ${CMAKE_BINARY_DIR}/setup-programs)
  # The version resource wants four numbers.
  set(KOVEX_VERSION_QUAD ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
  foreach(part PATCH TWEAK)
    if(PROJECT_VERSION_${part} STREQUAL "")
      string(APPEND KOVEX_VERSION_QUAD .0)
    else()
      string(APPEND KOVEX_VERSION_QUAD .${PROJECT_VERSION_${part}})
    endif()
  endforeach()
  set(KOVEX_SETUP_SCRIPT ${CMAKE_SOURCE_DIR}/packaging/windows/KOVEXFuel.nsi)
  add_custom_command(OUTPUT ${KOVEX_SETUP_FILE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KOVEX_SETUP_PROGRAMS}
    COMMAND ${CMAKE_STRIP} -o ${KOVEX_SETUP_PROGRAMS}/KOVEXFuel.exe $<TARGET_FILE:KOVEXFuel>
    COMMAND ${CMAKE_STRIP} -o ${KOVEX_SETUP_PROGRAMS}/kovex-server.exe $<TARGET_FILE:kovex-server>
    COMMAND ${KOVEX_MAKENSIS} -V2 -WX -DVERSION=${PROJECT_VERSION} -DVERSION_QUAD=${KOVEX_VERSION_QUAD}
            -DPROGRAMS=${KOVEX_SETUP_PROGRAMS} -DSOURCE=${CMAKE_SOURCE_DIR} -DOUTFILE=${KOVEX_SETUP_FILE}
            ${KOVEX_SETUP_SCRIPT}
    DEPENDS KOVEXFuel kovex-server ${KOVEX_SETUP_SCRIPT} ${KOVEX_IMAGES} ${CMAKE_SOURCE_DIR}/assets/lcd.bmp
            ${CMAKE_SOURCE_DIR}/assets/plane2.ico ${CMAKE_SOURCE_DIR}/assets/KOVEXFuel.INI
            ${CMAKE_SOURCE_DIR}/packaging/windows/README.txt
    COMMENT "Making the Windows setup program with NSIS" VERBATIM)
  add_custom_target(kovex_setup ALL DEPENDS ${KOVEX_SETUP_FILE})
  return()
endif()

option(KOVEX_PACKAGE "Install rules and the Debian package (needs help2man and ImageMagick)" OFF)
if(NOT KOVEX_PACKAGE)
  return()
endif()

# The panel reads its images and settings from the folder it starts in, so it lives outside the
# PATH; the launcher in /usr/bin gives it a per-user folder.
set(KOVEX_PANEL_DIR lib/kovexfuel)
set(KOVEX_DATA_DIR share/kovexfuel)
set(KOVEX_DOC_DIR share/doc/kovexfuel)
set(KOVEX_PKG_SOURCE ${CMAKE_SOURCE_DIR}/packaging/linux)
set(KOVEX_PKG_BUILD ${CMAKE_BINARY_DIR}/packaging)

find_program(HELP2MAN help2man REQUIRED)
find_program(IMAGEMAGICK_CONVERT convert REQUIRED)
find_program(IMAGEMAGICK_IDENTIFY identify REQUIRED)
find_program(GZIP gzip REQUIRED)

set(CPACK_PACKAGE_CONTACT "KOVEXFuel developers <kovexfuel@example.org>")
set(KOVEX_PANEL_PROGRAM ${CMAKE_INSTALL_PREFIX}/${KOVEX_PANEL_DIR}/KOVEXFuel)
set(KOVEX_DATA_PATH ${CMAKE_INSTALL_PREFIX}/${KOVEX_DATA_DIR})
set(KOVEX_FIND_PROGRAM ${CMAKE_INSTALL_PREFIX}/bin/kovex-find)
set(KOVEX_SIMULATOR_PROGRAM ${CMAKE_INSTALL_PREFIX}/bin/kovex-simulator)
configure_file(${KOVEX_PKG_SOURCE}/kovexfuel.in ${KOVEX_PKG_BUILD}/kovexfuel @ONLY)
configure_file(${KOVEX_PKG_SOURCE}/kovexfuel.1.in ${KOVEX_PKG_BUILD}/kovexfuel.1 @ONLY)
configure_file(${KOVEX_PKG_SOURCE}/kovex-server.service.in ${KOVEX_PKG_BUILD}/kovex-server.service @ONLY)
# Honours SOURCE_DATE_EPOCH, so a rebuild of the same sources gives the same package.
string(TIMESTAMP KOVEX_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${KOVEX_PKG_SOURCE}/changelog.in ${KOVEX_PKG_BUILD}/changelog @ONLY)

# Manual pages: the companion programs' from their own --help, the panel's written by hand.
set(KOVEX_MANPAGES)
file(MAKE_DIRECTORY ${KOVEX_PKG_BUILD}/help)
foreach(entry "kovex-server|answer the KOVEXFuel panel's remote variable requests over TCP"
              "kovex-simulator|play the flight simulator's side of the FSUIPC link"
              "kovex-find|list the KOVEXFuel servers announced on the local network")
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 tool)
  list(GET entry 1 summary)
  # Extra sections (the server's user unit) from packaging/linux/<tool>.h2m where there is one.
  set(include)
  set(included)
  if(EXISTS ${KOVEX_PKG_SOURCE}/${tool}.h2m)
    configure_file(${KOVEX_PKG_SOURCE}/${tool}.h2m ${KOVEX_PKG_BUILD}/${tool}.h2m @ONLY)
    set(include --include=${KOVEX_PKG_BUILD}/${tool}.h2m)
    set(included ${KOVEX_PKG_BUILD}/${tool}.h2m)
  endif()
  add_custom_command(OUTPUT ${KOVEX_PKG_BUILD}/${tool}.1.gz
    COMMAND ${CMAKE_COMMAND} -E create_symlink ${KOVEX_PKG_SOURCE}/help2man-usage.sh
            ${KOVEX_PKG_BUILD}/help/${tool}
    COMMAND ${CMAKE_COMMAND} -E env KOVEX_PROGRAM_DIR=$<TARGET_FILE_DIR:${tool}>
            ${HELP2MAN} --no-info --version-string=${PROJECT_VERSION} --name=${summary} ${include}
            --output=${KOVEX_PKG_BUILD}/${tool}.1 ${KOVEX_PKG_BUILD}/help/${tool}
    COMMAND ${GZIP} -9nf ${KOVEX_PKG_BUILD}/${tool}.1
    DEPENDS ${tool} ${KOVEX_PKG_SOURCE}/help2man-usage.sh ${included} VERBATIM)
  list(APPEND KOVEX_MANPAGES ${KOVEX_PKG_BUILD}/${tool}.1.gz)
endforeach()
foreach(file kovexfuel.1 changelog)
  add_custom_command(OUTPUT ${KOVEX_PKG_BUILD}/${file}.gz
    COMMAND ${GZIP} -9nkf ${KOVEX_PKG_BUILD}/${file}
    DEPENDS ${KOVEX_PKG_BUILD}/${file} VERBATIM)
endforeach()

# One hicolor PNG for each picture in the window icon.
add_custom_command(OUTPUT ${KOVEX_PKG_BUILD}/icons.stamp
  COMMAND sh ${KOVEX_PKG_SOURCE}/make-icons.sh ${CMAKE_SOURCE_DIR}/assets/plane2.ico ${KOVEX_PKG_BUILD}/icons
  COMMAND ${CMAKE_COMMAND} -E touch ${KOVEX_PKG_BUILD}/icons.stamp
  DEPENDS ${CMAKE_SOURCE_DIR}/assets/plane2.ico ${KOVEX_PKG_SOURCE}/make-icons.sh VERBATIM)
add_custom_target(kovex_package_files ALL
  DEPENDS ${KOVEX_MANPAGES} ${KOVEX_PKG_BUILD}/kovexfuel.1.gz ${KOVEX_PKG_BUILD}/changelog.gz ${KOVEX_PKG_BUILD}/icons.stamp)

install(TARGETS KOVEXFuel RUNTIME DESTINATION ${KOVEX_PANEL_DIR})
install(TARGETS kovex-server kovex-simulator kovex-find RUNTIME DESTINATION bin)
install(PROGRAMS ${KOVEX_PKG_BUILD}/kovexfuel DESTINATION bin)
file(GLOB KOVEX_IMAGES ${CMAKE_SOURCE_DIR}/assets/*.txr)
install(FILES ${KOVEX_IMAGES} ${CMAKE_SOURCE_DIR}/assets/lcd.bmp ${CMAKE_SOURCE_DIR}/assets/plane2.ico
              ${CMAKE_SOURCE_DIR}/assets/KOVEXFuel.INI
        DESTINATION ${KOVEX_DATA_DIR})
install(FILES ${KOVEX_PKG_SOURCE}/kovexfuel.desktop DESTINATION share/applications)
install(DIRECTORY ${KOVEX_PKG_BUILD}/icons/ DESTINATION share/icons)
install(FILES ${KOVEX_MANPAGES} ${KOVEX_PKG_BUILD}/kovexfuel.1.gz DESTINATION share/man/man1)
install(FILES ${KOVEX_PKG_BUILD}/kovex-server.service DESTINATION lib/systemd/user)
install(FILES ${KOVEX_PKG_SOURCE}/copyright ${KOVEX_PKG_BUILD}/changelog.gz DESTINATION ${KOVEX_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kovexfuel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "oil and fuel-flow panel of a twin-engine aircraft")
file(READ ${KOVEX_PKG_SOURCE}/description CPACK_DEBIAN_PACKAGE_DESCRIPTION)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# SDL opens libGL.so.1 itself when it makes the GL context, so the binaries do not name it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libgl1)
# The daemon does the announcing and finding; nss-mdns lets NAME.local be typed as the server.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "avahi-daemon, libnss-mdns")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
