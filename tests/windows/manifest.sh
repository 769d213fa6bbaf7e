#!/bin/sh
# Each Windows program carries its manifest: the UTF-8 code page, the system's controls in their
# version 6, Windows 10 and 11, long paths.
status=0
for program in "$@"; do
    for part in '<activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8</activeCodePage>' \
                'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' \
                '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>' \
                '<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>'; do
        if ! grep -aqF "$part" "$program"; then
            echo "$program: no $part in its manifest"
            status=1
        fi
    done
done
exit $status
