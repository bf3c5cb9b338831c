; The setup program of the release, vorn-mediapad-<version>-setup.exe, made
; by tools/make-setup.sh from the files of the release zip. It installs into
; the folder of LCDSmartie.exe, makes the patched MediaPadLayer.dll from the
; vendor's with vorn-check.exe --patch-layer, runs the check and registers an
; uninstaller that removes exactly what it put there. It installs the files
; of the zip's folder that fits LCDSmartie.exe's build: LCDSmartie-32bit or
; LCDSmartie-64bit (the 64-bit plug-in with its 32-bit helper). For the
; 32-bit build it runs the plug-in in a process of its own when asked
; (vorn-check.exe --isolate); a reinstall without the option loads it
; directly again.
;
; Defines from make-setup.sh: VERSION, VERSION_FULL, FILES (the unpacked
; zip), OUTFILE, SIZE_KB_32 and SIZE_KB_64 (what the install of each build places),
; SOURCE_COMMIT (the commit it was built from), FINISH_UNINSTALLER (the command
; that stamps the uninstaller with the release time and signs it where a
; certificate is given).
;
; Silent use: setup.exe /S [/LAYER=<the vendor's MediaPadLayer.dll>]
;   [/ISOLATE] [/LOG=<file>] /D=<folder of LCDSmartie.exe>
; Every step goes into the log (default %TEMP%\vorn-mediapad-setup.log); a
; refusal is its last line and the exit status is 2.

Unicode true
; The uninstaller is made here, whole, not at install time from the running
; setup program: so it carries the release time and can be signed.
!uninstfinalize '${FINISH_UNINSTALLER} "%1"' = 0
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include TextFunc.nsh
!include WordFunc.nsh
!include nsDialogs.nsh

!define PRODUCT "Vorn MediaPad display chain"
!define UNINSTALLER "vorn-mediapad-uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VornMediaPad"
!define HOST_PROGRAM "Vorn64BitInterface.exe"
!define HOST_PROGRAM_32 "Vorn32BitInterface.exe"
!define BRIDGE_FOLDER "displays\QX20481-32bit"
!define ISOLATING_BRIDGE "VornIsolation.dll"
!define ISOLATE_TEXT "Run the display plug-in in a process of its own"
!define REFUSED_STATUS 2

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
SetOverwrite try
AllowSkipFiles off

VIProductVersion ${VERSION_FULL}
VIFileVersion ${VERSION_FULL}
VIAddVersionKey /LANG=1033 ProductName "${PRODUCT}"
VIAddVersionKey /LANG=1033 CompanyName "Vorn"
VIAddVersionKey /LANG=1033 FileDescription "Setup of the ${PRODUCT}"
VIAddVersionKey /LANG=1033 FileVersion ${VERSION_FULL}
VIAddVersionKey /LANG=1033 ProductVersion ${VERSION_FULL}
VIAddVersionKey /LANG=1033 OriginalFilename "vorn-mediapad-${VERSION}-setup.exe"
VIAddVersionKey /LANG=1033 LegalCopyright "Vorn"
; What tools/verify-release.sh rebuilds a setup program from.
VIAddVersionKey /LANG=1033 SourceCommit "${SOURCE_COMMIT}"

Var Layer      ; the vendor's MediaPadLayer.dll that the patch step reads
Var LogFile
Var LogHandle
Var KeptLayer  ; the name under which the patch step kept the layer it replaced
Var LayerField
Var Build      ; LCDSmartie.exe's build, "32" or "64": which folder of the zip is installed
Var Isolate    ; "1" when the 32-bit plug-in is to run in a process of its own
Var IsolateBox

; ---- pages ----
!define MUI_WELCOMEPAGE_TEXT "This installs the ${PRODUCT} ${VERSION} into the folder of LCD Smartie, so that LCD Smartie can show its screens on the MediaPad's display.$\r$\n$\r$\nIt suits the 32-bit and the 64-bit build of LCD Smartie and picks the plug-in that fits. You need the vendor's MediaPad software, and the vendor's own MediaPadLayer.dll: the setup makes the patched copy from it.$\r$\n$\r$\nClose LCD Smartie before you go on."
!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_HEADER_TEXT "The folder of LCD Smartie"
!define MUI_PAGE_HEADER_SUBTEXT "The chain goes where LCDSmartie.exe is."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Choose the folder of LCD Smartie: the folder that holds LCDSmartie.exe. The plug-in goes into its displays folder, the other files beside LCDSmartie.exe."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Folder of LCDSmartie.exe"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE FolderPageLeave
!insertmacro MUI_PAGE_DIRECTORY
Page custom LayerPageShow LayerPageLeave
Page custom IsolationPageShow IsolationPageLeave
!insertmacro MUI_PAGE_INSTFILES
Page custom ReportPageShow
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_TEXT "The ${PRODUCT} is installed. In LCD Smartie's Setup choose QX20481.dll as the display plug-in and the size 2x16.$\r$\n$\r$\nIf the check showed FAULT lines, do what they say and run vorn-check.exe again. INSTALL.txt says more."
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\INSTALL.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show INSTALL.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "This removes the files and logs that the setup put into the folder of LCD Smartie, ends the host program if it runs, and puts back the MediaPadLayer.dll that the setup kept. Nothing else in the folder is touched. Close LCD Smartie first."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; ---- the log ----
!macro Log TEXT
  DetailPrint "${TEXT}"
  FileWrite $LogHandle "${TEXT}$\r$\n"
!macroend

; Ends a silent setup with the reason as the log's last line and a non-zero
; exit status. Otherwise the caller's Abort follows: in a page's leave
; function the user stays on the page, in the section the setup stops.
!macro Stop TEXT
  !insertmacro Log "refused: ${TEXT}"
  ${If} ${Silent}
    FileClose $LogHandle
    SetErrorLevel ${REFUSED_STATUS}
    Quit
  ${EndIf}
!macroend

; The same, said to the user in a message box first.
!macro Refuse TEXT
  ${IfNot} ${Silent}
    MessageBox MB_OK|MB_ICONSTOP "${TEXT}"
  ${EndIf}
  !insertmacro Stop "${TEXT}"
!macroend

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/LAYER=" $Layer
  ${GetOptions} $R0 "/LOG=" $LogFile
  ClearErrors
  ${GetOptions} $R0 "/ISOLATE" $0
  ${IfNot} ${Errors}
    StrCpy $Isolate "1"
  ${EndIf}
  ${If} $LogFile == ""
    StrCpy $LogFile "$TEMP\vorn-mediapad-setup.log"
  ${EndIf}
  FileOpen $LogHandle $LogFile w
  FileWrite $LogHandle "${PRODUCT} ${VERSION} setup$\r$\n"
  InitPluginsDir
  File "/oname=$PLUGINSDIR\vorn-check.exe" "${FILES}/LCDSmartie-32bit/vorn-check.exe"
  ${If} $INSTDIR == ""
    Call ProposeFolder
  ${EndIf}
FunctionEnd

Function .onGUIEnd
  ${If} $LogHandle != ""
    FileClose $LogHandle
  ${EndIf}
FunctionEnd

; ---- the folder ----
; $R0: the folder of a running LCDSmartie.exe, or "".
Function RunningDisplayHostFolder
  StrCpy $R0 ""
  System::Call 'kernel32::CreateToolhelp32Snapshot(i 2, i 0) p .r0'
  ${If} $0 = -1
    Return
  ${EndIf}
  System::Alloc 556  ; PROCESSENTRY32W
  Pop $1
  System::Call '*$1(i 556)'
  System::Call 'kernel32::Process32FirstW(p r0, p r1) i .r2'
  ${DoWhile} $2 <> 0
    System::Call '*$1(i, i, i .r3, p, i, i, i, i, i, &w260 .r4)'
    ${If} $4 == "LCDSmartie.exe"
      System::Call 'kernel32::OpenProcess(i 0x1000, i 0, i r3) p .r5'
      ${If} $5 <> 0
        System::Call 'kernel32::QueryFullProcessImageNameW(p r5, i 0, w .r6, *i ${NSIS_MAX_STRLEN}) i .r7'
        System::Call 'kernel32::CloseHandle(p r5)'
        ${If} $7 <> 0
          ${GetParent} $6 $R0
          ${Break}
        ${EndIf}
      ${EndIf}
    ${EndIf}
    System::Call 'kernel32::Process32NextW(p r0, p r1) i .r2'
  ${Loop}
  System::Free $1
  System::Call 'kernel32::CloseHandle(p r0)'
FunctionEnd

; The folder of a running LCDSmartie.exe, else the first of its usual
; install places that holds one.
Function ProposeFolder
  Call RunningDisplayHostFolder
  ${If} $R0 != ""
    StrCpy $INSTDIR $R0
    Return
  ${EndIf}
  ${ForEach} $R1 1 6 + 1
    ${Select} $R1
      ${Case} 1
        StrCpy $R0 "$PROGRAMFILES32\LCD Smartie"
      ${Case} 2
        StrCpy $R0 "$PROGRAMFILES32\LCDSmartie"
      ${Case} 3
        StrCpy $R0 "$PROGRAMFILES64\LCD Smartie"
      ${Case} 4
        StrCpy $R0 "$PROGRAMFILES64\LCDSmartie"
      ${Case} 5
        StrCpy $R0 "C:\LCD Smartie"
      ${Case} 6
        StrCpy $R0 "C:\LCDSmartie"
    ${EndSelect}
    ${If} ${FileExists} "$R0\LCDSmartie.exe"
      StrCpy $INSTDIR $R0
      Return
    ${EndIf}
  ${Next}
  StrCpy $INSTDIR "$PROGRAMFILES32\LCD Smartie"
FunctionEnd

; $R9: why $INSTDIR cannot take the chain, or "" when it can; $Build: the
; build of LCDSmartie.exe. The machine type is read from its PE header.
Function FolderProblem
  StrCpy $R9 ""
  ${IfNot} ${FileExists} "$INSTDIR\LCDSmartie.exe"
    StrCpy $R9 "$INSTDIR holds no LCDSmartie.exe. Choose the folder of LCD Smartie."
    Return
  ${EndIf}
  ClearErrors
  FileOpen $0 "$INSTDIR\LCDSmartie.exe" r
  FileSeek $0 60 SET
  FileReadByte $0 $1
  FileReadByte $0 $2
  FileReadByte $0 $3
  FileReadByte $0 $4
  IntOp $5 $2 << 8
  IntOp $5 $5 | $1
  IntOp $6 $3 << 16
  IntOp $5 $5 | $6
  IntOp $6 $4 << 24
  IntOp $5 $5 | $6
  IntOp $5 $5 + 4
  FileSeek $0 $5 SET
  FileReadByte $0 $1
  FileReadByte $0 $2
  FileClose $0
  IntOp $2 $2 << 8
  IntOp $1 $1 | $2
  ${If} ${Errors}
  ${OrIf} $1 = 0
    StrCpy $R9 "$INSTDIR\LCDSmartie.exe cannot be read as a Windows program."
  ${ElseIf} $1 = 0x8664
    StrCpy $Build "64"
  ${ElseIf} $1 = 0x14C
    StrCpy $Build "32"
  ${Else}
    StrCpy $R9 "$INSTDIR\LCDSmartie.exe is neither a 32-bit nor a 64-bit Windows program."
  ${EndIf}
FunctionEnd

Function FolderPageLeave
  Call FolderProblem
  ${If} $R9 != ""
    !insertmacro Refuse "$R9"
    Abort
  ${EndIf}
FunctionEnd

; ---- the layer ----
; The patch step run in the plug-ins folder, where its copy is thrown away:
; $R8 its exit status, $R7 its line.
Function TryPatch
  nsExec::ExecToStack '"$PLUGINSDIR\vorn-check.exe" --patch-layer "$Layer"'
  Pop $R8
  Pop $R7
  ${TrimNewLines} $R7 $R7
  ; A refusal is passed on as the setup's own.
  StrCpy $0 $R7 9
  ${If} $0 == "refused: "
    StrCpy $R7 $R7 "" 9
  ${EndIf}
  Delete "$PLUGINSDIR\MediaPadLayer.dll"
FunctionEnd

; An unpatched layer beside LCDSmartie.exe, or the one an earlier setup kept.
Function ProposeLayer
  ${ForEach} $R1 1 2 + 1
    ${If} $R1 = 1
      StrCpy $Layer "$INSTDIR\MediaPadLayer.dll"
    ${Else}
      StrCpy $Layer "$INSTDIR\MediaPadLayer.dll.orig"
    ${EndIf}
    ${If} ${FileExists} $Layer
      Call TryPatch
      StrCpy $R7 $R7 8
      ${If} $R7 == "patched:"
        Return
      ${EndIf}
    ${EndIf}
  ${Next}
  StrCpy $Layer ""
FunctionEnd

Function LayerPageShow
  ${If} $Layer == ""
    Call ProposeLayer
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "The MediaPad layer" "The setup makes the patched MediaPadLayer.dll from the vendor's own."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 36u "Choose the vendor's MediaPadLayer.dll, as the vendor's MediaPad software installed it. The setup writes a patched copy beside LCDSmartie.exe that hands the pad's calls to VornApx.dll; the file you choose is not changed."
  Pop $0
  ${NSD_CreateText} 0 40u 80% 12u $Layer
  Pop $LayerField
  ${NSD_CreateBrowseButton} 82% 39u 18% 14u "Browse..."
  Pop $0
  ${NSD_OnClick} $0 BrowseLayer
  ${NSD_CreateLabel} 0 60u 100% 36u "A MediaPadLayer.dll that is already beside LCDSmartie.exe is kept as MediaPadLayer.dll.orig (or the next free name); uninstalling puts it back."
  Pop $0
  nsDialogs::Show
FunctionEnd

Function BrowseLayer
  ${NSD_GetText} $LayerField $0
  nsDialogs::SelectFileDialog open $0 "MediaPad layer|MediaPadLayer.dll*|DLL files|*.dll|All files|*.*"
  Pop $0
  ${If} $0 != ""
    ${NSD_SetText} $LayerField $0
  ${EndIf}
FunctionEnd

Function LayerPageLeave
  ${NSD_GetText} $LayerField $Layer
  Call TryPatch
  ${If} $R8 != "0"
    !insertmacro Refuse "$R7"
    Abort
  ${EndIf}
FunctionEnd

; ---- the plug-in's process (32-bit build only) ----
Var IsolationShown

; Ticked at first when the folder's plug-in runs in a process of its own
; now: an update keeps what the user chose before.
Function IsolationPageShow
  ${If} $Build != "32"
    Abort
  ${EndIf}
  ${If} $IsolationShown == ""
  ${AndIf} ${FileExists} "$INSTDIR\${BRIDGE_FOLDER}\QX20481.dll"
    StrCpy $Isolate "1"
  ${EndIf}
  StrCpy $IsolationShown "1"
  !insertmacro MUI_HEADER_TEXT "The plug-in's process" "For the 32-bit LCD Smartie: where the display plug-in runs."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 64u "LCD Smartie calls its display plug-in on the thread of its own window: a plug-in call that hangs freezes the window, and a crash in the plug-in can end LCD Smartie.$\r$\n$\r$\nTicked, the plug-in runs in the small helper program QX20481Bridge32.exe instead. A call that hangs then holds LCD Smartie's window for about a fifth of a second at most, and a crash ends only the helper, which is started again and given the screen back. It costs one more process and a little time per call."
  Pop $0
  ${NSD_CreateCheckbox} 0 70u 100% 12u "${ISOLATE_TEXT}"
  Pop $IsolateBox
  ${If} $Isolate == "1"
    ${NSD_Check} $IsolateBox
  ${EndIf}
  ${NSD_CreateLabel} 0 88u 100% 36u "Off, LCD Smartie loads the plug-in itself. Either way it can be changed later: run the setup again, or vorn-check.exe --isolate (or --unisolate) displays\QX20481.dll in the folder of LCD Smartie."
  Pop $0
  nsDialogs::Show
FunctionEnd

Function IsolationPageLeave
  ${NSD_GetState} $IsolateBox $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $Isolate "1"
  ${Else}
    StrCpy $Isolate ""
  ${EndIf}
FunctionEnd

; ---- installing ----
; Places one file of the zip (SOURCE, in the zip's folder) as DEST under
; $INSTDIR. A file the display host has loaded cannot be replaced: the user
; is asked to close it and try again.
!macro PlaceFile SOURCE DEST
  ${Do}
    ClearErrors
    File "/oname=${DEST}" "${FILES}/${SOURCE}"
    ${IfNot} ${Errors}
      !insertmacro Log "placed ${DEST}"
      ${Break}
    ${EndIf}
    ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$INSTDIR\${DEST} cannot be replaced: LCD Smartie has it loaded. Close LCD Smartie, then press Retry." /SD IDCANCEL IDCANCEL`
      !insertmacro Stop "$INSTDIR\${DEST} cannot be replaced: it is in use. Close LCD Smartie and run the setup again."
      Abort
    ${EndIf}
  ${Loop}
!macroend

; Waits until no process holds NAME under $INSTDIR: a DLL that LCD Smartie
; has loaded, or one its helper runs. Windows lets a loaded file be renamed,
; so the steps that move the plug-in's files do not find out themselves.
; STOP is the macro that ends the silent setup or uninstaller.
!macro WaitUntilFree NAME STOP
  ${Do}
    ${IfNot} ${FileExists} "$INSTDIR\${NAME}"
      ${Break}
    ${EndIf}
    ClearErrors
    FileOpen $R6 "$INSTDIR\${NAME}" a
    ${IfNot} ${Errors}
      FileClose $R6
      ${Break}
    ${EndIf}
    ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$INSTDIR\${NAME} is in use: LCD Smartie has it loaded. Close LCD Smartie, then press Retry." /SD IDCANCEL IDCANCEL`
      !insertmacro ${STOP} "$INSTDIR\${NAME} is in use. Close LCD Smartie and try again."
      Abort
    ${EndIf}
  ${Loop}
!macroend

; Runs the check tool at TOOL with STEP (its option) and ARGUMENT. $0: its
; exit status ("error" when it did not run), $1: its line, or what says it
; did not run followed by NOT_RUN.
!macro RunCheckTool TOOL STEP ARGUMENT NOT_RUN
  nsExec::ExecToStack '"${TOOL}" ${STEP} "${ARGUMENT}"'
  Pop $0
  Pop $1
  ${TrimNewLines} $1 $1
  ${If} $0 == "error"
    StrCpy $1 "vorn-check.exe ${STEP} did not run${NOT_RUN}."
  ${EndIf}
!macroend

; Loads the plug-in directly again where it runs in a process of its own
; (vorn-check.exe --isolate, by an earlier setup or by hand), so that the
; plug-in and the files named after it are where a direct install has
; them. The check tool at TOOL does it; LOG logs its line; STOP ends the
; silent run while a file is in use. $R9: why it failed, or "". A layout
; that is not an isolated plug-in's is left as it is.
!macro LoadPluginDirectly TOOL LOG STOP
  StrCpy $R9 ""
  ${If} ${FileExists} "$INSTDIR\${BRIDGE_FOLDER}\QX20481.dll"
    !insertmacro WaitUntilFree "displays\QX20481.dll" ${STOP}
    !insertmacro WaitUntilFree "${BRIDGE_FOLDER}\QX20481.dll" ${STOP}
    !insertmacro RunCheckTool "${TOOL}" --unisolate "$INSTDIR\displays\QX20481.dll" ""
    !insertmacro ${LOG} "$1"
    ${WordFind} $1 " is not an isolated plug-in" "E+1{" $2
    ${If} ${Errors}
    ${AndIf} $0 != "0"
      StrCpy $R9 "the display plug-in runs in a process of its own and could not be loaded directly again: $1"
    ${EndIf}
  ${EndIf}
!macroend

; Ends the folder's host program with the check tool at TOOL, so that its
; file can be replaced or removed; the next call through the chain starts
; it again. $0: the tool's exit status ("error" when it did not run), $1:
; its line.
!macro EndHostProgram TOOL
  !insertmacro RunCheckTool "${TOOL}" --end-host "$INSTDIR" ": a host program may run from $INSTDIR"
!macroend

Section "Install"
  !insertmacro Log "folder: $INSTDIR"
  Call FolderProblem
  ${If} $R9 != ""
    !insertmacro Refuse "$R9"
    Abort
  ${EndIf}
  ${If} $Layer == ""
    Call ProposeLayer
  ${EndIf}
  ${If} $Layer == ""
    !insertmacro Refuse "no vendor's MediaPadLayer.dll to patch: name it (silently: /LAYER=<file>)."
    Abort
  ${EndIf}
  !insertmacro Log "vendor's layer: $Layer"
  Call TryPatch
  ${If} $R8 != "0"
    !insertmacro Refuse "$R7"
    Abort
  ${EndIf}

  ; A host program that still runs holds its file: the step's failure is
  ; said as it is, not left to look like a file that LCD Smartie holds.
  ${Do}
    !insertmacro EndHostProgram "$PLUGINSDIR\vorn-check.exe"
    !insertmacro Log $1
    ${If} $0 == "0"
      ${Break}
    ${EndIf}
    ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$1$\r$\n$\r$\nEnd the host program in the Task Manager, then press Retry." /SD IDCANCEL IDCANCEL`
      !insertmacro Stop "$1 End it in the Task Manager, then run the setup again."
      Abort
    ${EndIf}
  ${Loop}
  StrCpy $0 $Build
  !insertmacro Log "LCDSmartie.exe is the $0-bit build: the files of the zip's folder LCDSmartie-$0bit"
  ${If} $Isolate == "1"
  ${AndIf} $Build == "64"
    !insertmacro Log "/ISOLATE: the 64-bit LCD Smartie runs the plug-in in a process of its own already"
  ${EndIf}
  SetOutPath "$INSTDIR\displays"
  ${If} $Build == "64"
    SetOutPath "$INSTDIR\${BRIDGE_FOLDER}"
    SetOutPath $INSTDIR
    !insertmacro PlaceFile "LCDSmartie-64bit/displays/QX20481.dll" "displays\QX20481.dll"
    !insertmacro PlaceFile "LCDSmartie-64bit/displays/QX20481-32bit/QX20481.dll" "${BRIDGE_FOLDER}\QX20481.dll"
    !insertmacro PlaceFile "LCDSmartie-64bit/QX20481Bridge32.exe" "QX20481Bridge32.exe"
    ; An earlier release kept the helper beside the 32-bit plug-in.
    Delete "$INSTDIR\${BRIDGE_FOLDER}\QX20481Bridge32.exe"
    !insertmacro PlaceFile "LCDSmartie-64bit/VornApx.dll" "VornApx.dll"
    !insertmacro PlaceFile "LCDSmartie-64bit/${HOST_PROGRAM}" "${HOST_PROGRAM}"
    !insertmacro PlaceFile "LCDSmartie-64bit/vorn-check.exe" "vorn-check.exe"
  ${Else}
    SetOutPath $INSTDIR
    ; A plug-in that an earlier install ran in a process of its own is
    ; loaded directly again first. Nothing is moved or replaced while LCD
    ; Smartie or the helper still uses it: the old bridge would go on
    ; calling a helper and a plug-in that are no longer where it left them.
    !insertmacro WaitUntilFree "QX20481Bridge32.exe" Stop
    !insertmacro LoadPluginDirectly "$PLUGINSDIR\vorn-check.exe" Log Stop
    ${If} $R9 != ""
      !insertmacro Refuse "$R9"
      Abort
    ${EndIf}
    !insertmacro PlaceFile "LCDSmartie-32bit/displays/QX20481.dll" "displays\QX20481.dll"
    ; Always beside LCDSmartie.exe, so that vorn-check.exe --isolate works later too.
    !insertmacro PlaceFile "LCDSmartie-32bit/${ISOLATING_BRIDGE}" "${ISOLATING_BRIDGE}"
    !insertmacro PlaceFile "LCDSmartie-32bit/QX20481Bridge32.exe" "QX20481Bridge32.exe"
    !insertmacro PlaceFile "LCDSmartie-32bit/VornApx.dll" "VornApx.dll"
    !insertmacro PlaceFile "LCDSmartie-32bit/${HOST_PROGRAM}" "${HOST_PROGRAM}"
    !insertmacro PlaceFile "LCDSmartie-32bit/${HOST_PROGRAM_32}" "${HOST_PROGRAM_32}"
    !insertmacro PlaceFile "LCDSmartie-32bit/vorn-check.exe" "vorn-check.exe"
  ${EndIf}
  !insertmacro PlaceFile "INSTALL.txt" "INSTALL.txt"

  nsExec::ExecToStack '"$INSTDIR\vorn-check.exe" --patch-layer "$Layer"'
  Pop $0
  Pop $1
  ${TrimNewLines} $1 $1
  !insertmacro Log "$1"
  ; "error" when the tool could not be run at all, which a number compare takes for 0.
  ${If} $0 != "0"
    !insertmacro Refuse "the patched MediaPadLayer.dll could not be made."
    Abort
  ${EndIf}
  ; The line ends with the kept layer's name when one was kept.
  ${WordFind} $1 " is kept as " "+1}" $KeptLayer
  ${If} $KeptLayer == $1
    StrCpy $KeptLayer ""
    ; Nothing kept this time (the copy was in place): an earlier setup's
    ; kept layer is still the one to put back.
    ReadRegStr $2 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $2 == $INSTDIR
      ReadRegStr $KeptLayer HKLM "${UNINSTALL_KEY}" "KeptLayer"
    ${EndIf}
  ${EndIf}

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  ${GetSize} $INSTDIR "/M=MediaPadLayer.dll /S=0K /G=0" $2 $3 $4
  ${If} $Build == "64"
    IntOp $2 $2 + ${SIZE_KB_64}
  ${Else}
    IntOp $2 $2 + ${SIZE_KB_32}
  ${EndIf}
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Vorn"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $2
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" $INSTDIR
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "KeptLayer" $KeptLayer
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  !insertmacro Log "uninstaller: $INSTDIR\${UNINSTALLER}"

  ; Last, so that a failure leaves a whole install that loads the plug-in
  ; directly, with its uninstaller.
  ${If} $Isolate == "1"
  ${AndIf} $Build == "32"
    !insertmacro RunCheckTool "$INSTDIR\vorn-check.exe" --isolate "$INSTDIR\displays\QX20481.dll" ""
    !insertmacro Log "$1"
    ${If} $0 != "0"
      ${WordFind} $1 ": " "+1}" $2
      ${If} $2 != $1
        StrCpy $1 $2
      ${EndIf}
      !insertmacro Refuse "the display plug-in could not be run in a process of its own; LCD Smartie loads it directly: $1"
      Abort
    ${EndIf}
  ${EndIf}

  ; The check's report, through a file: it is longer than one string may be.
  !insertmacro Log "vorn-check.exe:"
  nsExec::Exec '"$SYSDIR\cmd.exe" /c ""$INSTDIR\vorn-check.exe" > "$PLUGINSDIR\check.txt" 2>&1"'
  Pop $0
  FileOpen $2 "$PLUGINSDIR\check.txt" r
  ${Do}
    ClearErrors
    FileRead $2 $3
    ${If} ${Errors}
      ${Break}
    ${EndIf}
    ${TrimNewLines} $3 $3
    !insertmacro Log "  $3"
  ${Loop}
  FileClose $2
  !insertmacro Log "installed; the check's exit status: $0"
  FileClose $LogHandle
  StrCpy $LogHandle ""
SectionEnd

Function ReportPageShow
  !insertmacro MUI_HEADER_TEXT "The check" "vorn-check.exe walked the chain link by link."
  nsDialogs::Create 1018
  Pop $0
  nsDialogs::CreateControl LISTBOX ${DEFAULT_STYLES}|${WS_TABSTOP}|${WS_VSCROLL}|${WS_HSCROLL} ${WS_EX_CLIENTEDGE} 0 0 100% 100% ""
  Pop $1
  ; The report's columns line up in a fixed-width font.
  CreateFont $2 "Courier New" 8
  SendMessage $1 ${WM_SETFONT} $2 1
  SendMessage $1 ${LB_SETHORIZONTALEXTENT} 1200 0
  FileOpen $2 "$PLUGINSDIR\check.txt" r
  ${Do}
    ClearErrors
    FileRead $2 $3
    ${If} ${Errors}
      ${Break}
    ${EndIf}
    ${TrimNewLines} $3 $3
    SendMessage $1 ${LB_ADDSTRING} 0 "STR:$3"
  ${Loop}
  FileClose $2
  nsDialogs::Show
FunctionEnd

; ---- uninstalling ----
!macro RemoveFile NAME
  ${DoWhile} ${FileExists} "$INSTDIR\${NAME}"
    ClearErrors
    Delete "$INSTDIR\${NAME}"
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$INSTDIR\${NAME} cannot be removed: LCD Smartie has it loaded. Close LCD Smartie, then press Retry." /SD IDCANCEL IDCANCEL`
      SetErrorLevel ${REFUSED_STATUS}
      Abort
    ${EndIf}
  ${Loop}
!macroend

; The uninstaller's log is its details list; a refusal is its exit status.
!macro UnLog TEXT
  DetailPrint "${TEXT}"
!macroend
!macro UnStop TEXT
  DetailPrint "refused: ${TEXT}"
  SetErrorLevel ${REFUSED_STATUS}
!macroend

; $R0: the folder of a plug-in other than the MediaPad's that runs through
; the helper (displays\<Name>-32bit): bridged for the 64-bit display host,
; isolated for the 32-bit one. "" when there is none.
Function un.OtherPluginThroughHelper
  StrCpy $R0 ""
  FindFirst $0 $1 "$INSTDIR\displays\*-32bit"
  ${DoWhile} $1 != ""
    ${If} $1 != "QX20481-32bit"
    ${AndIf} ${FileExists} "$INSTDIR\displays\$1\*.dll"
      StrCpy $R0 $1
      ${Break}
    ${EndIf}
    FindNext $0 $1
  ${Loop}
  FindClose $0
FunctionEnd

Section "Uninstall"
  ; Without the check tool nothing can be asked; a host program's file that
  ; is held then stops the removal below.
  ${Do}
    !insertmacro EndHostProgram "$INSTDIR\vorn-check.exe"
    DetailPrint $1
    ${If} $0 == "0"
    ${OrIf} $0 == "error"
      ${Break}
    ${EndIf}
    ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$1$\r$\n$\r$\nEnd the host program in the Task Manager, then press Retry." /SD IDCANCEL IDCANCEL`
      SetErrorLevel ${REFUSED_STATUS}
      Abort
    ${EndIf}
  ${Loop}
  ; The helper serves every bridged or isolated plug-in: it stays while
  ; another one runs through it (vorn-check.exe --bridge or --isolate),
  ; which would otherwise stop working, and so does the isolating bridge.
  ; Else it goes, and nothing is moved or removed while it runs.
  Call un.OtherPluginThroughHelper
  StrCpy $R5 $R0
  ${If} $R5 == ""
    !insertmacro WaitUntilFree "QX20481Bridge32.exe" UnStop
  ${EndIf}
  ; Files named after the plug-in that isolating moved along go back to
  ; displays; where that fails, what is ours is removed where it is.
  !insertmacro LoadPluginDirectly "$INSTDIR\vorn-check.exe" UnLog UnStop
  ${If} $R9 != ""
    DetailPrint "$R9"
  ${EndIf}
  !insertmacro RemoveFile "displays\QX20481.dll"
  !insertmacro RemoveFile "${BRIDGE_FOLDER}\QX20481.dll"
  !insertmacro RemoveFile "${BRIDGE_FOLDER}\QX20481Bridge32.exe"
  RMDir "$INSTDIR\${BRIDGE_FOLDER}"
  ${If} $R5 == ""
    !insertmacro RemoveFile "QX20481Bridge32.exe"
    !insertmacro RemoveFile "${ISOLATING_BRIDGE}"
  ${Else}
    DetailPrint "QX20481Bridge32.exe and ${ISOLATING_BRIDGE} stay: the plug-in in displays\$R5 runs through them"
  ${EndIf}
  !insertmacro RemoveFile "VornApx.dll"
  !insertmacro RemoveFile "${HOST_PROGRAM}"
  !insertmacro RemoveFile "${HOST_PROGRAM_32}"
  !insertmacro RemoveFile "vorn-check.exe"
  !insertmacro RemoveFile "INSTALL.txt"
  !insertmacro RemoveFile "MediaPadLayer.dll"
  Delete "$INSTDIR\Vorn64BitInterface.log"
  Delete "$INSTDIR\Vorn32BitInterface.log"
  Delete "$INSTDIR\logs\QX20481.log"
  Delete "$INSTDIR\logs\QX20481.bridge.log"
  Delete "$INSTDIR\logs\QX20481Bridge32.log"
  Delete "$INSTDIR\logs\VornApx.log"
  RMDir "$INSTDIR\logs"
  ; Only the layer this very install kept.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "KeptLayer"
  ${If} $0 == $INSTDIR
    ${If} $1 != ""
    ${AndIf} ${FileExists} "$INSTDIR\$1"
      Rename "$INSTDIR\$1" "$INSTDIR\MediaPadLayer.dll"
    ${EndIf}
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
  Delete "$INSTDIR\${UNINSTALLER}"
SectionEnd
