# Read by CPack for each generator in turn.
if(CPACK_GENERATOR STREQUAL "NSIS")
    set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
    # NSIS code as it stands in its files: read here, it reaches the installer's script as is.
    file(READ ${CPACK_MODULE_PATH}/Defines.nsh CPACK_NSIS_DEFINES)
    file(READ ${CPACK_MODULE_PATH}/PathInstall.nsh CPACK_NSIS_EXTRA_INSTALL_COMMANDS)
    file(READ ${CPACK_MODULE_PATH}/PathUninstall.nsh CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS)
endif()
