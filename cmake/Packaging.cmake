# What CPack makes of everything installed: on Linux the Debian package (cpack -G DEB); for
# Windows the installer and the zip (cpack -G "NSIS;ZIP").
set(CPACK_PACKAGE_NAME kelvara)
set(CPACK_PACKAGE_VERSION ${KELVARA_VERSION_TEXT})
set(CPACK_PACKAGE_VENDOR "Corvex&Lumara")
set(CPACK_PACKAGE_CONTACT "Kelvara developers <support@corvex-lumara.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "compose the AT commands that set up Bluetooth Low Energy modules")
set(CPACK_STRIP_FILES ON)

if(WIN32)
    set(CPACK_GENERATOR "NSIS;ZIP")
    set(CPACK_PACKAGE_FILE_NAME kelvara-${KELVARA_VERSION_TEXT}-win64)
    set(CPACK_PACKAGE_INSTALL_DIRECTORY Kelvara)
    set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Kelvara)
    set(CPACK_PACKAGE_EXECUTABLES kelvara Kelvara)
    set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/data/windows/LICENSE.txt)
    # The name in the Start menu and among Windows' programs (which show the version beside it).
    set(CPACK_NSIS_PACKAGE_NAME Kelvara)
    set(CPACK_NSIS_DISPLAY_NAME Kelvara)
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
    set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
    set(CPACK_NSIS_INSTALLED_ICON_NAME kelvara.exe)
    set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/data/windows/kelvara.ico)
    set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/data/windows/kelvara.ico)
    set(CPACK_NSIS_URL_INFO_ABOUT ${PROJECT_HOMEPAGE_URL})
    set(CPACK_NSIS_CONTACT "support@corvex-lumara.example")
    # The options page offers to put the install folder (kelvara-cli) on the system PATH, on by
    # default; the uninstaller takes it off again. CPack's own way adds a bin folder we do not
    # have, so the page's text is ours (data/windows/nsis/NSIS.InstallOptions.ini.in), and so is
    # the NSIS code that changes the PATH, read in by PackagingPerGenerator.cmake.
    set(CPACK_NSIS_MODIFY_PATH ON)
    set(CPACK_MODULE_PATH ${PROJECT_SOURCE_DIR}/data/windows/nsis)
    set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
    # The installer alone is called ...-setup.exe; the zip keeps the plain name.
    set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/PackagingPerGenerator.cmake)
    include(CPack)
    return()
endif()

set(CPACK_GENERATOR DEB)
string(JOIN "\n" CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kelvara checks a few Bluetooth Low Energy identifiers (the UUIDs of a"
    "slave's Notify and Write characteristics, or an iBeacon UUID with its Major"
    "and Minor) and composes the exact list of AT commands that sets up a module,"
    "ready to select and copy, or sends it to the module on a serial port."
    "."
    "The package holds the desktop program kelvara and its command-line twin"
    "kelvara-cli.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
