; The Windows installer: both programs, the Qt libraries and plugins they
; load, the licences, Start-menu entries and an uninstaller, for all users
; (Program Files, HKLM) or for the one running it (no administrator needed:
; %LOCALAPPDATA%\Programs, HKCU).
;   makensis -DVERSION=1.0.0 -DORIGEN=<deployed folder> -DLISTAS=<folder> -DSALIDA=<setup.exe> quarvel.nsi
; LISTAS holds instalar.nsh, archivos.nsh and carpetas.nsh, made from the
; deployed folder: the uninstaller removes those files only, never a
; folder's other contents (the user may have chosen a folder that holds more).
; Copies of the programs that run from the folder are asked to close first,
; services that run its Quarvel430.exe are stopped, and every file must be
; free before one is written or removed: a file held open stops it all,
; never half an installation.
; Exit codes (silent): 0 done; 1 cancelled; 2 a file in use, nothing changed;
; 3 a newer version is installed; 4 a service could not be stopped (or, when
; uninstalling, is still registered); 5 the switches cannot be followed.
; A 64-bit installer: the programs are 64-bit, and it sees the 64-bit
; Program Files and registry as they are.
Target amd64-unicode
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include nsDialogs.nsh

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
; No InstallDir: $INSTDIR empty in .onInit means no /D was given, and the
; folder follows the mode.
; Highest: an administrator may install for everyone, anyone for themselves.
RequestExecutionLevel highest
SetCompressor /SOLID lzma
; A file that cannot be written is never skipped: retry or cancel.
AllowSkipFiles off
; Both under SHCTX: HKLM for all users, HKCU for one.
!define CLAVE "Software\Quarvel"
!define CLAVE_DESINSTALAR "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarvel"

!define MUI_ICON "${ORIGEN}\quarvel.ico"
!define MUI_UNICON "${ORIGEN}\quarvel.ico"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_LICENSE "${ORIGEN}\LICENCIAS.txt"
Page custom PaginaModo PaginaModoFin
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Spanish"

Var quedan
; "todos" or "usuario".
Var modo
Var administrador
; 1 when /D named the folder: the mode does not move it then.
Var carpeta_dada
; This mode's installed version, "" when none.
Var instalada
Var radio_todos

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
; The services whose program is $INSTDIR\Quarvel430.exe, one a line in
; $PLUGINSDIR\servicios.txt; $R9 counts them. The registry lists them all,
; running or not, which the service manager's own calls do not do simply.
Function ${UN}Servicios
  InitPluginsDir
  Delete "$PLUGINSDIR\servicios.txt"
  StrCpy $R9 0
  StrCpy $R0 0
  StrCpy $R3 '"$INSTDIR\Quarvel430.exe"'
  StrLen $R4 $R3
  bucle:
    EnumRegKey $R1 HKLM "SYSTEM\CurrentControlSet\Services" $R0
    StrCmp $R1 "" fin
    IntOp $R0 $R0 + 1
    ReadRegStr $R2 HKLM "SYSTEM\CurrentControlSet\Services\$R1" "ImagePath"
    StrCpy $R2 $R2 $R4
    StrCmp $R2 $R3 0 bucle
    FileOpen $R5 "$PLUGINSDIR\servicios.txt" a
    FileSeek $R5 0 END
    FileWriteUTF16LE $R5 "$R1$\r$\n"
    FileClose $R5
    IntOp $R9 $R9 + 1
    Goto bucle
  fin:
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

; The services that run $INSTDIR\Quarvel430.exe are stopped as sc stop
; does (they write qv_int.ini), so that none runs an old program beside new
; libraries; $PLUGINSDIR\parados.txt keeps those stopped, to start again.
; One that cannot be stopped (not an administrator, or it does not stop in
; 35 s) stops it all: exit code 4.
Function PararServicios
  Delete "$PLUGINSDIR\parados.txt"
  Call Servicios
  StrCmp $R9 0 fin
  System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i 1) p .R6'
  System::Alloc 28
  Pop $R7
  FileOpen $R0 "$PLUGINSDIR\servicios.txt" r
  bucle:
    ClearErrors
    FileReadUTF16LE $R0 $R1
    IfErrors cerrar
    StrCpy $R1 $R1 -2
    ; Its state first, which anyone may ask: a stopped one is left alone.
    System::Call 'advapi32::OpenServiceW(p R6, w R1, i 4) p .R2'
    StrCmp $R2 0 bucle
    System::Call 'advapi32::QueryServiceStatus(p R2, p R7) i .R3'
    System::Call 'advapi32::CloseServiceHandle(p R2)'
    System::Call '*$R7(i, i .R3)'
    IntCmp $R3 1 bucle
    ; SERVICE_QUERY_STATUS | SERVICE_STOP | SERVICE_START
    System::Call 'advapi32::OpenServiceW(p R6, w R1, i 0x34) p .R2'
    StrCmp $R2 0 no_se_para
    DetailPrint "Parando el servicio $R1"
    System::Call 'advapi32::ControlService(p R2, i 1, p R7) i .R3'
    StrCpy $R4 0
    espera:
      System::Call 'advapi32::QueryServiceStatus(p R2, p R7) i .R3'
      System::Call '*$R7(i, i .R3)'
      IntCmp $R3 1 parado
      Sleep 100
      IntOp $R4 $R4 + 1
      IntCmp $R4 350 0 espera 0
    System::Call 'advapi32::CloseServiceHandle(p R2)'
    Goto no_se_para
  parado:
    System::Call 'advapi32::CloseServiceHandle(p R2)'
    FileOpen $R5 "$PLUGINSDIR\parados.txt" a
    FileSeek $R5 0 END
    FileWriteUTF16LE $R5 "$R1$\r$\n"
    FileClose $R5
    Goto bucle
  no_se_para:
    FileClose $R0
    System::Free $R7
    System::Call 'advapi32::CloseServiceHandle(p R6)'
    MessageBox MB_OK|MB_ICONSTOP "El servicio $R1 ejecuta $INSTDIR\Quarvel430.exe y no se pudo parar. Párelo (sc stop $R1, como administrador) y ejecute de nuevo el instalador." /SD IDOK
    SetErrorLevel 4
    Abort "No se pudo parar el servicio $R1. Nada se ha cambiado."
  cerrar:
  FileClose $R0
  System::Free $R7
  System::Call 'advapi32::CloseServiceHandle(p R6)'
  fin:
FunctionEnd

; The checkers that were closed, started again in their folders, and the
; services that were stopped (the previous installation's, when this one
; failed and left it whole).
Function Reabrir
  IfFileExists "$PLUGINSDIR\parados.txt" 0 programas
  System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i 1) p .R6'
  FileOpen $R0 "$PLUGINSDIR\parados.txt" r
  servicio:
    ClearErrors
    FileReadUTF16LE $R0 $R1
    IfErrors servicios_hechos
    StrCpy $R1 $R1 -2
    DetailPrint "Arrancando de nuevo el servicio $R1"
    System::Call 'advapi32::OpenServiceW(p R6, w R1, i 0x10) p .R2'
    System::Call 'advapi32::StartServiceW(p R2, i 0, p 0) i .R3'
    System::Call 'advapi32::CloseServiceHandle(p R2)'
    Goto servicio
  servicios_hechos:
  FileClose $R0
  System::Call 'advapi32::CloseServiceHandle(p R6)'
  Delete "$PLUGINSDIR\parados.txt"
  programas:
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
  ; Every installed file free, or nothing is touched.
  Call CerrarProgramas
  Call PararServicios
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
  WriteRegStr SHCTX "${CLAVE}" "Carpeta" "$INSTDIR"
  WriteRegStr SHCTX "${CLAVE_DESINSTALAR}" "DisplayName" "Quarvel ${VERSION}"
  WriteRegStr SHCTX "${CLAVE_DESINSTALAR}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${CLAVE_DESINSTALAR}" "Publisher" "Quarvel"
  WriteRegStr SHCTX "${CLAVE_DESINSTALAR}" "DisplayIcon" "$INSTDIR\quarvel.ico"
  WriteRegStr SHCTX "${CLAVE_DESINSTALAR}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${CLAVE_DESINSTALAR}" "UninstallString" '"$INSTDIR\desinstalar.exe"'
  WriteRegStr SHCTX "${CLAVE_DESINSTALAR}" "QuietUninstallString" '"$INSTDIR\desinstalar.exe" /S'
  WriteRegDWORD SHCTX "${CLAVE_DESINSTALAR}" "NoModify" 1
  WriteRegDWORD SHCTX "${CLAVE_DESINSTALAR}" "NoRepair" 1
  ; Its Startup folder is this mode's: the user's own, or all users'.
  Delete "$SMSTARTUP\Quarvel 4.3.lnk"
  WriteRegDWORD SHCTX "${CLAVE}" "Inicio" 0
SectionEnd

Section /o "Iniciar Quarvel 4.3 con la sesión" SecInicio
  CreateShortCut "$SMSTARTUP\Quarvel 4.3.lnk" "$INSTDIR\Quarvel430.exe" "--carpeta-de-usuario" "$INSTDIR\quarvel.ico"
  WriteRegDWORD SHCTX "${CLAVE}" "Inicio" 1
SectionEnd

Section "-Reabrir"
  Call Reabrir
SectionEnd

; The mode's context, folder (unless /D named one), installed version and
; whether its checker starts with the session: /INICIO and /SININICIO say,
; or else what this mode's installation had.
Function Modo
  ${If} $modo == "todos"
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
  ${If} $carpeta_dada != 1
    ReadRegStr $INSTDIR SHCTX "${CLAVE}" "Carpeta"
    ${If} $INSTDIR == ""
      ${If} $modo == "todos"
        StrCpy $INSTDIR "$PROGRAMFILES64\Quarvel"
      ${Else}
        GetKnownFolderPath $INSTDIR {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}
        StrCmp $INSTDIR "" 0 +2
          StrCpy $INSTDIR "$LOCALAPPDATA\Programs"
        StrCpy $INSTDIR "$INSTDIR\Quarvel"
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ReadRegStr $instalada SHCTX "${CLAVE_DESINSTALAR}" "DisplayVersion"
  ReadRegDWORD $R0 SHCTX "${CLAVE}" "Inicio"
  ${GetParameters} $R1
  ClearErrors
  ${GetOptions} $R1 "/INICIO" $R2
  ${IfNot} ${Errors}
    StrCpy $R0 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R1 "/SININICIO" $R2
  ${IfNot} ${Errors}
    StrCpy $R0 0
  ${EndIf}
  ${If} $R0 == 1
    SectionSetFlags ${SecInicio} ${SF_SELECTED}
  ${Else}
    SectionSetFlags ${SecInicio} 0
  ${EndIf}
FunctionEnd

; A newer version in this mode's place: asked first; refused when silent.
; $R0 is 1 when it goes on.
Function Version
  StrCpy $R0 1
  StrCmp $instalada "" fin
  ${VersionCompare} $instalada "${VERSION}" $R1
  StrCmp $R1 1 0 fin
  MessageBox MB_YESNO|MB_ICONQUESTION "Está instalada la versión $instalada de Quarvel, más nueva que esta (${VERSION}). ¿Instalar la ${VERSION} en su lugar?" /SD IDNO IDYES fin
  StrCpy $R0 0
  fin:
FunctionEnd

Function .onInit
  UserInfo::GetAccountType
  Pop $R0
  StrCpy $administrador 0
  StrCmp $R0 "Admin" 0 +2
    StrCpy $administrador 1
  StrCpy $carpeta_dada 0
  StrCmp $INSTDIR "" +2
    StrCpy $carpeta_dada 1
  ${GetParameters} $R1
  ClearErrors
  ${GetOptions} $R1 "/ALLUSERS" $R2
  ${IfNot} ${Errors}
    StrCpy $modo "todos"
  ${EndIf}
  ClearErrors
  ${GetOptions} $R1 "/CURRENTUSER" $R2
  ${IfNot} ${Errors}
    ${If} $modo == "todos"
      MessageBox MB_OK|MB_ICONSTOP "/ALLUSERS y /CURRENTUSER no pueden ir juntos: elija uno." /SD IDOK
      SetErrorLevel 5
      Quit
    ${EndIf}
    StrCpy $modo "usuario"
  ${EndIf}
  ${If} $modo == "todos"
  ${AndIf} $administrador != 1
    MessageBox MB_OK|MB_ICONSTOP "Instalar para todos los usuarios (/ALLUSERS) necesita permisos de administrador. Ejecute el instalador como administrador, o con /CURRENTUSER para instalarlo solo para usted." /SD IDOK
    SetErrorLevel 5
    Quit
  ${EndIf}
  ; Neither: the mode already installed (all users' first), or all users
  ; when the account may, or else this user.
  ${If} $modo == ""
    ${If} $administrador == 1
      StrCpy $modo "todos"
      ReadRegStr $R2 HKLM "${CLAVE_DESINSTALAR}" "DisplayVersion"
      ReadRegStr $R3 HKCU "${CLAVE_DESINSTALAR}" "DisplayVersion"
      ${If} $R2 == ""
      ${AndIf} $R3 != ""
        StrCpy $modo "usuario"
      ${EndIf}
    ${Else}
      StrCpy $modo "usuario"
    ${EndIf}
  ${EndIf}
  Call Modo
  ; With the mode page, it asks there.
  ${If} ${Silent}
  ${OrIf} $administrador != 1
    Call Version
    ${If} $R0 != 1
      SetErrorLevel 3
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

; Who it is for; only an administrator has the choice.
Function PaginaModo
  StrCmp $administrador 1 +2
    Abort
  !insertmacro MUI_HEADER_TEXT "Para quién" "Elija si Quarvel será para todos los usuarios de este PC o solo para usted."
  nsDialogs::Create 1018
  Pop $R0
  ${NSD_CreateLabel} 0 0 100% 24u "Para todos: en Program Files, y en el menú Inicio de cada usuario. Solo para usted: en su carpeta de usuario; otro usuario no lo verá, y actualizarlo o quitarlo no pide permisos de administrador."
  Pop $R0
  ${NSD_CreateRadioButton} 10u 34u -10u 12u "Para todos los usuarios de este PC"
  Pop $radio_todos
  ${NSD_CreateRadioButton} 10u 50u -10u 12u "Solo para mí"
  Pop $R1
  ${If} $modo == "todos"
    ${NSD_Check} $radio_todos
  ${Else}
    ${NSD_Check} $R1
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function PaginaModoFin
  ${NSD_GetState} $radio_todos $R0
  ${If} $R0 == ${BST_CHECKED}
    StrCpy $modo "todos"
  ${Else}
    StrCpy $modo "usuario"
  ${EndIf}
  Call Modo
  Call Version
  ; No: back to the page, to choose the other place or cancel.
  StrCmp $R0 1 +2
    Abort
FunctionEnd

; The uninstaller removes the installation it sits in: the hive whose
; folder is its own.
Function un.onInit
  ReadRegStr $R0 HKLM "${CLAVE}" "Carpeta"
  ReadRegStr $R1 HKCU "${CLAVE}" "Carpeta"
  ${If} $R0 == $INSTDIR
    SetShellVarContext all
  ${ElseIf} $R1 == $INSTDIR
    SetShellVarContext current
  ${Else}
    ; Its keys are gone: the account decides, as installing did.
    UserInfo::GetAccountType
    Pop $R2
    ${If} $R2 == "Admin"
      SetShellVarContext all
    ${Else}
      SetShellVarContext current
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; A service left registered would run a program that is gone.
  Call un.Servicios
  StrCmp $R9 0 sin_servicios
    FileOpen $R0 "$PLUGINSDIR\servicios.txt" r
    FileReadUTF16LE $R0 $R1
    FileClose $R0
    StrCpy $R1 $R1 -2
    ; Those --instalar-servicio made are Quarvel430@NAME.
    StrCpy $R2 $R1 11
    StrCpy $R3 $R1 "" 11
    StrCpy $R3 "Quarvel430 --quitar-servicio $R3"
    StrCmp $R2 "Quarvel430@" +2
      StrCpy $R3 "sc delete $R1"
    MessageBox MB_OK|MB_ICONSTOP "El servicio $R1 ejecuta $INSTDIR\Quarvel430.exe. Quítelo antes, como administrador: $R3" /SD IDOK
    SetErrorLevel 4
    Abort "Queda el servicio $R1. Nada se ha cambiado."
  sin_servicios:
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
  DeleteRegKey SHCTX "${CLAVE_DESINSTALAR}"
  DeleteRegKey SHCTX "${CLAVE}"
SectionEnd
