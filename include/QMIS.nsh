; QMIS.nsh - QMIS.dll for NSIS 3 scripts (Unicode or ANSI).
;
; One macro for each export, with a define of the same name, in the manner
; of FileFunc.nsh:
;
;   !include "QMIS.nsh"
;   ...
;   ${QMIS_Extract} "path\to\QMIS.dll"     ; at compile time: into $PLUGINSDIR
;   ${QMIS_SetRefcountedKey} "Sample Tool" "Shared\Engine" 1 $0
;
; The macros call $PLUGINSDIR\QMIS.dll and leave each result in the variable
; named last (empty, with the error flag set and a line in the details,
; when the call could not be made: see _QMIS_Check). A call that leaves a
; last error writes one line to the details with the export, its result and
; the system's text for the error (see _QMIS_Report; !define QMIS_QUIET
; before the include turns these off). Paths and command lines go to the DLL's Unicode entry points
; as UTF-16 (the System plug-in's "w" type), whole whatever their
; characters: RegSaveKey, RegRestoreKey, SilentRunExternalWait,
; GetCopyFileSize and RenameDirectory. Product keys and registry key names
; go as ANSI text ("m"): they name keys that ANSI callers wrote. They change no other variable. The four decorated exports (names
; beginning with "?") are reached through GetProcAddress, since System::Call
; does not find them by name. Each macro gives back the reference it takes
; on the DLL (System::Call's "?u"), so the DLL is not left loaded; after
; System::Call lines of your own, ${QMIS_Unload} lets go of it.
;
; Registry roots for the macros that take one:
;   ${QMIS_HKCR} ${QMIS_HKCU} ${QMIS_HKLM} ${QMIS_HKU}

!ifndef QMIS_NSH_INCLUDED
!define QMIS_NSH_INCLUDED

!define QMIS_HKCR 0x80000000
!define QMIS_HKCU 0x80000001
!define QMIS_HKLM 0x80000002
!define QMIS_HKU 0x80000003
; What writes the macros' lines about failed calls: DetailPrint, unless the
; script defines another single instruction that takes the line last.
!ifndef QMIS_DetailPrint
  !define QMIS_DetailPrint DetailPrint
!endif
!ifndef QMIS_DLL_PATH
  !define QMIS_DLL_PATH "$PLUGINSDIR\QMIS.dll"
!endif

; Copies QMIS.dll (a path on the build machine) into $PLUGINSDIR.
!define QMIS_Extract "!insertmacro QMIS_Extract"
!macro QMIS_Extract _DLL
  InitPluginsDir
  File "/oname=$PLUGINSDIR\QMIS.dll" "${_DLL}"
!macroend

; Says when a call did not happen (QMIS.dll is not in $PLUGINSDIR, or does
; not export the name): the error flag is set, one line names the export in
; the details, and the result variable is left empty.
!macro _QMIS_Check _NAME _RESULT
  StrCmp ${_RESULT} "error" 0 +4
    SetErrors
    ${QMIS_DetailPrint} "QMIS: ${_NAME} was not called: ${QMIS_DLL_PATH} is missing or lacks it"
    StrCpy ${_RESULT} ""
!macroend

; Says why a call failed. On the stack: the last error the export left, and
; below it its result; the error is taken off. When it is not 0, one line
; goes to the details: the export, its result and the system's text for the
; error. No variable changes. `!define QMIS_QUIET` turns these lines off.
!macro _QMIS_Report _NAME
  Exch $0
  Exch
  Exch $1
  Push $2
  !ifndef QMIS_QUIET
    StrCmp $0 0 +5
    StrCmp $1 "error" +4
    System::Call `kernel32::FormatMessageW(i 0x1200, p 0, i r0, i 0, w .r2, i ${NSIS_MAX_STRLEN}, p 0)`
    StrCpy $2 $2 -2
    ${QMIS_DetailPrint} "QMIS: ${_NAME} gave $1; last error $0: $2"
  !endif
  Pop $2
  Exch $1
  Exch
  Pop $0
!macroend

; Calls a plain export: `${_SIGNATURE}` is "(params) return", with the
; parameters taken from the arguments that follow and the result pushed.
!macro _QMIS_Call _NAME _SIGNATURE _ARGS _RESULT
  System::Call `${QMIS_DLL_PATH}::${_NAME}${_SIGNATURE} ?u?e` ${_ARGS}
  !insertmacro _QMIS_Report ${_NAME}
  Pop ${_RESULT}
  !insertmacro _QMIS_Check ${_NAME} ${_RESULT}
!macroend

; Calls a decorated export with its string arguments in $0 (and $1); the
; caller saves and restores them. The reference it takes on the DLL is given
; back after the call.
!macro _QMIS_CallDecorated _NAME _PARAMS
  Push $2
  Push $3
  System::Call `kernel32::LoadLibraryW(w "${QMIS_DLL_PATH}") p.r3`
  System::Call `kernel32::GetProcAddress(p r3, m "${_NAME}") p.r2`
  StrCmp $2 0 +5
    System::Call `::$2(${_PARAMS}) ?e`
    Push "(none)"
    Exch
    Goto +5
    SetErrors
    ${QMIS_DetailPrint} "QMIS: ${_NAME} was not called: ${QMIS_DLL_PATH} is missing or lacks it"
    Push "(none)"
    Push 0
  !insertmacro _QMIS_Report ${_NAME}
  Pop $2
  StrCmp $3 0 +2
    System::Call `kernel32::FreeLibrary(p r3)`
  Pop $3
  Pop $2
!macroend

; Lets go of every reference the installer holds on QMIS.dll, so that NSIS
; can delete $PLUGINSDIR when it ends. On Windows, where the file of a loaded
; DLL cannot be deleted, it is else left behind and scheduled for deletion
; at the next restart, in the very list QMSetup_BackupPendingFileRename
; parks (under Wine 8 with NSIS 3.08 the folder went even so). The macros give back what they
; take; this is for System::Call lines of your own, which keep the DLL
; loaded. Call it at the end of the last section (and of the uninstaller's).
!define QMIS_Unload "!insertmacro QMIS_Unload"
!macro QMIS_Unload
  Push $2
  Push $3
  StrCpy $3 0
  System::Call `kernel32::GetModuleHandleW(w "${QMIS_DLL_PATH}") p.r2`
  StrCmp $2 0 +4
    System::Call `kernel32::FreeLibrary(p r2)`
    IntOp $3 $3 + 1
    IntCmp $3 100 0 -4 0
  Pop $3
  Pop $2
!macroend

; --- Module frame ------------------------------------------------------

!define QMIS_DetectDxmedia "!insertmacro QMIS_DetectDxmedia"
!macro QMIS_DetectDxmedia _RESULT
  !insertmacro _QMIS_Call QMSetup_DetectDxmedia "() i.s" "" ${_RESULT}
!macroend

!define QMIS_GetInternalBuildNum "!insertmacro QMIS_GetInternalBuildNum"
!macro QMIS_GetInternalBuildNum _RESULT
  !insertmacro _QMIS_Call QMSetup_GetInternalBuildNum "() i.s" "" ${_RESULT}
!macroend

!define QMIS_GetInternalMajorVerNum "!insertmacro QMIS_GetInternalMajorVerNum"
!macro QMIS_GetInternalMajorVerNum _RESULT
  !insertmacro _QMIS_Call QMSetup_GetInternalMajorVerNum "() i.s" "" ${_RESULT}
!macroend

!define QMIS_GetInternalMinorVerNum "!insertmacro QMIS_GetInternalMinorVerNum"
!macro QMIS_GetInternalMinorVerNum _RESULT
  !insertmacro _QMIS_Call QMSetup_GetInternalMinorVerNum "() i.s" "" ${_RESULT}
!macroend

; _TEXT gets "2.0.0.60", _RESULT the build number.
!define QMIS_GetVersionNum "!insertmacro QMIS_GetVersionNum"
!macro QMIS_GetVersionNum _TEXT _RESULT
  System::Call `${QMIS_DLL_PATH}::QMSetup_GetVersionNum(m.s) i.s ?u?e`
  !insertmacro _QMIS_Report QMSetup_GetVersionNum
  Pop ${_RESULT}
  Pop ${_TEXT}
  !insertmacro _QMIS_Check QMSetup_GetVersionNum ${_RESULT}
!macroend

; _RESULT gets _TEXT without the spaces in its first _LENGTH bytes.
!define QMIS_RemoveSpaces "!insertmacro QMIS_RemoveSpaces"
!macro QMIS_RemoveSpaces _TEXT _LENGTH _RESULT
  !insertmacro _QMIS_Call QMSetup_RemoveSpaces "(mss, is)" "`${_TEXT}` `${_LENGTH}`" ${_RESULT}
!macroend

; --- Registry maintenance ----------------------------------------------

!define QMIS_RegSaveKey "!insertmacro QMIS_RegSaveKey"
!macro QMIS_RegSaveKey _ROOT _SUBKEY _FILE _RESULT
  !insertmacro _QMIS_Call QMSetup_RegSaveKeyW "(ps, ws, ws) i.s" "`${_ROOT}` `${_SUBKEY}` `${_FILE}`" ${_RESULT}
!macroend

!define QMIS_RegRestoreKey "!insertmacro QMIS_RegRestoreKey"
!macro QMIS_RegRestoreKey _ROOT _SUBKEY _FILE _RESULT
  !insertmacro _QMIS_Call QMSetup_RegRestoreKeyW "(ps, ws, ws) i.s" "`${_ROOT}` `${_SUBKEY}` `${_FILE}`" ${_RESULT}
!macroend

!define QMIS_BackupPendingFileRename "!insertmacro QMIS_BackupPendingFileRename"
!macro QMIS_BackupPendingFileRename _RESULT
  !insertmacro _QMIS_Call QMSetup_BackupPendingFileRename "() i.s" "" ${_RESULT}
!macroend

!define QMIS_RestorePendingFileRename "!insertmacro QMIS_RestorePendingFileRename"
!macro QMIS_RestorePendingFileRename _RESULT
  !insertmacro _QMIS_Call QMSetup_RestorePendingFileRename "() i.s" "" ${_RESULT}
!macroend

!define QMIS_KeyClean "!insertmacro QMIS_KeyClean"
!macro QMIS_KeyClean _ROOT _SUBKEY _RESULT
  !insertmacro _QMIS_Call QmUninstall_KeyClean "(ps, ms) i.s" "`${_ROOT}` `${_SUBKEY}`" ${_RESULT}
!macroend

; --- Shared keys -------------------------------------------------------

!define QMIS_SetRefcountedKey "!insertmacro QMIS_SetRefcountedKey"
!macro QMIS_SetRefcountedKey _PRODUCT _SHARED_KEY _BITS _RESULT
  !insertmacro _QMIS_Call QMSetup_SetRefcountedKey "(ms, ms, is) i.s" "`${_PRODUCT}` `${_SHARED_KEY}` `${_BITS}`" ${_RESULT}
!macroend

!define QMIS_RemoveRefcountedKeys "!insertmacro QMIS_RemoveRefcountedKeys"
!macro QMIS_RemoveRefcountedKeys _PRODUCT _RESULT
  !insertmacro _QMIS_Call QMSetup_RemoveRefcountedKeys "(ms) i.s" "`${_PRODUCT}`" ${_RESULT}
!macroend

; --- Shell cleanup (decorated exports; no result) ----------------------

!define QMIS_RegisterAutoInsertTag "!insertmacro QMIS_RegisterAutoInsertTag"
!macro QMIS_RegisterAutoInsertTag _PRODUCT
  Push `${_PRODUCT}`
  Exch $0
  !insertmacro _QMIS_CallDecorated "?RegisterAutoInsertTag@@YGXPAD@Z" "m r0"
  Pop $0
!macroend

!define QMIS_UnregisterAutoInsertTag "!insertmacro QMIS_UnregisterAutoInsertTag"
!macro QMIS_UnregisterAutoInsertTag _PRODUCT
  Push `${_PRODUCT}`
  Exch $0
  !insertmacro _QMIS_CallDecorated "?UnregisterAutoInsertTag@@YGXPAD@Z" "m r0"
  Pop $0
!macroend

!define QMIS_UnregisterExtensions "!insertmacro QMIS_UnregisterExtensions"
!macro QMIS_UnregisterExtensions _PRODUCT
  Push `${_PRODUCT}`
  Exch $0
  !insertmacro _QMIS_CallDecorated "?UnregisterExtensions@@YGXPAD@Z" "m r0"
  Pop $0
!macroend

; _HANDLER_NAME is the product's handler name ("Quillmoor" and the product key
; without spaces).
!define QMIS_UnregisterSpecificExtension "!insertmacro QMIS_UnregisterSpecificExtension"
!macro QMIS_UnregisterSpecificExtension _HANDLER_NAME _EXTENSION
  Push `${_HANDLER_NAME}`
  Push `${_EXTENSION}`
  Exch $1
  Exch
  Exch $0
  !insertmacro _QMIS_CallDecorated "?UnregisterSpecificExtension@@YGXPAD0@Z" "m r0, m r1"
  Pop $0
  Pop $1
!macroend

; --- Processes and files -----------------------------------------------

; _TEXT gets the system's message text for a failing exit code (else "").
!define QMIS_SilentRunExternalWait "!insertmacro QMIS_SilentRunExternalWait"
!macro QMIS_SilentRunExternalWait _COMMAND _TEXT _RESULT
  System::Call `${QMIS_DLL_PATH}::QMSetup_SilentRunExternalWaitW(ws, w.s) i.s ?u?e` `${_COMMAND}`
  !insertmacro _QMIS_Report QMSetup_SilentRunExternalWaitW
  Pop ${_RESULT}
  Pop ${_TEXT}
  !insertmacro _QMIS_Check QMSetup_SilentRunExternalWaitW ${_RESULT}
!macroend

!define QMIS_GetCopyFileSize "!insertmacro QMIS_GetCopyFileSize"
!macro QMIS_GetCopyFileSize _DIRECTORY _RESULT
  !insertmacro _QMIS_Call QMSetup_GetCopyFileSizeW "(ws) i.s" "`${_DIRECTORY}`" ${_RESULT}
!macroend

!define QMIS_RenameDirectory "!insertmacro QMIS_RenameDirectory"
!macro QMIS_RenameDirectory _EXISTING _RENAMED _RESULT
  !insertmacro _QMIS_Call QmRenameDirectoryW "(ws, ws) i.s" "`${_EXISTING}` `${_RENAMED}`" ${_RESULT}
!macroend

; --- Uninstaller hooks (for an uninstaller host) ------------------------

!define QMIS_UninstInitialize "!insertmacro QMIS_UninstInitialize"
!macro QMIS_UninstInitialize _RESULT
  !insertmacro _QMIS_Call UninstInitialize "(i 0, i 0, i 0) i.s" "" ${_RESULT}
!macroend

!define QMIS_UninstUnInitialize "!insertmacro QMIS_UninstUnInitialize"
!macro QMIS_UninstUnInitialize _RESULT
  !insertmacro _QMIS_Call UninstUnInitialize "(i 0, i 0, i 0) i.s" "" ${_RESULT}
!macroend

!endif ; QMIS_NSH_INCLUDED
