; A sample product's installer and uninstaller that use QMIS.dll, as an
; installer author writes them with Unicode NSIS 3. Strings go to the DLL
; with the System plug-in's "m" type (ANSI text).
;
;   makensis -DQMIS_DLL=<path of QMIS.dll> -DOUT_FILE=<setup.exe> qmis-sample.nsi
;   qmis-sample-setup.exe /S
;
; The four decorated exports (their names begin with "?") are resolved with
; GetProcAddress and called through the address: System::Call does not reach
; them when the name is written in the call itself.
Unicode true
Name "QMIS Sample"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES\QMIS Sample"
RequestExecutionLevel admin
ShowInstDetails nevershow

!define PRODUCT "QMIS Sample"
!define HANDLER "QuillmoorQMISSample"
!define UNINSTALL_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define EXTENSION ".qmsample"
!define QMIS "$PLUGINSDIR\QMIS.dll"

; Calls a decorated export of the loaded QMIS.dll with one string.
!macro CallDecorated NAME ARGUMENT
  System::Call 'kernel32::GetModuleHandleA(m "QMIS.dll") p .r8'
  System::Call 'kernel32::GetProcAddress(p r8, m "${NAME}") p .r9'
  System::Call '::$9(m "${ARGUMENT}")'
!macroend

Section "Install"
  ; QMIS.dll goes to the plug-ins folder and is called by its full path.
  InitPluginsDir
  SetOutPath $PLUGINSDIR
  File "/oname=QMIS.dll" "${QMIS_DLL}"

  ; The size estimate of what will be copied.
  System::Call '${QMIS}::QMSetup_GetCopyFileSize(m "$PLUGINSDIR") i .r0'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedBytes" $0

  ; Renames scheduled by others are parked while the files are copied.
  System::Call '${QMIS}::QMSetup_BackupPendingFileRename() i .r7'
  SetOutPath $INSTDIR
  File "/oname=QMIS.dll" "${QMIS_DLL}"
  FileOpen $1 "$INSTDIR\readme.txt" w
  FileWrite $1 "QMIS sample product"
  FileClose $1
  WriteUninstaller "$INSTDIR\uninstall.exe"
  StrCmp $7 1 0 +2
    System::Call '${QMIS}::QMSetup_RestorePendingFileRename() i .r7'

  ; A key shared with the maker's other products, claimed with bit 1.
  System::Call '${QMIS}::QMSetup_SetRefcountedKey(m "${PRODUCT}", m "Shared\Sample", i 1) i .r0'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "ClaimResult" $0

  ; A file association, with the earlier file type saved for the handback.
  ReadRegStr $1 HKCR "${EXTENSION}" ""
  StrCmp $1 "" +2
    WriteRegStr HKCR "${EXTENSION}" "QmPrevious" $1
  WriteRegStr HKCR "${EXTENSION}" "" "${HANDLER}File${EXTENSION}"
  WriteRegStr HKCR "${HANDLER}File${EXTENSION}\shell\open\command" "" '"$INSTDIR\sample.exe" "%1"'
  WriteRegStr HKLM "${UNINSTALL_KEY}\Extensions" "${EXTENSION}" ""

  ; The Audio-CD AutoPlay default: the verb first, then the takeover.
  WriteRegStr HKCR "AudioCD\shell\${HANDLER}\command" "" '"$INSTDIR\sample.exe" /cd'
  !insertmacro CallDecorated "?RegisterAutoInsertTag@@YGXPAD@Z" "${PRODUCT}"

  ; A helper program, run silently for its exit code.
  System::Call '${QMIS}::QMSetup_SilentRunExternalWait(m "cmd.exe /c exit 3010", m .r1) i .r0'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "HelperExitCode" $0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
SectionEnd

Section "Uninstall"
  InitPluginsDir
  CopyFiles /SILENT "$INSTDIR\QMIS.dll" "$PLUGINSDIR"
  SetOutPath $PLUGINSDIR

  System::Call '${QMIS}::QMSetup_RemoveRefcountedKeys(m "${PRODUCT}") i .r0'
  !insertmacro CallDecorated "?UnregisterExtensions@@YGXPAD@Z" "${PRODUCT}"
  !insertmacro CallDecorated "?UnregisterAutoInsertTag@@YGXPAD@Z" "${PRODUCT}"
  System::Call '${QMIS}::QmUninstall_KeyClean(p 0x80000002, m "SOFTWARE\Quillmoor") i .r0'

  Delete "$INSTDIR\QMIS.dll"
  Delete "$INSTDIR\readme.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
