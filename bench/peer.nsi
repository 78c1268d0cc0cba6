; The NSIS contender: the same files, stored without compression, installed silently (/S).
; makensis -DSOURCE=<dist folder> -DOUTFILE=<installer> peer.nsi
Unicode false
SetCompress off
SetDatablockOptimize off
CRCCheck off
RequestExecutionLevel user
Name "Bench App"
OutFile "${OUTFILE}"
InstallDir "C:\BenchNsis"
SilentInstall silent

Section
  SetOutPath "$INSTDIR"
  File /nonfatal /r /x SETUP.DAT /x sizes.txt /x setup.exe "${SOURCE}\*"
  WriteRegStr HKCU "Software\BenchApp" "InstallDir" "$INSTDIR"
SectionEnd
