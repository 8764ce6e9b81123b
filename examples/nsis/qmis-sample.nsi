; A sample product's installer and uninstaller that use QMIS.dll, as an
; installer author writes them with Unicode NSIS 3. Strings go to the DLL
; with the System plug-in's "m" type (ANSI text).
;
;   makensis -DQMIS_DLL=<path of QMIS.dll> -DOUT_FILE=<setup.exe> qmis-sample.nsi
;   qmis-sample-setup.exe /S
;
; Optional defines make the other products of the demo from the same script:
;   -DPRODUCT=<name> -DHANDLER=<Quillmoor + name without spaces> -DBITS=<claim bits>
;   -DNO_SHELL          leave the AutoPlay default and file extension alone
;   -DWITH_DEPENDENT    install a plug-in whose removal the uninstaller
;                       host runs as a dependent
;
; Besides its NSIS uninstaller, the product leaves "uninstall.qmis", the
; script for an uninstaller host that calls UninstInitialize
; (tools/uninstaller-host).
;
; The four decorated exports (their names begin with "?") are resolved with
; GetProcAddress and called through the address: System::Call does not reach
; them when the name is written in the call itself.
Unicode true
!ifndef PRODUCT
  !define PRODUCT "QMIS Sample"
  !define HANDLER "QuillmoorQMISSample"
!endif
!ifndef BITS
  !define BITS 1
!endif

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
RequestExecutionLevel admin
ShowInstDetails nevershow

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

  ; A key shared with the maker's other products, claimed with this product's bits.
  System::Call '${QMIS}::QMSetup_SetRefcountedKey(m "${PRODUCT}", m "Shared\Sample", i ${BITS}) i .r0'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "ClaimResult" $0
  WriteRegStr HKLM "SOFTWARE\Quillmoor\Shared\Sample\Settings" "Theme" "dark"

  ; The uninstaller host's script: what the host removes itself.
  FileOpen $1 "$INSTDIR\uninstall.qmis" w
  FileWrite $1 "file $INSTDIR\readme.txt$\r$\nfile $INSTDIR\QMIS.dll$\r$\nfile $INSTDIR\uninstall.exe$\r$\n"
  FileWrite $1 "key HKLM\${UNINSTALL_KEY}$\r$\nfile $INSTDIR\uninstall.qmis$\r$\ndir $INSTDIR$\r$\n"
  FileClose $1

!ifdef WITH_DEPENDENT
  ; A plug-in that is a product of its own: the host removes it as a dependent.
  CreateDirectory "$INSTDIR\plugin"
  FileOpen $1 "$INSTDIR\plugin\plugin.dat" w
  FileWrite $1 "plug-in data"
  FileClose $1
  WriteRegStr HKLM "SOFTWARE\Quillmoor\${PRODUCT} Plugin" "Installed" "yes"
  FileOpen $1 "$INSTDIR\plugin\uninstall.qmis" w
  FileWrite $1 "file $INSTDIR\plugin\plugin.dat$\r$\nkey HKLM\SOFTWARE\Quillmoor\${PRODUCT} Plugin$\r$\n"
  FileWrite $1 "file $INSTDIR\plugin\uninstall.qmis$\r$\ndir $INSTDIR\plugin$\r$\n"
  FileClose $1
  WriteRegStr HKLM "${UNINSTALL_KEY}\Dependents" "Plugin" "$INSTDIR\plugin\uninstall.qmis"
!endif

!ifndef NO_SHELL
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
!endif

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
  Delete "$INSTDIR\uninstall.qmis"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
