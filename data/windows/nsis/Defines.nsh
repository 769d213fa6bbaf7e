; A 64-bit installer for 64-bit programs: it writes where 64-bit Windows looks (Program Files,
; the registry's own view) and needs no 32-bit subsystem.
Target amd64-unicode
; Replacing in a string, for taking the install folder off the PATH (the installer's template
; has its own StrStr, for finding it there).
!include StrFunc.nsh
${UnStrRep}
