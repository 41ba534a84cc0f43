; PelnoVPN-Setup.exe: installs the distribution folder per machine, registers and
; starts the helper service through the helper's own installer, upgrades an
; installed copy in place, and removes it again. The user's data directory is never
; touched.
;   makensis -DPELNO_DIST_DIR=<folder> [-DPELNO_VERSION=1.2.3] [-DPELNO_SETUP_FILE=<exe>] PelnoVPN.nsi
Unicode true
Target amd64-unicode
ManifestSupportedOS all
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!ifndef PELNO_DIST_DIR
  !error "PELNO_DIST_DIR must name the distribution folder"
!endif
!ifndef PELNO_VERSION
  !define PELNO_VERSION "1.0.0"
!endif
!ifndef PELNO_SETUP_FILE
  !define PELNO_SETUP_FILE "PelnoVPN-Setup.exe"
!endif

!define PRODUCT "PelnoVPN"
!define PUBLISHER "PelnoVPN"
!define APP_EXE "PelnoVPN.exe"
!define HELPER_EXE "PelnoVpnHelperService.exe"
!define ENGINE_EXE "sing-box.exe"  ; the user's own engine, placed beside the application
!define SERVICE "PelnoVpnHelperService"
!define WINDOW_CLASS "FLUTTER_RUNNER_WIN32_WINDOW"
!define UNINSTALLER "Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\PelnoVPN"
!define SHORTCUT "$SMPROGRAMS\PelnoVPN.lnk"
; Where --install-service copies the helper and the engine when $INSTDIR is a folder
; that others than administrators can change; the service then runs that copy.
!define SERVICE_COPY_DIR "$PROGRAMFILES64\${PRODUCT}\Service"

; Time limits: the application's own clean-up on close, the service's stop and start.
!define APP_CLOSE_MS 10000
!define LEFTOVER_MS 3000  ; a stopped service's process on its way out, any other program
!define SERVICE_WAIT_TRIES 150  ; of 200 ms each
; Access rights and codes of the Win32 calls below.
!define SC_MANAGER_CONNECT 0x1
!define SERVICE_STOP_ACCESS 0x10024   ; DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS
!define SERVICE_START_ACCESS 0x14     ; SERVICE_START | SERVICE_QUERY_STATUS
!define SERVICE_CONTROL_STOP 1
!define SERVICE_STOPPED 1
!define SERVICE_RUNNING 4
!define PROCESS_END_ACCESS 0x101001  ; SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE
!define WAIT_TIMEOUT 258
!define PROCESS_LIST_BYTES 16384  ; 4096 process ids
!define SE_FILE_OBJECT 1
!define OWNER_PROTECTED_DACL 0x80000005  ; OWNER_, DACL_ and PROTECTED_DACL_SECURITY_INFORMATION
!define PROTECTED_SDDL "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"

; The removal lines for the folder's top-level entries, made from the folder packed.
!tempfile PELNO_REMOVE_LIST
!system '/bin/sh "${__FILEDIR__}/list-dist-files.sh" "${PELNO_DIST_DIR}" "${PELNO_REMOVE_LIST}"' = 0

Name "${PRODUCT}"
OutFile "${PELNO_SETUP_FILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show
VIProductVersion "${PELNO_VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${PELNO_VERSION}"
VIAddVersionKey "ProductVersion" "${PELNO_VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

; The same folder packed twice gives the same setup: no file times are stored (the
; installed files get the time they are written), and File /r packs in name order.
SetDateSave off

; Authenticode: the setup and the uninstaller it writes are signed by tools/sign.sh
; when the environment names a certificate (PELNO_SIGN_PKCS12, PELNO_SIGN_PASSWORD_FILE);
; otherwise that script says in one line that they are not.
!define PELNO_SIGN '/bin/sh "${__FILEDIR__}/../tools/sign.sh"'
!if "$%PELNO_SIGN_PKCS12%$%PELNO_SIGN_PASSWORD_FILE%" != "${U+24}%PELNO_SIGN_PKCS12%${U+24}%PELNO_SIGN_PASSWORD_FILE%"
  !finalize '${PELNO_SIGN} "%1"' = 0
  !uninstfinalize '${PELNO_SIGN} "%1"' = 0
!else
  !system '${PELNO_SIGN}' = 0
!endif

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The installer and the uninstaller each get their own copy of these functions.
!macro PELNO_SHARED_FUNCTIONS un

; $R8: full image path of process $R7, empty when it cannot be read.
Function ${un}ProcessImage
  StrCpy $R8 ""
  System::Call 'kernel32::OpenProcess(i ${PROCESS_END_ACCESS}, i 0, i R7) p .R6'
  ${If} $R6 P<> 0
    System::Call 'kernel32::QueryFullProcessImageNameW(p R6, i 0, w .R8, *i ${NSIS_MAX_STRLEN}) i .R5'
    ${If} $R5 = 0
      StrCpy $R8 ""
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p R6)'
  ${EndIf}
FunctionEnd

; Ends process $R7: waits up to $R4 ms for it to end by itself, then terminates it.
Function ${un}EndProcess
  System::Call 'kernel32::OpenProcess(i ${PROCESS_END_ACCESS}, i 0, i R7) p .R6'
  ${If} $R6 P<> 0
    System::Call 'kernel32::WaitForSingleObject(p R6, i R4) i .R5'
    ${If} $R5 = ${WAIT_TIMEOUT}
      System::Call 'kernel32::TerminateProcess(p R6, i 1)'
      System::Call 'kernel32::WaitForSingleObject(p R6, i 5000)'
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p R6)'
  ${EndIf}
FunctionEnd

; The application in $INSTDIR is asked to close (its window gets WM_CLOSE, so its
; clean-up runs: session ended, proxy restored), and ended if it has not gone after
; APP_CLOSE_MS. Windows of the class that belong to any other program are left alone.
Function ${un}CloseApplication
  StrCpy $R9 0
  ${Do}
    System::Call 'user32::FindWindowExW(p 0, p R9, w "${WINDOW_CLASS}", p 0) p .R9'
    ${If} $R9 P= 0
      ${ExitDo}
    ${EndIf}
    System::Call 'user32::GetWindowThreadProcessId(p R9, *i .R7)'
    Call ${un}ProcessImage
    ${If} $R8 == "$INSTDIR\${APP_EXE}"
      DetailPrint "Closing ${APP_EXE} (process $R7)"
      System::Call 'user32::PostMessageW(p R9, i ${WM_CLOSE}, p 0, p 0)'
      StrCpy $R4 ${APP_CLOSE_MS}
      Call ${un}EndProcess
    ${EndIf}
  ${LoopUntil} $R9 P= 0
FunctionEnd

; $R6 = 1 when image path $R8 is one of this product's programs in $INSTDIR or in
; the helper's protected copy. Other programs are never ended, wherever they run
; from: a folder given with /D may hold anything.
Function ${un}IsProductProgram
  StrCpy $R6 0
  ${If} $R8 == "$INSTDIR\${APP_EXE}"
  ${OrIf} $R8 == "$INSTDIR\${HELPER_EXE}"
  ${OrIf} $R8 == "$INSTDIR\${ENGINE_EXE}"
  ${OrIf} $R8 == "${SERVICE_COPY_DIR}\${HELPER_EXE}"
  ${OrIf} $R8 == "${SERVICE_COPY_DIR}\${ENGINE_EXE}"
    StrCpy $R6 1
  ${EndIf}
FunctionEnd

; Each of this product's programs still running (a stopped service's process on its
; way out, a plain-process helper, an engine) is given LEFTOVER_MS to end and then
; terminated, so its files can be replaced or removed.
Function ${un}EndProductPrograms
  System::Call 'kernel32::GetCurrentProcessId() i .R3'
  System::Alloc ${PROCESS_LIST_BYTES}
  Pop $R0
  System::Call 'kernel32::K32EnumProcesses(p R0, i ${PROCESS_LIST_BYTES}, *i .R1) i .R2'
  ${If} $R2 <> 0
    IntOp $R1 $R1 / 4
    StrCpy $R2 0
    ${DoWhile} $R2 < $R1
      IntOp $R5 $R2 * 4
      IntPtrOp $R5 $R0 + $R5
      System::Call '*$R5(i .R7)'
      ${If} $R7 <> $R3
        Call ${un}ProcessImage
        Call ${un}IsProductProgram
        ${If} $R6 = 1
          DetailPrint "Ending $R8 (process $R7)"
          StrCpy $R4 ${LEFTOVER_MS}
          Call ${un}EndProcess
        ${EndIf}
      ${EndIf}
      IntOp $R2 $R2 + 1
    ${Loop}
  ${EndIf}
  System::Free $R0
FunctionEnd

; Stops the helper service and waits for it to stop; with $R0 = 1 it is also deleted.
; A missing service is no error.
Function ${un}StopHelperService
  System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i ${SC_MANAGER_CONNECT}) p .R2'
  ${If} $R2 P<> 0
    System::Call 'advapi32::OpenServiceW(p R2, w "${SERVICE}", i ${SERVICE_STOP_ACCESS}) p .R3'
    ${If} $R3 P<> 0
      DetailPrint "Stopping the service ${SERVICE}"
      System::Call '*(i, i, i, i, i, i, i) p .R4'
      System::Call 'advapi32::ControlService(p R3, i ${SERVICE_CONTROL_STOP}, p R4)'
      StrCpy $R5 0
      ${Do}
        System::Call 'advapi32::QueryServiceStatus(p R3, p R4) i .R6'
        System::Call '*$R4(i, i .R7)'
        ${If} $R6 = 0
        ${OrIf} $R7 = ${SERVICE_STOPPED}
          ${ExitDo}
        ${EndIf}
        Sleep 200
        IntOp $R5 $R5 + 1
      ${LoopUntil} $R5 >= ${SERVICE_WAIT_TRIES}
      System::Free $R4
      ${If} $R0 = 1
        DetailPrint "Deleting the service ${SERVICE}"
        System::Call 'advapi32::DeleteService(p R3)'
      ${EndIf}
      System::Call 'advapi32::CloseServiceHandle(p R3)'
    ${EndIf}
    System::Call 'advapi32::CloseServiceHandle(p R2)'
  ${EndIf}
FunctionEnd

!macroend
!insertmacro PELNO_SHARED_FUNCTIONS ""
!insertmacro PELNO_SHARED_FUNCTIONS "un."

; Starts the helper service and waits until it runs; $R0 = 1 when it does.
Function StartHelperService
  StrCpy $R0 0
  System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i ${SC_MANAGER_CONNECT}) p .R2'
  ${If} $R2 P<> 0
    System::Call 'advapi32::OpenServiceW(p R2, w "${SERVICE}", i ${SERVICE_START_ACCESS}) p .R3'
    ${If} $R3 P<> 0
      System::Call 'advapi32::StartServiceW(p R3, i 0, p 0)'
      System::Call '*(i, i, i, i, i, i, i) p .R4'
      StrCpy $R5 0
      ${Do}
        System::Call 'advapi32::QueryServiceStatus(p R3, p R4) i .R6'
        System::Call '*$R4(i, i .R7)'
        ${If} $R6 = 0
        ${OrIf} $R7 = ${SERVICE_STOPPED}
          ${ExitDo}
        ${ElseIf} $R7 = ${SERVICE_RUNNING}
          StrCpy $R0 1
          ${ExitDo}
        ${EndIf}
        Sleep 200
        IntOp $R5 $R5 + 1
      ${LoopUntil} $R5 >= ${SERVICE_WAIT_TRIES}
      System::Free $R4
      System::Call 'advapi32::CloseServiceHandle(p R3)'
    ${EndIf}
    System::Call 'advapi32::CloseServiceHandle(p R2)'
  ${EndIf}
FunctionEnd

Function .onInit
  SetRegView 64
  ; An upgrade goes where the installed copy is, unless /D names another folder.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} $INSTDIR == "$PROGRAMFILES64\${PRODUCT}"
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

; A folder outside Program Files inherits whatever its parent grants (C:\ lets
; every signed-in user change what is created in it), so it gets the owner
; Administrators and a DACL of its own, which also reaches what is inside: SYSTEM and
; Administrators full control, Users read and execute. The helper's installer asks
; the same of the folder it runs from. $R0 = 0 on success.
Function ProtectInstallFolder
  StrCpy $R0 0
  StrLen $R1 "$PROGRAMFILES64\"
  StrCpy $R2 "$INSTDIR" $R1
  ${If} $R2 == "$PROGRAMFILES64\"
    Return
  ${EndIf}
  DetailPrint "Protecting $INSTDIR"
  CreateDirectory "$INSTDIR"
  StrCpy $R0 1
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${PROTECTED_SDDL}", i 1, *p .R1, p 0) i .R2'
  ${If} $R2 <> 0
    System::Call 'advapi32::GetSecurityDescriptorDacl(p R1, *i .R3, *p .R4, *i .R5)'
    System::Call 'advapi32::GetSecurityDescriptorOwner(p R1, *p .R6, *i .R5)'
    System::Call 'advapi32::SetNamedSecurityInfoW(w "$INSTDIR", i ${SE_FILE_OBJECT}, i ${OWNER_PROTECTED_DACL}, p R6, p 0, p R4, p 0) i .R0'
    System::Call 'kernel32::LocalFree(p R1)'
  ${EndIf}
FunctionEnd

Function Fail  ; message on the stack
  Exch $0
  DetailPrint $0
  MessageBox MB_ICONSTOP|MB_OK $0 /SD IDOK
  SetErrorLevel 2
  Quit
FunctionEnd

; Windows Error Reporting keeps the last DUMP_COUNT mini dumps of either program
; in %ProgramData%\PelnoVPN\CrashDumps when it crashes (the 64-bit registry view:
; the programs are 64-bit).
!define WER_DUMPS_KEY "SOFTWARE\Microsoft\Windows\Windows Error Reporting\LocalDumps"
!define DUMP_COUNT 5
!define DUMP_TYPE_MINI 1
!macro PELNO_CRASH_DUMPS_OF program
  WriteRegExpandStr HKLM "${WER_DUMPS_KEY}\${program}" "DumpFolder" "%ProgramData%\${PRODUCT}\CrashDumps"
  WriteRegDWORD HKLM "${WER_DUMPS_KEY}\${program}" "DumpCount" ${DUMP_COUNT}
  WriteRegDWORD HKLM "${WER_DUMPS_KEY}\${program}" "DumpType" ${DUMP_TYPE_MINI}
!macroend
Function RegisterCrashDumps
  SetRegView 64
  !insertmacro PELNO_CRASH_DUMPS_OF ${APP_EXE}
  !insertmacro PELNO_CRASH_DUMPS_OF ${HELPER_EXE}
FunctionEnd
Function un.RemoveCrashDumps  ; the dumps themselves stay for the user to send
  SetRegView 64
  DeleteRegKey HKLM "${WER_DUMPS_KEY}\${APP_EXE}"
  DeleteRegKey HKLM "${WER_DUMPS_KEY}\${HELPER_EXE}"
FunctionEnd

Section "PelnoVPN"
  SetShellVarContext all
  ; The running copy goes first: the application's clean-up may still need the service.
  Call CloseApplication
  StrCpy $R0 0
  Call StopHelperService
  Call EndProductPrograms
  Call ProtectInstallFolder
  ${If} $R0 <> 0
    Push "$INSTDIR could not be protected (error $R0)"
    Call Fail
  ${EndIf}

  SetOutPath "$INSTDIR"
  ; A file still in use fails the setup; the default overwrite mode would ask, and
  ; a silent setup would retry for ever.
  SetOverwrite try
  ClearErrors
  File /r "${PELNO_DIST_DIR}/*"
  ${If} ${Errors}
    Push "Files in $INSTDIR are in use and could not be replaced"
    Call Fail
  ${EndIf}
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\${APP_EXE}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${PELNO_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${APP_EXE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  Call RegisterCrashDumps

  ; The helper registers (or re-points) its own service; then it is started.
  DetailPrint "Installing the service ${SERVICE}"
  ExecWait '"$INSTDIR\${HELPER_EXE}" --install-service' $0
  ${If} $0 != 0
    Push "${HELPER_EXE} --install-service failed (exit code $0)"
    Call Fail
  ${EndIf}
  Call StartHelperService
  ${If} $R0 != 1
    Push "The service ${SERVICE} did not start"
    Call Fail
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Call un.CloseApplication
  StrCpy $R0 1
  Call un.StopHelperService
  Call un.EndProductPrograms

  ; Only what the setup put there (and the engine the user placed beside it), so a
  ; folder chosen with /D keeps anything else it holds.
  !include "${PELNO_REMOVE_LIST}"
  Delete "$INSTDIR\${ENGINE_EXE}"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  Delete "${SERVICE_COPY_DIR}\${HELPER_EXE}"
  Delete "${SERVICE_COPY_DIR}\${ENGINE_EXE}"
  RMDir "${SERVICE_COPY_DIR}"
  RMDir "$PROGRAMFILES64\${PRODUCT}"
  Delete "${SHORTCUT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Call un.RemoveCrashDumps
SectionEnd

!delfile "${PELNO_REMOVE_LIST}"
