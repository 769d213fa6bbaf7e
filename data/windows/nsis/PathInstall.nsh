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
  SendMessage ${HWND_BROADCAST} ${WM_WININICHANGE} 0 "STR:Environment" /TIMEOUT=5000
  Goto kelvaraPathDone
kelvaraPathTooLong:
  DetailPrint "The PATH is too long to change here: add $INSTDIR to it yourself."
kelvaraPathDone:
