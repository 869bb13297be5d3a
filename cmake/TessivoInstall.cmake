# What `cmake --install` puts under the prefix:
#   bin/                      tessivo128, tessivo128-capture (and tessivo128-tango when built)
#   lib/tessivo128/           libftd2xx-sim.so, the simulator's drop-in D2XX library
#   share/tessivo128/         the digit model and the answer pictures (only ever read)
#   share/applications/       the desktop entry
#   share/icons/hicolor/      the application icon
#   share/man/man1/           the tools' manual pages, from their --help (with help2man)
# The project's own libraries are static, so the executables need only system
# libraries and no run path. The console finds share/tessivo128 from its own
# folder (ConsolePaths::shippedFolderFor), wherever the prefix is.

set(TESSIVO_PRIVATE_LIBDIR lib/tessivo128)

install(TARGETS tessivo128 tessivo128-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tessivo128-tango)
    install(TARGETS tessivo128-tango RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS ftd2xx_sim LIBRARY DESTINATION ${TESSIVO_PRIVATE_LIBDIR})

install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/detect/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tessivo128
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/${TESSIVO_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# Manual pages: cheap with help2man, left out without it. The console answers
# --help without a display; the capture tool needs none anyway.
find_program(TESSIVO_HELP2MAN help2man)
if(TESSIVO_HELP2MAN)
    set(tessivo_man_pages)
    set(tessivo128_summary "console for the ZK128 photodetector matrix")
    set(tessivo128-capture_summary "capture and save a ZK128 run without the window")
    foreach(tool tessivo128 tessivo128-capture)
        set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${tool}.1)
        add_custom_command(
            OUTPUT ${page}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
            COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                    ${TESSIVO_HELP2MAN} --no-info --no-discard-stderr --section=1
                    --version-string=${PROJECT_VERSION} --name=${${tool}_summary} --output=${page}
                    $<TARGET_FILE:${tool}>
            DEPENDS ${tool}
            COMMENT "Manual page of ${tool}"
            VERBATIM)
        list(APPEND tessivo_man_pages ${page})
    endforeach()
    add_custom_target(tessivo_man_pages ALL DEPENDS ${tessivo_man_pages})
    install(FILES ${tessivo_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    message(STATUS "No help2man: the manual pages are not built")
endif()
