; A sample product's installer and uninstaller that use QMIS.dll, as an
; installer author writes them with Unicode NSIS 3 and the release's
; nsis/QMIS.nsh, which has a macro for each export.
;
;   makensis "-X!addincludedir <folder of QMIS.nsh>" -DQMIS_DLL=<path of QMIS.dll>
;            -DOUT_FILE=<setup.exe> qmis-sample.nsi
;   qmis-sample-setup.exe /S
;
; Optional defines make the other products of the demo from the same script:
;   -DPRODUCT=<name> -DHANDLER_NAME=<Quillmoor + name without spaces> -DBITS=<claim bits>
;   -DNO_SHELL          leave the AutoPlay default and file extension alone
;   -DWITH_DEPENDENT    install a plug-in whose removal the uninstaller
;                       host runs as a dependent
;
; Besides its NSIS uninstaller, the product leaves "uninstall.qmis", the
; script for an uninstaller host that calls UninstInitialize
; (the release's tools/qmis-uninstall-host.exe), in UTF-16 so that any
; folder name survives.
;
; The folder may be named in any script: the path macros hand the DLL UTF-16.
;
Unicode true
!include "LogicLib.nsh"
!include "QMIS.nsh"

!ifndef PRODUCT
  !define PRODUCT "QMIS Sample"
  !define HANDLER_NAME "QuillmoorQMISSample"
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

Section "Install"
  ; QMIS.dll goes to the plug-ins folder, where the macros call it.
  ${QMIS_Extract} "${QMIS_DLL}"

  ; The size estimate of what will be copied.
  ${QMIS_GetCopyFileSize} "$PLUGINSDIR" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedBytes" $0

  ; Renames scheduled by others are parked while the files are copied.
  ${QMIS_BackupPendingFileRename} $7
  SetOutPath $INSTDIR
  File "/oname=QMIS.dll" "${QMIS_DLL}"
  FileOpen $1 "$INSTDIR\readme.txt" w
  FileWrite $1 "QMIS sample product"
  FileClose $1
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; A macro is many instructions: jump over it with LogicLib, never with a
  ; relative offset.
  ${If} $7 == 1
    ${QMIS_RestorePendingFileRename} $7
  ${EndIf}

  ; The product's data, copied under a working name and then renamed.
  CreateDirectory "$INSTDIR\data.new"
  FileOpen $1 "$INSTDIR\data.new\data.bin" w
  FileWrite $1 "0123456789"
  FileClose $1
  ${QMIS_RenameDirectory} "$INSTDIR\data.new" "$INSTDIR\data" $0

  ; A key shared with the maker's other products, claimed with this product's bits.
  ${QMIS_SetRefcountedKey} "${PRODUCT}" "Shared\Sample" ${BITS} $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "ClaimResult" $0
  WriteRegStr HKLM "SOFTWARE\Quillmoor\Shared\Sample\Settings" "Theme" "dark"

  ; The uninstaller host's script: what the host removes itself.
  FileOpen $1 "$INSTDIR\uninstall.qmis" w
  FileWriteUTF16LE /BOM $1 "file $INSTDIR\readme.txt$\r$\nfile $INSTDIR\QMIS.dll$\r$\nfile $INSTDIR\uninstall.exe$\r$\n"
  FileWriteUTF16LE $1 "file $INSTDIR\data\data.bin$\r$\ndir $INSTDIR\data$\r$\nfile $INSTDIR\helper\cmd.exe$\r$\ndir $INSTDIR\helper$\r$\n"
  FileWriteUTF16LE $1 "key HKLM\${UNINSTALL_KEY}$\r$\nfile $INSTDIR\uninstall.qmis$\r$\ndir $INSTDIR$\r$\n"
  FileClose $1

!ifdef WITH_DEPENDENT
  ; A plug-in that is a product of its own: the host removes it as a dependent.
  CreateDirectory "$INSTDIR\plugin"
  FileOpen $1 "$INSTDIR\plugin\plugin.dat" w
  FileWrite $1 "plug-in data"
  FileClose $1
  WriteRegStr HKLM "SOFTWARE\Quillmoor\${PRODUCT} Plugin" "Installed" "yes"
  FileOpen $1 "$INSTDIR\plugin\uninstall.qmis" w
  FileWriteUTF16LE /BOM $1 "file $INSTDIR\plugin\plugin.dat$\r$\nkey HKLM\SOFTWARE\Quillmoor\${PRODUCT} Plugin$\r$\n"
  FileWriteUTF16LE $1 "file $INSTDIR\plugin\uninstall.qmis$\r$\ndir $INSTDIR\plugin$\r$\n"
  FileClose $1
  WriteRegStr HKLM "${UNINSTALL_KEY}\Dependents" "Plugin" "$INSTDIR\plugin\uninstall.qmis"
!endif

!ifndef NO_SHELL
  ; A file association, with the earlier file type saved for the handback.
  ; When another product of the maker holds the extension (its file type
  ; begins with "Quillmoor", in any case: StrCmp ignores case) and a type
  ; is saved, that saved type is the machine's own: it stays.
  ReadRegStr $1 HKCR "${EXTENSION}" ""
  ReadRegStr $2 HKCR "${EXTENSION}" "QmPrevious"
  StrCpy $3 $1 9
  StrCmp $3 "Quillmoor" 0 +2
    StrCmp $2 "" 0 +3
  StrCmp $1 "" +2
    WriteRegStr HKCR "${EXTENSION}" "QmPrevious" $1
  WriteRegStr HKCR "${EXTENSION}" "" "${HANDLER_NAME}File${EXTENSION}"
  WriteRegStr HKCR "${HANDLER_NAME}File${EXTENSION}\shell\open\command" "" '"$INSTDIR\sample.exe" "%1"'
  WriteRegStr HKLM "${UNINSTALL_KEY}\Extensions" "${EXTENSION}" ""

  ; The Audio-CD AutoPlay default: the verb first, then the takeover.
  WriteRegStr HKCR "AudioCD\shell\${HANDLER_NAME}\command" "" '"$INSTDIR\sample.exe" /cd'
  ${QMIS_RegisterAutoInsertTag} "${PRODUCT}"
!endif

  ; A helper program in the product's folder, run silently for its exit code.
  CreateDirectory "$INSTDIR\helper"
  CopyFiles /SILENT "$SYSDIR\cmd.exe" "$INSTDIR\helper"
  ${QMIS_SilentRunExternalWait} '"$INSTDIR\helper\cmd.exe" /c exit 3010' $1 $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "HelperExitCode" $0

  ; What was installed.
  ${QMIS_GetCopyFileSize} "$INSTDIR" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "InstalledBytes" $0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'

  ; Nothing may keep QMIS.dll loaded, or NSIS cannot delete $PLUGINSDIR at
  ; the end and schedules it for the next restart.
  ${QMIS_Unload}
SectionEnd

Section "Uninstall"
  ; The uninstaller carries no QMIS.dll of its own: the macros call it in
  ; $PLUGINSDIR, so the copy installed beside the product goes there first.
  InitPluginsDir
  CopyFiles /SILENT "$INSTDIR\QMIS.dll" "$PLUGINSDIR"
  SetOutPath $PLUGINSDIR

  ${QMIS_RemoveRefcountedKeys} "${PRODUCT}" $0
  ${QMIS_UnregisterExtensions} "${PRODUCT}"
  ${QMIS_UnregisterAutoInsertTag} "${PRODUCT}"
  ${QMIS_KeyClean} ${QMIS_HKLM} "SOFTWARE\Quillmoor" $0

  ${QMIS_Unload}
  Delete "$INSTDIR\QMIS.dll"
  Delete "$INSTDIR\readme.txt"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$INSTDIR\uninstall.qmis"
  Delete "$INSTDIR\data\data.bin"
  RMDir "$INSTDIR\data"
  Delete "$INSTDIR\helper\cmd.exe"
  RMDir "$INSTDIR\helper"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
