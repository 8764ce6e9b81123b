; QMIS.iss - QMIS.dll for Inno Setup 6 scripts.
;
;   #include "QMIS.iss"          ; ISCC /I<folder of QMIS.iss>, or a full path
;
;   [Files]
;   ; For the calls made by Setup: extracted into {tmp} when first needed.
;   Source: "QMIS.dll"; Flags: dontcopy
;   ; For the calls made by the uninstaller: QMIS.dll from the product's folder.
;   Source: "QMIS.dll"; DestDir: "{app}"
;
; Every export a script calls is declared twice, under names that do not
; clash: QMIS_<name> for Setup (QMIS.dll from {tmp}) and QMISUninst_<name>
; for the uninstaller (QMIS.dll in {app}). <name> is the export's name
; without "QMSetup_" or "Qm", as in QMIS.nsh. Each declaration is loaded on
; its first call, so a script that calls no uninstall-time function needs
; no QMIS.dll in {app}.
;
; Paths and command lines go in as String (UTF-16), whole whatever their
; characters: the five functions that take them (RegSaveKey, RegRestoreKey,
; SilentRunExternalWait, GetCopyFileSize, RenameDirectory) are declared on
; the DLL's Unicode entry points. Product keys, shared key names and
; registry key names go in as AnsiString: they name keys that ANSI callers
; wrote, so they must be spellable in the ANSI code page. An empty
; AnsiString reaches the DLL as a null pointer, which every export refuses;
; an empty String as an empty one. The exports that write into a buffer
; have helpers below that return an ordinary String: QMIS_VersionText,
; QMIS_RunSilently, QMIS_WithoutSpaces and their QMISUninst_ twins.
;
; Registry roots: pass HKLM, HKCU, HKCR or HKU (Inno's constants, which are
; the system's own values). HKLM32, HKLM64, HKCU32 and HKCU64 are Inno's own
; markers, not handles, and reach the DLL as invalid ones.
;
; 64-bit install mode: QMIS.dll is a 32-bit DLL and reads the 32-bit view of
; the registry. Write the lists it reads under the product's uninstall key
; (Extensions, Dependents, RefcountList) with "Root: HKLM32", or it does not
; see them. In 32-bit mode HKLM is already that view.
;
; Handing everything back at uninstall, before the files go (the uninstaller
; cannot delete a DLL that is still loaded):
;
;   procedure CurUninstallStepChanged(CurUninstallStep: TUninstallStep);
;   begin
;     if CurUninstallStep = usUninstall then
;     begin
;       QMISUninst_UnregisterExtensions('My Product');
;       QMISUninst_UnregisterAutoInsertTag('My Product');
;       QMISUninst_RemoveRefcountedKeys('My Product');
;       { a released nested name ("Nimbus\Engine") leaves its parent
;         (HKLM\SOFTWARE\Quillmoor\Nimbus) behind, empty: sweep it }
;       QMISUninst_KeyClean(HKLM, 'SOFTWARE\Quillmoor');
;       QMISUninst_Unload;
;     end;
;   end;
;
; UninstInitialize and UninstUnInitialize are not declared: they are for an
; uninstaller host that passes "-f<file> ... -z<product key>" on its command
; line (the release's tools/qmis-uninstall-host.exe), and do nothing from Inno's uninstaller,
; whose command line has neither. Call the hand-backs above instead.
;
; Decorated exports ("?Name@@YGXPAD@Z") are declared with Inno's own
; uninstall marker written out ("@uninstall:{app}\QMIS.dll"): the
; uninstallonly option would put its marker after the first "@", inside the
; name.

#ifndef QMIS_ISS_INCLUDED
#define QMIS_ISS_INCLUDED

[Code]
{ --- Setup time: QMIS.dll from [Files] with Flags: dontcopy --- }

function QMIS_DetectDxmedia: Integer;
  external 'QMSetup_DetectDxmedia@files:QMIS.dll stdcall delayload';
function QMIS_GetInternalBuildNum: Integer;
  external 'QMSetup_GetInternalBuildNum@files:QMIS.dll stdcall delayload';
function QMIS_GetInternalMajorVerNum: Integer;
  external 'QMSetup_GetInternalMajorVerNum@files:QMIS.dll stdcall delayload';
function QMIS_GetInternalMinorVerNum: Integer;
  external 'QMSetup_GetInternalMinorVerNum@files:QMIS.dll stdcall delayload';
function QMIS_GetVersionNum(Text: AnsiString): Integer;
  external 'QMSetup_GetVersionNum@files:QMIS.dll stdcall delayload';
procedure QMIS_RemoveSpaces(Text: AnsiString; Length: Cardinal);
  external 'QMSetup_RemoveSpaces@files:QMIS.dll stdcall delayload';
function QMIS_RegSaveKey(Root: Integer; SubKey, FileName: String): Integer;
  external 'QMSetup_RegSaveKeyW@files:QMIS.dll stdcall delayload';
function QMIS_RegRestoreKey(Root: Integer; SubKey, FileName: String): Integer;
  external 'QMSetup_RegRestoreKeyW@files:QMIS.dll stdcall delayload';
function QMIS_BackupPendingFileRename: Integer;
  external 'QMSetup_BackupPendingFileRename@files:QMIS.dll stdcall delayload';
function QMIS_RestorePendingFileRename: Integer;
  external 'QMSetup_RestorePendingFileRename@files:QMIS.dll stdcall delayload';
function QMIS_KeyClean(Root: Integer; SubKey: AnsiString): Integer;
  external 'QmUninstall_KeyClean@files:QMIS.dll stdcall delayload';
function QMIS_SetRefcountedKey(ProductKey, SharedKeyName: AnsiString; Bits: Cardinal): Integer;
  external 'QMSetup_SetRefcountedKey@files:QMIS.dll stdcall delayload';
function QMIS_RemoveRefcountedKeys(ProductKey: AnsiString): Integer;
  external 'QMSetup_RemoveRefcountedKeys@files:QMIS.dll stdcall delayload';
procedure QMIS_RegisterAutoInsertTag(ProductKey: AnsiString);
  external '?RegisterAutoInsertTag@@YGXPAD@Z@files:QMIS.dll stdcall delayload';
procedure QMIS_UnregisterAutoInsertTag(ProductKey: AnsiString);
  external '?UnregisterAutoInsertTag@@YGXPAD@Z@files:QMIS.dll stdcall delayload';
procedure QMIS_UnregisterSpecificExtension(HandlerName, Extension: AnsiString);
  external '?UnregisterSpecificExtension@@YGXPAD0@Z@files:QMIS.dll stdcall delayload';
procedure QMIS_UnregisterExtensions(ProductKey: AnsiString);
  external '?UnregisterExtensions@@YGXPAD@Z@files:QMIS.dll stdcall delayload';
function QMIS_SilentRunExternalWait(Command, Text: String): Cardinal;
  external 'QMSetup_SilentRunExternalWaitW@files:QMIS.dll stdcall delayload';
function QMIS_GetCopyFileSize(Directory: String): Cardinal;
  external 'QMSetup_GetCopyFileSizeW@files:QMIS.dll stdcall delayload';
function QMIS_RenameDirectory(Existing, Renamed: String): Integer;
  external 'QmRenameDirectoryW@files:QMIS.dll stdcall delayload';

{ --- Uninstall time: QMIS.dll in the product folder --- }

function QMISUninst_DetectDxmedia: Integer;
  external 'QMSetup_DetectDxmedia@uninstall:{app}\QMIS.dll stdcall delayload';
function QMISUninst_GetInternalBuildNum: Integer;
  external 'QMSetup_GetInternalBuildNum@uninstall:{app}\QMIS.dll stdcall delayload';
function QMISUninst_GetInternalMajorVerNum: Integer;
  external 'QMSetup_GetInternalMajorVerNum@uninstall:{app}\QMIS.dll stdcall delayload';
function QMISUninst_GetInternalMinorVerNum: Integer;
  external 'QMSetup_GetInternalMinorVerNum@uninstall:{app}\QMIS.dll stdcall delayload';
function QMISUninst_GetVersionNum(Text: AnsiString): Integer;
  external 'QMSetup_GetVersionNum@uninstall:{app}\QMIS.dll stdcall delayload';
procedure QMISUninst_RemoveSpaces(Text: AnsiString; Length: Cardinal);
  external 'QMSetup_RemoveSpaces@uninstall:{app}\QMIS.dll stdcall delayload';
function QMISUninst_RegSaveKey(Root: Integer; SubKey, FileName: String): Integer;
  external 'QMSetup_RegSaveKeyW@uninstall:{app}\QMIS.dll stdcall delayload';
function QMISUninst_RegRestoreKey(Root: Integer; SubKey, FileName: String): Integer;
  external 'QMSetup_RegRestoreKeyW@uninstall:{app}\QMIS.dll stdcall delayload';
function QMISUninst_BackupPendingFileRename: Integer;
  external 'QMSetup_BackupPendingFileRename@uninstall:{app}\QMIS.dll stdcall delayload';
function QMISUninst_RestorePendingFileRename: Integer;
  external 'QMSetup_RestorePendingFileRename@uninstall:{app}\QMIS.dll stdcall delayload';
function QMISUninst_KeyClean(Root: Integer; SubKey: AnsiString): Integer;
  external 'QmUninstall_KeyClean@uninstall:{app}\QMIS.dll stdcall delayload';
function QMISUninst_SetRefcountedKey(ProductKey, SharedKeyName: AnsiString; Bits: Cardinal): Integer;
  external 'QMSetup_SetRefcountedKey@uninstall:{app}\QMIS.dll stdcall delayload';
function QMISUninst_RemoveRefcountedKeys(ProductKey: AnsiString): Integer;
  external 'QMSetup_RemoveRefcountedKeys@uninstall:{app}\QMIS.dll stdcall delayload';
procedure QMISUninst_RegisterAutoInsertTag(ProductKey: AnsiString);
  external '?RegisterAutoInsertTag@@YGXPAD@Z@uninstall:{app}\QMIS.dll stdcall delayload';
procedure QMISUninst_UnregisterAutoInsertTag(ProductKey: AnsiString);
  external '?UnregisterAutoInsertTag@@YGXPAD@Z@uninstall:{app}\QMIS.dll stdcall delayload';
procedure QMISUninst_UnregisterSpecificExtension(HandlerName, Extension: AnsiString);
  external '?UnregisterSpecificExtension@@YGXPAD0@Z@uninstall:{app}\QMIS.dll stdcall delayload';
procedure QMISUninst_UnregisterExtensions(ProductKey: AnsiString);
  external '?UnregisterExtensions@@YGXPAD@Z@uninstall:{app}\QMIS.dll stdcall delayload';
function QMISUninst_SilentRunExternalWait(Command, Text: String): Cardinal;
  external 'QMSetup_SilentRunExternalWaitW@uninstall:{app}\QMIS.dll stdcall delayload';
function QMISUninst_GetCopyFileSize(Directory: String): Cardinal;
  external 'QMSetup_GetCopyFileSizeW@uninstall:{app}\QMIS.dll stdcall delayload';
function QMISUninst_RenameDirectory(Existing, Renamed: String): Integer;
  external 'QmRenameDirectoryW@uninstall:{app}\QMIS.dll stdcall delayload';

{ --- Helpers for the exports that write into a buffer --- }

{ A buffer of Size zero bytes: an AnsiString the DLL can write into. }
function QMIS_Buffer(Size: Integer): AnsiString;
begin
  Result := StringOfChar(#0, Size);
end;

{ A buffer of Size UTF-16 zeros, for the Unicode entry points. }
function QMIS_WideBuffer(Size: Integer): String;
begin
  Result := StringOfChar(#0, Size);
end;

{ The text up to the first zero the DLL wrote. }
function QMIS_WideTextOf(const Buffer: String): String;
var
  Zero: Integer;
begin
  Zero := Pos(#0, Buffer);
  if Zero = 0 then
    Result := Buffer
  else
    Result := Copy(Buffer, 1, Zero - 1);
end;

function QMIS_TextOf(const Buffer: AnsiString): String;
var
  Zero: Integer;
begin
  Zero := Pos(#0, Buffer);
  if Zero = 0 then
    Result := Buffer
  else
    Result := Copy(Buffer, 1, Zero - 1);
end;

{ "2.0.0.60" }
function QMIS_VersionText: String;
var
  Buffer: AnsiString;
begin
  Buffer := QMIS_Buffer(16);
  QMIS_GetVersionNum(Buffer);
  Result := QMIS_TextOf(Buffer);
end;

function QMISUninst_VersionText: String;
var
  Buffer: AnsiString;
begin
  Buffer := QMIS_Buffer(16);
  QMISUninst_GetVersionNum(Buffer);
  Result := QMIS_TextOf(Buffer);
end;

{ Runs Command silently and waits for it: the exit code, or 0x80004005 when
  it could not be started, with the system's message text for a failure. }
function QMIS_RunSilently(Command: String; var MessageText: String): Cardinal;
var
  Buffer: String;
begin
  Buffer := QMIS_WideBuffer(260);
  Result := QMIS_SilentRunExternalWait(Command, Buffer);
  MessageText := QMIS_WideTextOf(Buffer);
end;

function QMISUninst_RunSilently(Command: String; var MessageText: String): Cardinal;
var
  Buffer: String;
begin
  Buffer := QMIS_WideBuffer(260);
  Result := QMISUninst_SilentRunExternalWait(Command, Buffer);
  MessageText := QMIS_WideTextOf(Buffer);
end;

{ Text with every space removed (at most 259 characters). }
function QMIS_WithoutSpaces(Text: String): String;
var
  Buffer: AnsiString;
begin
  Buffer := Text + #0;
  QMIS_RemoveSpaces(Buffer, Length(Buffer));
  Result := QMIS_TextOf(Buffer);
end;

function QMISUninst_WithoutSpaces(Text: String): String;
var
  Buffer: AnsiString;
begin
  Buffer := Text + #0;
  QMISUninst_RemoveSpaces(Buffer, Length(Buffer));
  Result := QMIS_TextOf(Buffer);
end;

{ Why the last QMIS call failed: the last error it left (Inno Setup keeps
  the last error of every call into a DLL), and the system's text for it. }
function QMIS_LastError: Cardinal;
begin
  Result := DLLGetLastError;
end;

function QMIS_LastErrorText: String;
begin
  Result := SysErrorMessage(DLLGetLastError);
end;

{ One line in the setup's log (/LOG) about a QMIS call that failed: Call
  names it, and the last error it left says why. }
procedure QMIS_LogFailure(const Call: String);
var
  Code: Cardinal;
begin
  Code := DLLGetLastError;
  Log(Format('QMIS: %s failed; last error %d: %s', [Call, Code, SysErrorMessage(Code)]));
end;

{ Lets go of QMIS.dll in the product folder, so that the uninstaller can delete it. }
procedure QMISUninst_Unload;
begin
  UnloadDLL(ExpandConstant('{app}\QMIS.dll'));
end;

#endif
