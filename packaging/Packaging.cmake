# What `cmake --install` places beside the application, and the Debian package CPack builds from it
# (scripts/package.sh). Paths stay relative to the prefix, so the tree installs under /usr or anywhere.

# The date of the release that PROJECT_VERSION names, in the forms AppStream and Debian's changelog want:
# change it with the version.
set(KAVREL_RELEASE_DATE "2026-12-07")
set(KAVREL_RELEASE_DATE_RFC2822 "Mon, 07 Dec 2026 00:00:00 +0000")
set(KAVREL_MAINTAINER "Kavrel Companion maintainers <companion@kavrel.app>")
set(KAVREL_APP_ID com.quartzfield.kavrel.companion)
set(KAVREL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kavrel-companion)

set(kavrel_resources ${PROJECT_SOURCE_DIR}/KavrelCompanion/resources)
set(kavrel_staged ${PROJECT_BINARY_DIR}/packaging)

# Panels ask for these sizes; each is drawn from the SVG rather than scaled from another bitmap.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(kavrel_icons)
foreach(size IN ITEMS 16 22 24 32 48 64 128 256)
    set(kavrel_icon ${kavrel_staged}/icons/hicolor/${size}x${size}/apps/kavrel-companion.png)
    add_custom_command(
        OUTPUT ${kavrel_icon}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${kavrel_staged}/icons/hicolor/${size}x${size}/apps
        COMMAND ${RSVG_CONVERT} --width=${size} --height=${size} --keep-aspect-ratio --output=${kavrel_icon}
                ${kavrel_resources}/kavrel-companion.svg
        DEPENDS ${kavrel_resources}/kavrel-companion.svg
        VERBATIM)
    list(APPEND kavrel_icons ${kavrel_icon})
endforeach()

# Debian wants its documents compressed with the name and time left out, so the package is reproducible.
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${kavrel_staged}/changelog @ONLY)
set(kavrel_compressed)
foreach(kavrel_document IN ITEMS ${kavrel_staged}/changelog ${CMAKE_CURRENT_LIST_DIR}/kavrel-companion.1)
    get_filename_component(kavrel_name ${kavrel_document} NAME)
    add_custom_command(
        OUTPUT ${kavrel_staged}/${kavrel_name}.gz
        COMMAND gzip -9n --stdout ${kavrel_document} > ${kavrel_staged}/${kavrel_name}.gz
        DEPENDS ${kavrel_document})
    list(APPEND kavrel_compressed ${kavrel_staged}/${kavrel_name}.gz)
endforeach()
add_custom_target(installed-files ALL DEPENDS ${kavrel_icons} ${kavrel_compressed})

configure_file(${CMAKE_CURRENT_LIST_DIR}/${KAVREL_APP_ID}.metainfo.xml.in ${kavrel_staged}/${KAVREL_APP_ID}.metainfo.xml
               @ONLY)

install(FILES ${kavrel_resources}/kavrel-companion.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY ${kavrel_staged}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${kavrel_resources}/${KAVREL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${kavrel_staged}/${KAVREL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${kavrel_staged}/kavrel-companion.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${kavrel_staged}/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${KAVREL_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kavrel-companion)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KAVREL_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://kavrel.app)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "tray companion of the Kavrel music service
Kavrel Companion runs in the system tray and connects this computer to a
Kavrel account through its connector: it pairs the computer with a one-use
code, relays a Roon Server on the local network, shows the cloud and
scrobbling state, and shares what an MPRIS music player is playing.")
# Libraries it links come from dpkg-shlibdeps; these are loaded at run time, so nothing finds them there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-layouts, qml6-module-qtquick-window, qml6-module-qtquick-templates, qml6-module-qtqml-workerscript, qt6-qpa-plugins, libqt6svg6"
)
# The storage key lives in a Secret Service; any provider of one will do.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring | keepassxc")
include(CPack)
