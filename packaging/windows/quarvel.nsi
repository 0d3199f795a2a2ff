; The Windows installer: both programs, the Qt libraries and plugins they
; load, the licences, Start-menu entries and an uninstaller.
;   makensis -DVERSION=1.0.0 -DORIGEN=<deployed folder> -DLISTAS=<folder> -DSALIDA=<setup.exe> quarvel.nsi
; LISTAS holds instalar.nsh, archivos.nsh and carpetas.nsh, made from the
; deployed folder: the uninstaller removes those files only, never a
; folder's other contents (the user may have chosen a folder that holds more).
; Copies of the programs that run from the folder are asked to close first,
; and every file must be free before one is written or removed: a file held
; open stops it all (exit code 2 when silent), never half an installation.
; A 64-bit installer: the programs are 64-bit, and it sees the 64-bit
; Program Files and registry as they are.
Target amd64-unicode
!include MUI2.nsh

!ifndef VERSION
  !error "VERSION is needed"
!endif
!ifndef ORIGEN
  !error "ORIGEN (the deployed folder) is needed"
!endif
!ifndef LISTAS
  !error "LISTAS (the file lists) is needed"
!endif
!ifndef SALIDA
  !define SALIDA "quarvel-${VERSION}-setup.exe"
!endif

Name "Quarvel ${VERSION}"
OutFile "${SALIDA}"
InstallDir "$PROGRAMFILES64\Quarvel"
InstallDirRegKey HKLM "Software\Quarvel" "Carpeta"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
; A file that cannot be written is never skipped: retry or cancel.
AllowSkipFiles off
!define CLAVE_DESINSTALAR "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarvel"

!define MUI_ICON "${ORIGEN}\quarvel.ico"
!define MUI_UNICON "${ORIGEN}\quarvel.ico"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_LICENSE "${ORIGEN}\LICENCIAS.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Spanish"

Var quedan

; Every copy of the programs that runs from $INSTDIR (its hidden window's
; title is its path, "|", its working folder) is asked to close as its
; window's close does, and waited for, up to 30 s. The checkers' folders go
; to $PLUGINSDIR\reabrir.txt, to be started again afterwards.
!macro CERRAR_PROGRAMAS UN
Function ${UN}Buscar
  ; $R8 = 1 asks them to close; $R9 counts those found.
  StrCpy $R9 0
  StrCpy $R0 0
  bucle:
    FindWindow $R0 "QuarvelFinDeSesion" "" 0 $R0
    StrCmp $R0 0 fin
    System::Call 'user32::GetWindowTextW(p $R0, w .R1, i ${NSIS_MAX_STRLEN}) i'
    StrCpy $R2 "$INSTDIR\Quarvel430.exe|"
    StrLen $R3 $R2
    StrCpy $R4 $R1 $R3
    StrCmp $R4 $R2 chequeador
    StrCpy $R2 "$INSTDIR\Quarvel38.exe|"
    StrLen $R3 $R2
    StrCpy $R4 $R1 $R3
    StrCmp $R4 $R2 suyo bucle
  chequeador:
    StrCmp $R8 1 0 suyo
    StrCpy $R4 $R1 "" $R3
    FileOpen $R5 "$PLUGINSDIR\reabrir.txt" a
    FileSeek $R5 0 END
    FileWriteUTF16LE $R5 "$R4$\r$\n"
    FileClose $R5
  suyo:
    IntOp $R9 $R9 + 1
    StrCmp $R8 1 0 bucle
    SendMessage $R0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
    Goto bucle
  fin:
FunctionEnd

Function ${UN}CerrarProgramas
  InitPluginsDir
  Delete "$PLUGINSDIR\reabrir.txt"
  StrCpy $R8 1
  Call ${UN}Buscar
  StrCmp $R9 0 hecho
  DetailPrint "Cerrando los Quarvel en marcha desde $INSTDIR: $R9"
  StrCpy $R8 0
  StrCpy $R7 0
  espera:
    Sleep 100
    Call ${UN}Buscar
    StrCmp $R9 0 hecho
    IntOp $R7 $R7 + 1
    IntCmp $R7 300 hecho espera hecho
  hecho:
FunctionEnd

; The file on the stack, when it exists, can be written (so replaced or
; removed): a running program's own files cannot. A copy just closed may
; hold them a moment longer: 5 s before asking.
Function ${UN}Libre
  Exch $R0
  IfFileExists $R0 0 libre
  StrCpy $R1 0
  intento:
    ClearErrors
    FileOpen $R2 $R0 a
    IfErrors 0 abierto
    IntOp $R1 $R1 + 1
    IntCmp $R1 50 0 otra_vez 0
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "No se puede escribir en $R0: lo tiene abierto otro programa (quizá Quarvel, en otra sesión de Windows). Ciérrelo y pulse Reintentar; Cancelar lo deja todo como estaba." /SD IDCANCEL IDRETRY otra_vez
    DetailPrint "En uso: $R0"
    SetErrorLevel 2
    Abort "En uso: $R0. Nada se ha cambiado."
  otra_vez:
    Sleep 100
    Goto intento
  abierto:
    FileClose $R2
  libre:
  Pop $R0
FunctionEnd
!macroend
!insertmacro CERRAR_PROGRAMAS ""
!insertmacro CERRAR_PROGRAMAS "un."

; What archivos.nsh does with each installed file: ${CADA} names one of these.
!macro LIBRE ARCHIVO
  Push "$INSTDIR\${ARCHIVO}"
  Call Libre
!macroend
!macro UN_LIBRE ARCHIVO
  Push "$INSTDIR\${ARCHIVO}"
  Call un.Libre
!macroend
!macro QUITAR ARCHIVO
  Delete "$INSTDIR\${ARCHIVO}"
  IfFileExists "$INSTDIR\${ARCHIVO}" 0 +3
    DetailPrint "No se pudo quitar: $INSTDIR\${ARCHIVO}"
    StrCpy $quedan "$INSTDIR\${ARCHIVO}"
!macroend

; The checkers that were closed, started again in their folders (the
; previous installation's, when this one failed and left it whole).
Function Reabrir
  IfFileExists "$PLUGINSDIR\reabrir.txt" 0 fin
  FileOpen $R0 "$PLUGINSDIR\reabrir.txt" r
  bucle:
    ClearErrors
    FileReadUTF16LE $R0 $R1
    IfErrors cerrar
    StrCpy $R2 $R1 2 -2
    StrCmp $R2 "$\r$\n" 0 +2
      StrCpy $R1 $R1 -2
    IfFileExists "$R1\*.*" 0 bucle
    SetOutPath $R1
    Exec '"$INSTDIR\Quarvel430.exe"'
    Goto bucle
  cerrar:
  FileClose $R0
  Delete "$PLUGINSDIR\reabrir.txt"
  SetOutPath $INSTDIR
  fin:
FunctionEnd

Function .onInstFailed
  Call Reabrir
FunctionEnd

Section "Quarvel 3.8 y Quarvel 4.3" SecProgramas
  SectionIn RO
  SetShellVarContext all
  ; Every installed file free, or nothing is touched.
  Call CerrarProgramas
  !define CADA LIBRE
  !include "${LISTAS}\archivos.nsh"
  !undef CADA
  !include "${LISTAS}\instalar.nsh"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\desinstalar.exe"
  ; Each user gets a folder of their own: the entries start the programs in
  ; %LOCALAPPDATA%\Quarvel, made with ready settings on first use.
  CreateDirectory "$SMPROGRAMS\Quarvel"
  CreateShortCut "$SMPROGRAMS\Quarvel\Quarvel 3.8.lnk" "$INSTDIR\Quarvel38.exe" "--carpeta-de-usuario" "$INSTDIR\quarvel.ico"
  CreateShortCut "$SMPROGRAMS\Quarvel\Quarvel 4.3.lnk" "$INSTDIR\Quarvel430.exe" "--carpeta-de-usuario" "$INSTDIR\quarvel.ico"
  CreateShortCut "$SMPROGRAMS\Quarvel\Desinstalar Quarvel.lnk" "$INSTDIR\desinstalar.exe"
  WriteRegStr HKLM "Software\Quarvel" "Carpeta" "$INSTDIR"
  WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "DisplayName" "Quarvel ${VERSION}"
  WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "Publisher" "Quarvel"
  WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "DisplayIcon" "$INSTDIR\quarvel.ico"
  WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "UninstallString" '"$INSTDIR\desinstalar.exe"'
  WriteRegStr HKLM "${CLAVE_DESINSTALAR}" "QuietUninstallString" '"$INSTDIR\desinstalar.exe" /S'
  WriteRegDWORD HKLM "${CLAVE_DESINSTALAR}" "NoModify" 1
  WriteRegDWORD HKLM "${CLAVE_DESINSTALAR}" "NoRepair" 1
SectionEnd

Section /o "Iniciar Quarvel 4.3 con la sesión" SecInicio
  SetShellVarContext all
  CreateShortCut "$SMSTARTUP\Quarvel 4.3.lnk" "$INSTDIR\Quarvel430.exe" "--carpeta-de-usuario" "$INSTDIR\quarvel.ico"
SectionEnd

Section "-Reabrir"
  Call Reabrir
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Call un.CerrarProgramas
  !define CADA UN_LIBRE
  !include "${LISTAS}\archivos.nsh"
  !undef CADA
  ; Only what was installed: the users' folders (settings, logs, history)
  ; stay theirs, and so does anything else in the chosen folder.
  StrCpy $quedan ""
  !define CADA QUITAR
  !include "${LISTAS}\archivos.nsh"
  !undef CADA
  ; Something took a file meanwhile: the uninstaller and its entry stay,
  ; to be run again.
  StrCmp $quedan "" quitado
    MessageBox MB_OK|MB_ICONSTOP "No se pudo quitar $quedan: lo tiene abierto otro programa. Ciérrelo y desinstale de nuevo." /SD IDOK
    SetErrorLevel 2
    Abort "Desinstalación incompleta: queda $quedan"
  quitado:
  !include "${LISTAS}\carpetas.nsh"
  Delete "$SMSTARTUP\Quarvel 4.3.lnk"
  Delete "$SMPROGRAMS\Quarvel\Quarvel 3.8.lnk"
  Delete "$SMPROGRAMS\Quarvel\Quarvel 4.3.lnk"
  Delete "$SMPROGRAMS\Quarvel\Desinstalar Quarvel.lnk"
  RMDir "$SMPROGRAMS\Quarvel"
  Delete "$INSTDIR\desinstalar.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${CLAVE_DESINSTALAR}"
  DeleteRegKey HKLM "Software\Quarvel"
SectionEnd
