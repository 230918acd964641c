#!/usr/bin/env bash
# Builds eleven real Windows Installer packages with wixl, one per product
# code the uninstaller removes; each installs a marker file under
# C:\Program Files\ZIVOTest\<code>\. codes.txt beside them lists the
# codes, one per package in order.   make-packages.sh OUTPUT_FOLDER
set -euo pipefail
out=$1
mkdir -p "$out"
codes=(
    "{4CA564D7-4F81-4C2C-9429-6609A57D26A5}" "{9B739684-14D2-447F-865E-28E21576139A}"
    "{F9B424D4-51A1-40E0-8EB1-1B9097AF9811}" "{897B5A9B-25C7-4C20-BD6A-C13EA4397A6A}"
    "{3A041F1F-A2AC-4453-A057-829C89692083}" "{67A0279B-3337-4BC2-AA79-56C802EAA72F}"
    "{343C5F9C-35D1-4F4B-A04B-BF246FA1A19C}" "{9815A65A-DD46-44B9-A088-819C3D10C058}"
    "{79910CD7-CD3A-415F-9CE5-A178A44EB618}" "{43f6bc7b-7cd0-464c-bbad-5b25a5e89027}"
    "{1A23B247-C9CF-43F5-A7AE-6B1FF4BDB52A}"
)
echo "marker" > "$out/marker.txt"
printf '%s\n' "${codes[@]}" > "$out/codes.txt"
for i in "${!codes[@]}"; do
    code=${codes[$i]}
    dir=$(echo "$code" | tr -d '{}' | tr 'a-f' 'A-F')
    n=$(printf '%012d' "$i")
    cat > "$out/package$i.wxs" <<WXS
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$code" Name="ZIVO test package $i" Language="1033" Version="1.0.0"
           Manufacturer="HALVERN" UpgradeCode="A1B2C3D4-0000-4000-8000-$n">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="package.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="TESTDIR" Name="ZIVOTest">
          <Directory Id="PACKAGEDIR" Name="$dir">
            <Component Id="Marker" Guid="B1B2C3D4-0000-4000-8000-$n" Win64="yes">
              <File Id="MarkerFile" Name="marker.txt" Source="marker.txt" KeyPath="yes"/>
            </Component>
          </Directory>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="Marker"/></Feature>
  </Product>
</Wix>
WXS
    (cd "$out" && wixl -a x64 "package$i.wxs" -o "package$i.msi")
done
