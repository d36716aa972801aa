# `make package`: a Debian package of the installed layout, dependencies found by dpkg-shlibdeps.
set(QUIL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quillet)
set(quil_changelog ${CMAKE_BINARY_DIR}/share/doc/quillet/changelog.gz)
add_custom_command(OUTPUT ${quil_changelog}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share/doc/quillet
    COMMAND sh -c "gzip -9n < \"$1\" > \"$2\"" sh ${CMAKE_SOURCE_DIR}/packaging/changelog
            ${quil_changelog}
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog
    VERBATIM
    COMMENT "Compressing the package changelog")
add_custom_target(quillet_changelog ALL DEPENDS ${quil_changelog})
install(FILES ${quil_changelog} ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${QUIL_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillet)
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Corvane <packages@corvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "record, rip, extract and dump audio into WAV, MP3, WMA or OGG")
# Debian wants the long description in lines of at most 80 characters.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Quillet writes what you hear into audio files. It records the sound card"
    "(a microphone, a line input or what the speakers play), rips the tracks of"
    "audio CDs and disc images, extracts the audio of any media file and records"
    "network streams whose addresses it finds in the network traffic."
    "."
    "The package holds the desktop program Quilmain and the command-line tool"
    "quilgrab.")
set(CPACK_PACKAGE_FILE_NAME quillet)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://quillet.corvane.example/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The libraries next to the programs belong to the package itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
# Links open through xdg-open; recording needs a PulseAudio-compatible server.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, pulseaudio | pipewire-pulse")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
