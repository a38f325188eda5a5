; The setup program of RDP-Ostrel for Windows, built by scripts/package-windows with makensis.
;
;   makensis -DVERSION=1.0 -DSTAGE=<folder with the files> -DOUTFILE=<setup .exe> rdp-ostrel.nsi
;
; STAGE holds rdp-ostrel-service.exe, ostrel-eventlog-append.exe, schema.sql, README.md,
; Config.ini.template and, when Qt for Windows was built, rdp-ostrel.exe (the window).
;
; Silent roll-out: rdp-ostrel-setup-<version>.exe /S [/START] [/D=C:\Program Files\RDP-Ostrel]
;   /START  starts the service after a silent install (the dialog offers it otherwise)
; Silent removal:  "C:\Program Files\RDP-Ostrel\uninstall.exe" /S [/PURGE]
;   /PURGE  also deletes Config.ini and the service's log (kept otherwise)

; A 64-bit setup program: the service is a 64-bit program, and a 64-bit installer sees the
; real Program Files, System32 and registry without redirection (nor does it need 32-bit Windows
; support, which Server Core can leave out).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

!define PRODUCT "RDP-Ostrel"
!define SERVICE "RDP-Ostrel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\RDP-Ostrel"
; Well-known SIDs, the same in every language of Windows.
!define ADMINISTRATORS "*S-1-5-32-544"
!define SYSTEM "*S-1-5-18"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

Var ConfigExisted
Var ServiceExisted

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start the RDP-Ostrel service now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartService
!define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishShow
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.md"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Open the README (database set-up, checking that it works)"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
    ${IfNot} ${RunningX64}
        MessageBox MB_ICONSTOP "RDP-Ostrel needs 64-bit Windows." /SD IDOK
        Abort
    ${EndIf}
    SetRegView 64
FunctionEnd

; Runs a program hidden and waits for it; its exit code lands in $0.
!macro Run command
    nsExec::ExecToLog '${command}'
    Pop $0
!macroend

Function StartService
    !insertmacro Run '"$SYSDIR\net.exe" start ${SERVICE}'
FunctionEnd

; A fresh Config.ini holds no database yet: the service would only stop again, so the offer to
; start it begins unticked.
Function FinishShow
    ${If} $ConfigExisted != 1
        SendMessage $mui.FinishPage.Run ${BM_SETCHECK} ${BST_UNCHECKED} 0
    ${EndIf}
FunctionEnd

Section "RDP-Ostrel" SecMain
    SectionIn RO
    SetOutPath "$INSTDIR"
    StrCpy $ConfigExisted 0
    ${If} ${FileExists} "$INSTDIR\Config.ini"
        StrCpy $ConfigExisted 1
    ${EndIf}

    ; An installed service is stopped while its files are replaced and keeps its registration
    ; (and whatever options were given to it); "net stop" waits until it has ended in order.
    StrCpy $ServiceExisted 0
    ReadRegStr $1 HKLM "SYSTEM\CurrentControlSet\Services\${SERVICE}" "ImagePath"
    ${If} $1 != ""
        StrCpy $ServiceExisted 1
        DetailPrint "Stopping the service ${SERVICE}"
        !insertmacro Run '"$SYSDIR\net.exe" stop ${SERVICE}'
    ${EndIf}

    File "${STAGE}\rdp-ostrel-service.exe"
    File "${STAGE}\ostrel-eventlog-append.exe"
    File "${STAGE}\schema.sql"
    File "${STAGE}\README.md"
    !ifdef WITH_WINDOW
        File "${STAGE}\rdp-ostrel.exe"
    !endif

    ; The settings hold the database password: a template only when there are none yet, and
    ; Administrators and SYSTEM alone may read or change the file (no inherited entries, so the
    ; Users' read access to Program Files does not reach it).
    ${If} $ConfigExisted != 1
        File "/oname=Config.ini" "${STAGE}\Config.ini.template"
    ${EndIf}
    !insertmacro Run '"$SYSDIR\icacls.exe" "$INSTDIR\Config.ini" /inheritance:r /grant:r ${ADMINISTRATORS}:F ${SYSTEM}:F'
    ${If} $0 != 0
        DetailPrint "Could not restrict Config.ini to Administrators and SYSTEM (icacls: $0)"
    ${EndIf}

    ; The service runs as LocalSystem (what --install-service registers): reading the event
    ; log, changing the firewall and the key below HKEY_LOCAL_MACHINE need it.
    ${If} $ServiceExisted != 1
        DetailPrint "Registering the service ${SERVICE}"
        !insertmacro Run '"$INSTDIR\rdp-ostrel-service.exe" --install-service --config "$INSTDIR\Config.ini"'
        ${If} $0 != 0
            MessageBox MB_ICONEXCLAMATION "The service could not be registered (exit code $0)." /SD IDOK
        ${EndIf}
    ${EndIf}

    SetShellVarContext all
    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    !ifdef WITH_WINDOW
        CreateShortcut "$SMPROGRAMS\${PRODUCT}\RDP-Ostrel.lnk" "$INSTDIR\rdp-ostrel.exe"
    !endif
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\RDP-Ostrel folder.lnk" "$INSTDIR"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall RDP-Ostrel.lnk" "$INSTDIR\uninstall.exe"

    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

    ; A silent roll-out starts the service when asked to (after an upgrade it ran before).
    ${If} ${Silent}
        ${GetParameters} $2
        ClearErrors
        ${GetOptions} $2 "/START" $3
        ${IfNot} ${Errors}
            Call StartService
        ${EndIf}
    ${EndIf}
SectionEnd

Function un.onInit
    SetRegView 64
FunctionEnd

Section "Uninstall"
    ; Stops the service (it ends in order) and removes it from the service manager.
    DetailPrint "Stopping and removing the service ${SERVICE}"
    nsExec::ExecToLog '"$INSTDIR\rdp-ostrel-service.exe" --uninstall-service'
    Pop $0

    Delete "$INSTDIR\rdp-ostrel-service.exe"
    Delete "$INSTDIR\ostrel-eventlog-append.exe"
    Delete "$INSTDIR\rdp-ostrel.exe"
    Delete "$INSTDIR\schema.sql"
    Delete "$INSTDIR\README.md"
    Delete "$INSTDIR\uninstall.exe"

    ; The settings and the log stay for a later install, unless asked otherwise.
    StrCpy $1 0
    ${GetParameters} $2
    ClearErrors
    ${GetOptions} $2 "/PURGE" $3
    ${IfNot} ${Errors}
        StrCpy $1 1
    ${ElseIfNot} ${Silent}
        MessageBox MB_YESNO|MB_DEFBUTTON2 "Also delete Config.ini (the settings and the database password) and the service's log?" IDNO +2
        StrCpy $1 1
    ${EndIf}
    ${If} $1 == 1
        Delete "$INSTDIR\Config.ini"
        Delete "$INSTDIR\rdp-ostrel-service.log"
    ${EndIf}
    RMDir "$INSTDIR"

    SetShellVarContext all
    Delete "$SMPROGRAMS\${PRODUCT}\RDP-Ostrel.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}\RDP-Ostrel folder.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}\Uninstall RDP-Ostrel.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
