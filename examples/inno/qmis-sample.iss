; A sample product's setup and uninstaller that use QMIS.dll, as an Inno
; Setup 6 author writes them with the release's inno/QMIS.iss.
;
;   ISCC /I<folder of QMIS.iss> /DQMIS_DLL=<path of QMIS.dll> /O<folder> /Fqmis-sample-setup qmis-sample.iss
;   qmis-sample-setup.exe /VERYSILENT /SUPPRESSMSGBOXES /NORESTART
;
; At install it parks the pending renames around its file copy, renames its
; data folder into place, claims two shared keys, takes the Audio-CD
; AutoPlay default and a file extension, runs a helper program from its own
; folder silently and records its size; its uninstaller hands all of it
; back. The folder may be named in any script: paths go to the DLL's
; Unicode entry points.
;
; ISCC /DProduct=<name> /DHandlerName=<Quillmoor + name without spaces> /DBits=<claim bits>
; makes another product of the maker from the same script; /DFailOnPurpose
; adds a call that fails, to show where a failure is logged. Each call whose
; result says it failed writes a line to the setup's log (/LOG) with the
; last error it left.
;
; In 64-bit install mode the lists QMIS.dll reads are written to the 32-bit
; view of the registry (HKLM32), which is the one a 32-bit DLL sees.

#include "QMIS.iss"

#ifndef Product
  #define Product "QMIS Inno Sample"
  #define HandlerName "QuillmoorQMISInnoSample"
#endif
#ifndef Bits
  #define Bits "1"
#endif
#define Extension ".qminno"
#define UninstallKey "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\" + Product

[Setup]
AppName={#Product}
AppVersion=2.0.60
AppId={#Product}
DefaultDirName={autopf}\{#Product}
DisableProgramGroupPage=yes
PrivilegesRequired=admin
ArchitecturesInstallIn64BitMode=x64compatible
Uninstallable=yes
OutputBaseFilename=qmis-sample-setup

[Files]
Source: "{#QMIS_DLL}"; Flags: dontcopy
Source: "{#QMIS_DLL}"; DestDir: "{app}"

[UninstallDelete]
Type: filesandordirs; Name: "{app}\data"
Type: filesandordirs; Name: "{app}\helper"

[Code]
const
  ProductKey = '{#Product}';
  ListsKey = '{#UninstallKey}';

var
  Parked: Boolean;

{ A file association, with the earlier file type saved for the handback.
  When another product of the maker holds the extension (its file type
  begins with "Quillmoor", in any case) and a type is saved, that saved type
  is the machine's own: it stays. }
procedure TakeExtension;
var
  Earlier, Saved: String;
  KeepSaved: Boolean;
begin
  KeepSaved := RegQueryStringValue(HKCR32, '{#Extension}', '', Earlier) and
    (CompareText(Copy(Earlier, 1, 9), 'Quillmoor') = 0) and
    RegQueryStringValue(HKCR32, '{#Extension}', 'QmPrevious', Saved);
  if not KeepSaved and RegQueryStringValue(HKCR32, '{#Extension}', '', Earlier) and
    (Earlier <> '') then
    RegWriteStringValue(HKCR32, '{#Extension}', 'QmPrevious', Earlier);
  RegWriteStringValue(HKCR32, '{#Extension}', '', '{#HandlerName}File{#Extension}');
  RegWriteStringValue(HKCR32, '{#HandlerName}File{#Extension}\shell\open\command', '',
    '"' + ExpandConstant('{app}') + '\sample.exe" "%1"');
  RegWriteStringValue(HKLM32, ListsKey + '\Extensions', '{#Extension}', '');
end;

{ The product's data, written under a working name and then renamed. }
procedure PlaceData;
begin
  ForceDirectories(ExpandConstant('{app}\data.new'));
  SaveStringToFile(ExpandConstant('{app}\data.new\data.bin'), '0123456789', False);
  QMIS_RenameDirectory(ExpandConstant('{app}\data.new'), ExpandConstant('{app}\data'));
  if QMIS_LastError <> 0 then
    QMIS_LogFailure('QmRenameDirectoryW');
end;

{ A claim on a shared key; 1 when it was made, with its failure logged. }
function Claim(const SharedKey: String): Integer;
begin
  Result := QMIS_SetRefcountedKey(ProductKey, SharedKey, {#Bits});
  if Result <> 1 then
    QMIS_LogFailure('QMSetup_SetRefcountedKey ' + SharedKey);
end;

{ A helper program in the product's folder, run silently for its exit code. }
function RunHelper: Cardinal;
var
  MessageText: String;
begin
  ForceDirectories(ExpandConstant('{app}\helper'));
  FileCopy(ExpandConstant('{cmd}'), ExpandConstant('{app}\helper\cmd.exe'), False);
  Result := QMIS_RunSilently('"' + ExpandConstant('{app}\helper\cmd.exe') + '" /c exit 3010',
    MessageText);
end;

procedure CurStepChanged(CurStep: TSetupStep);
begin
  case CurStep of
    ssInstall:
      { Renames scheduled by others are parked while the files are copied. }
      Parked := QMIS_BackupPendingFileRename = 1;
    ssPostInstall:
      begin
        if Parked then
          QMIS_RestorePendingFileRename;
        PlaceData;
        RegWriteDWordValue(HKLM32, ListsKey, 'ClaimResult',
          Claim('Shared\Engine') + Claim('Shared\Fonts'));
#ifdef FailOnPurpose
        if QMIS_KeyClean(HKCU, '') <> 0 then
          QMIS_LogFailure('QmUninstall_KeyClean');
#endif
        TakeExtension;
        { The Audio-CD AutoPlay default: the verb first, then the takeover. }
        RegWriteStringValue(HKCR32, 'AudioCD\shell\{#HandlerName}\command', '',
          '"' + ExpandConstant('{app}') + '\sample.exe" /cd');
        QMIS_RegisterAutoInsertTag(ProductKey);
        RegWriteDWordValue(HKLM32, ListsKey, 'HelperExitCode', RunHelper);
        RegWriteStringValue(HKLM32, ListsKey, 'Version', QMIS_VersionText);
        RegWriteDWordValue(HKLM32, ListsKey, 'DataBytes',
          QMIS_GetCopyFileSize(ExpandConstant('{app}\data')));
      end;
  end;
end;

procedure CurUninstallStepChanged(CurUninstallStep: TUninstallStep);
begin
  if CurUninstallStep = usUninstall then
  begin
    QMISUninst_UnregisterExtensions(ProductKey);
    QMISUninst_UnregisterAutoInsertTag(ProductKey);
    QMISUninst_RemoveRefcountedKeys(ProductKey);
    QMISUninst_KeyClean(HKLM, 'SOFTWARE\Quillmoor');
    QMISUninst_Unload;
    { The lists were read: the product's own key goes last. }
    RegDeleteKeyIncludingSubkeys(HKLM32, ListsKey);
  end;
end;
