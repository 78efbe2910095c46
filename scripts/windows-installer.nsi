; The Windows installer: the program folder under Program Files, a Start-menu entry
; and an uninstaller listed in Apps & Features; nothing else. scripts/package-windows
; passes VERSION, FILES (the list of staged files it generated), ICON, OUTFILE and, when
; PELBROOK_SIGN_COMMAND is set, SIGNER (scripts/sign-windows-file).
; 64-bit, as the program: it runs where the program can, and under wine64 alone.
Target amd64-unicode
!include x64.nsh
!include LogicLib.nsh
!include "${FILES}"

!define APPNAME "软件信息提取工具"
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pelbrook"

Name "${APPNAME}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Pelbrook"
; An upgrade goes where the last install went.
InstallDirRegKey HKLM "${UNINSTKEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
Icon "${ICON}"
UninstallIcon "${ICON}"

!ifdef SIGNER
; The uninstaller is signed before it is packed into the installer, the installer once
; it is written; a command that fails or signs nothing stops the build.
!uninstfinalize '"${SIGNER}" "%1"' = 0
!finalize '"${SIGNER}" "%1"' = 0
!endif

Page directory "" "" RefuseWhileInUseAll
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; A per-machine install writes Program Files and HKLM: without an administrator's rights
; (UAC turned off, or a standard account) it stops before anything is written.
!macro REQUIRE_ADMIN
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP "安装或卸载${APPNAME}需要管理员权限。" /SD IDOK
    SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
!macroend

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${APPNAME} 需要 64 位 Windows。" /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  !insertmacro REQUIRE_ADMIN
FunctionEnd

Function un.onInit
  SetRegView 64
  !insertmacro REQUIRE_ADMIN
FunctionEnd

; A running copy (the wizard, the console export or the converter, of any user) keeps its
; .exe and .dll files open, and Windows refuses to open them for writing. Takes the
; file's path from the stack; asks to close the program and try again, or stops. A
; silent run stops at once, with exit code 2.
!macro REFUSE_WHILE_IN_USE UN
Function ${UN}RefuseWhileInUse
  Exch $R0
  Push $R1
  ${If} ${FileExists} "$R0"
    ${Do}
      ClearErrors
      FileOpen $R1 "$R0" a
      ${IfNot} ${Errors}
        FileClose $R1
        ${Break}
      ${EndIf}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "${APPNAME}正在运行（$R0 正被使用）。请关闭它后重试。" /SD IDCANCEL IDRETRY again
      SetErrorLevel 2
      Quit
      again:
    ${Loop}
  ${EndIf}
  Pop $R1
  Pop $R0
FunctionEnd

Function ${UN}RefuseWhileInUseAll
  !insertmacro PELBROOK_PROGRAM_FILES "${UN}"
FunctionEnd
!macroend
!insertmacro REFUSE_WHILE_IN_USE ""
!insertmacro REFUSE_WHILE_IN_USE "un."

Section "Install"
  ; A silent install has no directory page; an interactive one may have waited there.
  Call RefuseWhileInUseAll
  SetOutPath "$INSTDIR"
  !insertmacro PELBROOK_INSTALL_FILES
  WriteUninstaller "$INSTDIR\uninstall.exe"
  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\${APPNAME}.lnk" "$INSTDIR\Pelbrook.exe"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayName" "${APPNAME}"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTKEY}" "Publisher" "Pelbrook"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayIcon" "$INSTDIR\Pelbrook.exe"
  WriteRegStr HKLM "${UNINSTKEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTKEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTKEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTKEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTKEY}" "NoRepair" 1
SectionEnd

; Exactly the files the installer wrote, by name: whatever else the folder holds (a
; root an administrator added to trust\, files that were there before) stays, and so
; does every folder that is not empty then.
Section "Uninstall"
  Call un.RefuseWhileInUseAll
  SetShellVarContext all
  Delete "$SMPROGRAMS\${APPNAME}.lnk"
  !insertmacro PELBROOK_UNINSTALL_FILES
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTKEY}"
SectionEnd
