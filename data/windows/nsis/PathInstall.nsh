  ; The install folder on the system PATH, when the options page says so (the default, and so in
  ; a silent install). A PATH longer than the installer can hold whole is left alone, not cut.
  StrCmp $ADD_TO_PATH_ALL_USERS "1" 0 kelvaraPathDone
  ClearErrors
  ReadRegStr $R0 HKLM "SYSTEM\CurrentControlSet\Control\Session Manager\Environment" "Path"
  IfErrors kelvaraPathTooLong
  StrLen $R1 ";$R0;$INSTDIR;"
  IntOp $R2 ${NSIS_MAX_STRLEN} - 1
  IntCmp $R1 $R2 kelvaraPathTooLong 0 kelvaraPathTooLong
  Push ";$R0;"
  Push ";$INSTDIR;"
  Call StrStr
  Pop $R1
  StrCmp $R1 "" 0 kelvaraPathDone
  StrCpy $R1 $R0 1 -1
  StrCmp $R1 ";" +2
  StrCpy $R0 "$R0;"
  StrCmp $R0 ";" 0 +2
  StrCpy $R0 ""
  WriteRegExpandStr HKLM "SYSTEM\CurrentControlSet\Control\Session Manager\Environment" "Path" "$R0$INSTDIR"
  !insertmacro KelvaraTellEnvironment
  Goto kelvaraPathDone
kelvaraPathTooLong:
  DetailPrint "The PATH is too long to change here: add $INSTDIR to it yourself."
  ; A silent install has no details to read: its exit status says it.
  IfSilent 0 kelvaraPathDone
  SetErrorLevel ${KELVARA_PATH_UNCHANGED}
kelvaraPathDone:
  ; Apps & features shows the size installed, in KB.
  ${GetSize} "$INSTDIR" "/S=0K" $R0 $R1 $R2
  IntFmt $R0 "0x%08X" $R0
  WriteRegDWORD SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\@CPACK_PACKAGE_INSTALL_REGISTRY_KEY@" "EstimatedSize" "$R0"
