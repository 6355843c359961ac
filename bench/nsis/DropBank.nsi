; The NSIS installer that the quiet update is timed against: run with /S (silent) and
; /D=<host folder>, it drops the same bank into that folder and sets one registry value.
; Built by scripts/bench.sh:
;   makensis -DTARGET=amd64-unicode|x86-unicode -DBANK=<res/zorv.3bs> -DBANK_KIB=<its KiB>
;            -DOUTFILE=<exe> DropBank.nsi
; The target matches the Wine runtime's processor, as the updater's build does. Everything else
; is NSIS's default, compression and the installer's own CRC check included.
Unicode true
Target ${TARGET}
Name "Zelm sound bank"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Zelm"
RequestExecutionLevel admin

Section
    ; The 64-bit registry view, as the updater writes on 64-bit Windows; an x86 installer would
    ; otherwise write under WOW6432Node.
    SetRegView 64
    SetOutPath "$INSTDIR"
    File "/oname=zorv.3bs" "${BANK}"
    WriteRegDWORD HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Zelm" \
        "EstimatedSize" ${BANK_KIB}
SectionEnd
