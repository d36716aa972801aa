# `cmake --install`: everything that runs lives in one folder, lib/quillet, where programs find
# their libraries ($ORIGIN), the CD plug-in and "update.ini"; bin/ has links to the programs.
include(GNUInstallDirs)
set(QUIL_PROGRAM_DIR ${CMAKE_INSTALL_LIBDIR}/quillet)

set(quil_installed)
foreach(target IN ITEMS Quilmain Quilmend quilgrab quilgrab_commands Quildisc Quilmedia Quilline
        update trackpump trackpump_page quil_com quil_registry quil_profile quil_window quil_graph
        quil_filters quil_wmf quil_audio quil_sectorlink quil_net)
    if(TARGET ${target})
        list(APPEND quil_installed ${target})
    endif()
endforeach()
install(TARGETS ${quil_installed}
    RUNTIME DESTINATION ${QUIL_PROGRAM_DIR}
    LIBRARY DESTINATION ${QUIL_PROGRAM_DIR})

foreach(file IN ITEMS update.ini update.pub)
    if(EXISTS ${CMAKE_BINARY_DIR}/bin/${file})
        install(FILES ${CMAKE_BINARY_DIR}/bin/${file} DESTINATION ${QUIL_PROGRAM_DIR})
    endif()
endforeach()

foreach(program IN ITEMS Quilmain Quilmend quilgrab)
    if(TARGET ${program})
        install(CODE "
            file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
            file(CREATE_LINK ../${QUIL_PROGRAM_DIR}/${program}
                 \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\" SYMBOLIC)")
    endif()
endforeach()

if(TARGET Quilmain)
    install(FILES ${CMAKE_SOURCE_DIR}/app/shell/resources/quillet.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(DIRECTORY ${CMAKE_BINARY_DIR}/share/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
endif()

# Man pages are written in scdoc and turned into groff here; Debian wants them compressed.
find_program(SCDOC_PROGRAM scdoc)
find_program(GZIP_PROGRAM gzip)
if(SCDOC_PROGRAM AND GZIP_PROGRAM)
    set(quil_man_pages)
    foreach(page IN ITEMS Quilmain.1 Quilmend.1 quilgrab.1)
        set(source ${CMAKE_SOURCE_DIR}/docs/${page}.scd)
        set(output ${CMAKE_BINARY_DIR}/share/man/man1/${page}.gz)
        add_custom_command(OUTPUT ${output}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share/man/man1
            # Two steps, so a page scdoc rejects fails the build instead of shipping empty.
            COMMAND sh -c "\"$1\" < \"$2\" > \"$3\"" sh ${SCDOC_PROGRAM} ${source}
                    ${CMAKE_BINARY_DIR}/share/man/man1/${page}
            COMMAND ${GZIP_PROGRAM} -9nf ${CMAKE_BINARY_DIR}/share/man/man1/${page}
            DEPENDS ${source}
            VERBATIM
            COMMENT "Building the man page ${page}")
        list(APPEND quil_man_pages ${output})
    endforeach()
    add_custom_target(quillet_man_pages ALL DEPENDS ${quil_man_pages})
    install(FILES ${quil_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    message(WARNING "scdoc or gzip not found: the man pages are not built")
endif()

# Written by the build from quilgrab's own parser (tools/quilgrab).
if(TARGET quilgrab)
    install(FILES ${CMAKE_BINARY_DIR}/share/bash-completion/completions/quilgrab
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()

if(TARGET Quilmain)
    install(FILES ${CMAKE_SOURCE_DIR}/app/shell/resources/org.corvane.quillet.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()
