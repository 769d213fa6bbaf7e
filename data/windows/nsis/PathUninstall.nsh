  ; The install folder taken off the system PATH again, wherever it stands in it.
  StrCmp $ADD_TO_PATH_ALL_USERS "1" 0 kelvaraUnPathDone
  ClearErrors
  ReadRegStr $R0 HKLM "SYSTEM\CurrentControlSet\Control\Session Manager\Environment" "Path"
  IfErrors kelvaraUnPathDone
  StrLen $R1 ";$R0;"
  IntOp $R2 ${NSIS_MAX_STRLEN} - 1
  IntCmp $R1 $R2 kelvaraUnPathDone 0 kelvaraUnPathDone
  ${UnStrRep} $R1 ";$R0;" ";$INSTDIR;" ";"
  StrCpy $R1 $R1 "" 1
  StrCpy $R1 $R1 -1
  StrCmp $R1 $R0 kelvaraUnPathDone
  WriteRegExpandStr HKLM "SYSTEM\CurrentControlSet\Control\Session Manager\Environment" "Path" $R1
  !insertmacro KelvaraTellEnvironment
kelvaraUnPathDone:
