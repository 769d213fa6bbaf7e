# Read by CPack for each generator in turn.
if(CPACK_GENERATOR STREQUAL "NSIS")
    set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
    # NSIS code as it stands in its files, with the package's @-names filled in: read here, it
    # reaches the installer's script as is.
    # The version as Windows writes it, four numbers: 1.02 is 1.2.0.0.
    string(REPLACE "." ";" parts "${CPACK_PACKAGE_VERSION}")
    list(GET parts 0 major)
    list(GET parts 1 minor)
    math(EXPR minor "${minor}")
    set(KELVARA_VERSION_QUAD "${major}.${minor}.0.0")
    foreach(part Defines:CPACK_NSIS_DEFINES PathInstall:CPACK_NSIS_EXTRA_INSTALL_COMMANDS
                 PathUninstall:CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS)
        string(REPLACE ":" ";" part "${part}")
        list(GET part 0 file)
        list(GET part 1 variable)
        file(READ ${CPACK_MODULE_PATH}/${file}.nsh text)
        string(CONFIGURE "${text}" ${variable} @ONLY)
    endforeach()
endif()
