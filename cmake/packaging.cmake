# Installing the programs the Debian way, and the .deb that carries them: the
# three programs, the desktop entry, the icon, AppStream metadata, the man
# pages and Debian's copyright and changelog files.

# A sanitizer build is never installed.
if(ZP_SANITIZE)
    return()
endif()

include(GNUInstallDirs)

# The project has no public home yet: the reserved .example domain marks the
# placeholder. Set both when it has one; the id then follows the domain.
set(ZP_HOMEPAGE "https://zoompanel.example/" CACHE STRING
    "Home page for the AppStream metadata and the package, ending in /")
set(ZP_APPSTREAM_ID "example.zoompanel.zoompanel" CACHE STRING
    "AppStream component id: the home page's domain reversed, then the program")
set(ZP_PACKAGE_MAINTAINER
    "zoompanel maintainers <maintainers@users.noreply.c-seed-37f3501d.example>" CACHE STRING
    "Maintainer field of the Debian package")

# cpack installs what was built; letting it build `all` first would compile
# every test in the package build.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

find_program(ZP_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(ZP_GZIP gzip REQUIRED)

set(zp_src ${PROJECT_SOURCE_DIR}/packaging)
set(zp_out ${PROJECT_BINARY_DIR}/packaging)
set(zp_generated)

# Man pages and the changelog are compressed as Debian wants them; -n keeps
# the name and time out of the header, so the package is reproducible.
function(zp_gzip input output)
    add_custom_command(OUTPUT ${output}
        COMMAND ${ZP_GZIP} -9n -c ${input} > ${output}
        DEPENDS ${input})
    set(zp_generated ${zp_generated} ${output} PARENT_SCOPE)
endfunction()

foreach(page zoompanel zoomctl camsim)
    configure_file(${zp_src}/man/${page}.1.in ${zp_out}/${page}.1 @ONLY)
    zp_gzip(${zp_out}/${page}.1 ${zp_out}/${page}.1.gz)
    install(FILES ${zp_out}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

zp_gzip(${zp_src}/changelog ${zp_out}/changelog.gz)

# The PNG sizes are for desktops and software centres that take no SVG.
set(ZP_ICON_SIZES 48 64 128 256)
foreach(size IN LISTS ZP_ICON_SIZES)
    set(png ${zp_out}/icons/${size}x${size}/zoompanel.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${zp_out}/icons/${size}x${size}
        COMMAND ${ZP_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${zp_src}/icons/zoompanel.svg
        DEPENDS ${zp_src}/icons/zoompanel.svg)
    list(APPEND zp_generated ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

add_custom_target(zp_packaging_files ALL DEPENDS ${zp_generated})

configure_file(${zp_src}/zoompanel.metainfo.xml.in ${zp_out}/${ZP_APPSTREAM_ID}.metainfo.xml
               @ONLY)

install(TARGETS zoompanel zoomctl camsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${zp_src}/zoompanel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${zp_src}/icons/zoompanel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${zp_out}/${ZP_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${zp_src}/copyright ${zp_out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package, through CPack: the build already is CMake, and CPack
# packs exactly what the rules above install.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zoompanel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${ZP_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel for the 26x Zoom camera module")
set(CPACK_PACKAGE_DESCRIPTION
    "zoompanel sets up the 26x Zoom camera module over its RS-232 line: camera\n"
    "title, lens, gain, exposure, back-light and its areas, colour, aperture,\n"
    "motion detection, position memories and the other switches, a page each.\n"
    "It lists the serial ports the machine has, shows and logs every frame on\n"
    "the line in the camera's words, and saves and loads a camera's settings.\n"
    "\n"
    "The package also holds zoomctl, which does the same from the command line\n"
    "for scripts, and camsim, a virtual camera for trying either without one.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ZP_HOMEPAGE})
# Runtime dependencies from the binaries themselves (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
