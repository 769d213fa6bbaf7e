; A 64-bit installer for 64-bit programs: it writes where 64-bit Windows looks (Program Files,
; the registry's own view) and needs no 32-bit subsystem.
Target amd64-unicode
; Replacing in a string, for taking the install folder off the PATH (the installer's template
; has its own StrStr, for finding it there).
!include StrFunc.nsh
${UnStrRep}

; The size of the install folder, for Apps & features.
!include FileFunc.nsh
!insertmacro GetSize

; A silent install that had to leave the PATH as it was (too long to hold whole) exits with this.
!define KELVARA_PATH_UNCHANGED 3

; Every window is told the environment changed, so that new command prompts see the PATH; a
; window that does not answer is skipped rather than waited for (SMTO_ABORTIFHUNG), 5 s at most.
!macro KelvaraTellEnvironment
  System::Call 'user32::SendMessageTimeoutW(p 0xffff, i 0x1a, p 0, w "Environment", i 0x2, i 5000, *p .r0)'
!macroend

; The installer's own version, as Explorer shows it in its properties.
VIProductVersion "@KELVARA_VERSION_QUAD@"
VIFileVersion "@KELVARA_VERSION_QUAD@"
VIAddVersionKey /LANG=1033 "ProductName" "Kelvara"
VIAddVersionKey /LANG=1033 "ProductVersion" "@CPACK_PACKAGE_VERSION@"
VIAddVersionKey /LANG=1033 "FileVersion" "@CPACK_PACKAGE_VERSION@"
VIAddVersionKey /LANG=1033 "FileDescription" "Kelvara @CPACK_PACKAGE_VERSION@ setup"
VIAddVersionKey /LANG=1033 "CompanyName" "@CPACK_PACKAGE_VENDOR@"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright 2026 @CPACK_PACKAGE_VENDOR@"
