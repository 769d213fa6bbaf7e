#!/usr/bin/env bash
# The Windows installer under Wine (in WINEPREFIX): a silent install puts both programs, the
# licences and the uninstaller under Program Files\Kelvara and a Start-menu entry in place;
# Kelvara starts from that entry and shows its window; the install folder is on the system PATH,
# so kelvara-cli runs by its name alone; the silent uninstaller leaves nothing of it behind,
# files, registry or PATH.
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
exit $failed
