#!/usr/bin/env bash
# The Windows installer under Wine (in WINEPREFIX): a silent install puts both programs, the
# licences and the uninstaller under Program Files\Kelvara and a Start-menu entry in place;
# Kelvara starts from that entry and shows its window; the install folder is on the system PATH,
# so kelvara-cli runs by its name alone; the silent uninstaller leaves nothing of it behind,
# files, registry or PATH. The installer and both programs carry their version, Apps & features
# is told the size; a silent install that cannot add to a PATH too long says so in its status.
#   installer.sh SETUP.EXE   (run under an X server: scripts/with-xvfb)
set -uo pipefail
setup=$1
drive=$WINEPREFIX/drive_c
folder="$drive/Program Files/Kelvara"
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Kelvara"
failed=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; failed=1; fi; }
# What Wine itself changes meanwhile (its temporary files, its own registry files) is not ours.
snapshot() {
    (cd "$drive" && find . -path ./windows -prune -o -path ./users -prune -o -print | sort)
}

environment='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
system_path() { wine reg query "$environment" /v PATH 2>/dev/null | tr -d '\r' | grep -i 'PATH'; }
before=$(snapshot)
path_before=$(system_path)
wine "$setup" /S
wineserver -w
check "the programs, the licences and the uninstaller are installed" \
    '[[ -f $folder/kelvara.exe && -f $folder/kelvara-cli.exe && -f $folder/LICENSE.txt &&
        -f $folder/window-font/LICENSE-Apache-2.0.txt && -f $folder/Uninstall.exe ]]'
check "the Start menu has Kelvara" '[[ -f $menu/Kelvara.lnk ]]'
check "Windows lists it among its programs" \
    'wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kelvara" >/dev/null 2>&1'
check "Apps & features is told its size" \
    'wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kelvara" /v EstimatedSize 2>/dev/null |
         grep -q "REG_DWORD[[:space:]]*0x[0-9a-f]*[1-9a-f]"'
# A version resource holds its words in UTF-16.
has_version() {
    LC_ALL=C grep -aqP "P\x00r\x00o\x00d\x00u\x00c\x00t\x00V\x00e\x00r\x00s\x00i\x00o\x00n" "$1" &&
        LC_ALL=C grep -aqP "1\x00\.\x000\x002\x00" "$1"
}
check "the installer and both programs carry their version" \
    'has_version "$setup" && has_version "$folder/kelvara.exe" && has_version "$folder/kelvara-cli.exe"'
check "the installed kelvara-cli runs" \
    '[[ $(wine "$folder/kelvara-cli.exe" --version 2>/dev/null) == "kelvara-cli 1.02" ]]'
check "its folder is on the system PATH" \
    'system_path | grep -qiF "C:\\Program Files\\Kelvara"'
check "kelvara-cli runs by its name alone from a new command prompt" \
    '[[ $(wine cmd /c kelvara-cli --version 2>/dev/null | tr -d "\r") == "kelvara-cli 1.02" ]]'

# Started as the Start menu starts it, Kelvara shows its window.
WINEQT_QPA_PLATFORM=windows wine start "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Kelvara\\Kelvara.lnk"
shown=1
for _ in $(seq 200); do
    if xwininfo -name "Kelvara V1.02" 2>/dev/null | grep -q "IsViewable"; then shown=0; break; fi
    sleep 0.1
done
check "Kelvara starts from its Start-menu entry and shows its window" '[[ $shown == 0 ]]'
wine taskkill /im kelvara.exe /f >/dev/null 2>&1
wineserver -w

wine "$folder/Uninstall.exe" /S
wineserver -w
check "the uninstaller leaves no file behind" '[[ "$(snapshot)" == "$before" ]]'
check "nor its folder on the system PATH" '[[ "$(system_path)" == "$path_before" ]]'
check "nor the entry among Windows' programs" \
    '! wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kelvara" >/dev/null 2>&1'
[[ $failed == 0 ]] || diff <(echo "$before") <(snapshot) | head -20

# A PATH too long for the installer to hold whole is left as it is, and a silent install says
# so in its exit status.
long="$(wine reg query "$environment" /v PATH 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_[A-Z_]*[[:space:]]*//p')"
padded="$long;$(printf 'C:\\Padding%04d;' $(seq 90))"
wine reg add "$environment" /v PATH /t REG_EXPAND_SZ /d "$padded" /f >/dev/null 2>&1
wine "$setup" /S
status=$?
wineserver -w
check "a silent install that leaves a long PATH alone exits 3" '[[ $status == 3 ]]'
check "and leaves the PATH as it was" 'system_path | grep -qF "Padding0089;" && ! system_path | grep -qiF "Program Files\\Kelvara"'
wine "$folder/Uninstall.exe" /S
wineserver -w
wine reg add "$environment" /v PATH /t REG_EXPAND_SZ /d "$long" /f >/dev/null 2>&1
exit $failed
