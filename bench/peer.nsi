; The NSIS contender: the same files, stored without compression. By default it installs
; silently (/S); with -DSHOWN it shows its install-files page alone, with the details list and
; the progress bar, and closes itself when done, so that it needs no click either.
; makensis -DSOURCE=<dist folder> -DOUTFILE=<installer> [-DSHOWN] peer.nsi
Unicode false
SetCompress off
SetDatablockOptimize off
CRCCheck off
RequestExecutionLevel user
Name "Bench App"
OutFile "${OUTFILE}"
InstallDir "C:\BenchNsis"
!ifdef SHOWN
ShowInstDetails show
AutoCloseWindow true
Page instfiles
!else
SilentInstall silent
!endif

Section
  SetOutPath "$INSTDIR"
  File /nonfatal /r /x SETUP.DAT /x sizes.txt /x setup.exe "${SOURCE}\*"
  WriteRegStr HKCU "Software\BenchApp" "InstallDir" "$INSTDIR"
SectionEnd
