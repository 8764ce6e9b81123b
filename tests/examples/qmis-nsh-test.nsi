; Calls every macro of QMIS.nsh once, silently, and writes what each gave
; under HKLM\SOFTWARE\QmisNshTest for nsis-test.sh to read back.
;
;   makensis "-X!addincludedir <folder of QMIS.nsh>" -DQMIS_DLL=<QMIS.dll> -DOUT_FILE=<exe> qmis-nsh-test.nsi
Unicode true
; The macros' lines about failed calls go where this test can read them back.
!define QMIS_DetailPrint "WriteRegStr HKLM SOFTWARE\QmisNshTest LastDetail"
!include "QMIS.nsh"

Name "QMIS.nsh test"
OutFile "${OUT_FILE}"
RequestExecutionLevel admin
SilentInstall silent

!define OUT "SOFTWARE\QmisNshTest"
!define PRODUCT "QMIS Nsh Test"
!define HANDLER_NAME "QuillmoorQMISNshTest"
!define UNINSTALL_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!macro Record NAME VALUE
  WriteRegStr HKLM "${OUT}" "${NAME}" "${VALUE}"
!macroend

Section
  ${QMIS_Extract} "${QMIS_DLL}"
  StrCpy $0 "kept"
  StrCpy $1 "kept"
  StrCpy $2 "kept"

  ${QMIS_DetectDxmedia} $R0
  ${QMIS_GetInternalBuildNum} $R1
  ${QMIS_GetInternalMajorVerNum} $R2
  ${QMIS_GetInternalMinorVerNum} $R3
  !insertmacro Record Numbers "$R0 $R1 $R2 $R3"
  ${QMIS_GetVersionNum} $R0 $R1
  !insertmacro Record Version "$R0 $R1"
  ${QMIS_RemoveSpaces} "a b c" 5 $R0
  !insertmacro Record RemoveSpaces $R0

  ${QMIS_SetRefcountedKey} "${PRODUCT}" "NshTest\Key" 1 $R0
  ReadRegDWORD $R1 HKLM "SOFTWARE\Quillmoor\NshTest\Key" Refcount
  ${QMIS_RemoveRefcountedKeys} "${PRODUCT}" $R2
  !insertmacro Record Claims "$R0 $R1 $R2"

  ; AutoPlay: taken and handed back.
  WriteRegStr HKCR "AudioCD\shell" "" "play"
  ${QMIS_RegisterAutoInsertTag} "${PRODUCT}"
  ReadRegStr $R0 HKCR "AudioCD\shell" ""
  ${QMIS_UnregisterAutoInsertTag} "${PRODUCT}"
  ReadRegStr $R1 HKCR "AudioCD\shell" ""
  !insertmacro Record AutoPlay "$R0 $R1"

  ; Extensions: one from the product's list, one by itself.
  WriteRegStr HKCR ".qmnsh" "" "${HANDLER_NAME}File.qmnsh"
  WriteRegStr HKCR ".qmnsh" "QmPrevious" "txtfile"
  WriteRegStr HKLM "${UNINSTALL_KEY}\Extensions" ".qmnsh" ""
  ${QMIS_UnregisterExtensions} "${PRODUCT}"
  ReadRegStr $R0 HKCR ".qmnsh" ""
  WriteRegStr HKCR ".qmnsh2" "" "${HANDLER_NAME}File.qmnsh2"
  ${QMIS_UnregisterSpecificExtension} "${HANDLER_NAME}" ".qmnsh2"
  ReadRegStr $R1 HKCR ".qmnsh2" ""
  !insertmacro Record Extensions "$R0 [$R1]"
  DeleteRegKey HKCR ".qmnsh"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ${QMIS_SilentRunExternalWait} "cmd.exe /c exit 5" $R0 $R1
  StrCpy $R2 "text"
  StrCmp $R0 "" 0 +2
    StrCpy $R2 "no text"
  !insertmacro Record Run "$R1 $R2"

  CreateDirectory "$PLUGINSDIR\sized"
  FileOpen $R0 "$PLUGINSDIR\sized\ten.bin" w
  FileWrite $R0 "0123456789"
  FileClose $R0
  ${QMIS_GetCopyFileSize} "$PLUGINSDIR\sized" $R0
  ${QMIS_RenameDirectory} "$PLUGINSDIR\sized" "$PLUGINSDIR\moved" $R1
  StrCpy $R2 "missing"
  IfFileExists "$PLUGINSDIR\moved\ten.bin" 0 +2
    StrCpy $R2 "moved"
  !insertmacro Record Files "$R0 $R1 $R2"

  WriteRegStr HKCU "Software\QmisNshTest\Empty" "" ""
  DeleteRegValue HKCU "Software\QmisNshTest\Empty" ""
  ${QMIS_RegSaveKey} ${QMIS_HKCU} "Software\QmisNshTest" "$PLUGINSDIR\nsh.hive" $R0
  ${QMIS_RegRestoreKey} ${QMIS_HKCU} "Software\QmisNshTest" "$PLUGINSDIR\nsh.hive" $R1
  ${QMIS_KeyClean} ${QMIS_HKCU} "Software\QmisNshTest" $R2
  StrCpy $R3 "swept"
  IfFileExists "$PLUGINSDIR\nsh.hive" 0 +2
    StrCpy $R3 "swept, hive written"
  ClearErrors
  EnumRegKey $R4 HKCU "Software\QmisNshTest" 0
  StrCmp $R4 "" +2
    StrCpy $R3 "not swept"
  !insertmacro Record Hive "$R0 $R1 $R2 $R3"
  DeleteRegKey HKCU "Software\QmisNshTest"

  ; A call made to fail on purpose: the macro says why in the details.
  ${QMIS_KeyClean} ${QMIS_HKCU} "" $R0
  ReadRegStr $R1 HKLM "${OUT}" LastDetail
  !insertmacro Record Failure "$R0 $R1"

  ${QMIS_BackupPendingFileRename} $R0
  ${QMIS_RestorePendingFileRename} $R1
  !insertmacro Record Renames "$R0 $R1"

  ${QMIS_UninstInitialize} $R0
  ${QMIS_UninstUnInitialize} $R1
  !insertmacro Record Hooks "$R0 $R1"

  !insertmacro Record Registers "$0 $1 $2"

  ; Every macro gave back the reference it took: the DLL is not loaded now.
  ; One of our own holds it until QMIS_Unload lets go.
  System::Call `kernel32::GetModuleHandleW(w "$PLUGINSDIR\QMIS.dll") p.r0`
  System::Call `kernel32::LoadLibraryW(w "$PLUGINSDIR\QMIS.dll") p.r1`
  ${QMIS_Unload}
  System::Call `kernel32::GetModuleHandleW(w "$PLUGINSDIR\QMIS.dll") p.r2`
  !insertmacro Record Loaded "$0 $2"

  ; Without the DLL no call happens, and the macros say so: the error flag,
  ; and an empty result.
  Delete "$PLUGINSDIR\QMIS.dll"
  ClearErrors
  ${QMIS_SetRefcountedKey} "${PRODUCT}" "NshTest\Key" 1 $R0
  StrCpy $R1 "no error"
  IfErrors 0 +2
    StrCpy $R1 "error flag"
  ClearErrors
  ${QMIS_UnregisterAutoInsertTag} "${PRODUCT}"
  StrCpy $R2 "no error"
  IfErrors 0 +2
    StrCpy $R2 "error flag"
  !insertmacro Record Missing "[$R0] $R1 $R2"
SectionEnd
