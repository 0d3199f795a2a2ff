; The Windows installer: both programs, the Qt libraries and plugins they
; load, the licences, Start-menu entries and an uninstaller.
;   makensis -DVERSION=1.0.0 -DORIGEN=<deployed folder> -DLISTAS=<folder> -DSALIDA=<setup.exe> quarvel.nsi
; LISTAS holds instalar.nsh and desinstalar.nsh, made from the deployed
; folder: the uninstaller removes those files only, never a folder's other
; contents (the user may have chosen a folder that holds more).
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

Section "Quarvel 3.8 y Quarvel 4.3" SecProgramas
  SectionIn RO
  SetShellVarContext all
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

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMSTARTUP\Quarvel 4.3.lnk"
  Delete "$SMPROGRAMS\Quarvel\Quarvel 3.8.lnk"
  Delete "$SMPROGRAMS\Quarvel\Quarvel 4.3.lnk"
  Delete "$SMPROGRAMS\Quarvel\Desinstalar Quarvel.lnk"
  RMDir "$SMPROGRAMS\Quarvel"
  ; Only what was installed: the users' folders (settings, logs, history)
  ; stay theirs, and so does anything else in the chosen folder.
  !include "${LISTAS}\desinstalar.nsh"
  Delete "$INSTDIR\desinstalar.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${CLAVE_DESINSTALAR}"
  DeleteRegKey HKLM "Software\Quarvel"
SectionEnd
