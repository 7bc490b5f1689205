#!/usr/bin/env bash
# The Windows distribution: a folder and a zip of it under build/dist/.
#
#   nuva-windows/
#     x64/  x86/          per architecture, what its tree has built:
#                         DuredaVevuvavizuriz_NUVA.dll, its type libraries
#                         (*.tlb), nuva.exe, NuvaNet.dll, NuvaCA.dll
#     config.example.xml  a configuration naming the two components (GBK)
#     action.ini          the steps per type code (example)
#     INSTALL.txt         how to install and check it (GBK, CRLF)
#   nuva-x64.msi  nuva-x86.msi
#                         the Windows Installer packages (scripts/msi.sh, wixl),
#                         made from the x64/ and x86/ folders above
#
#   scripts/dist.sh          builds the win64 and win32 trees' parts first
#   scripts/dist.sh --no-build
#
# An architecture whose tree cannot be built is left out (with a note), and
# so is the library DLL while a tree does not build it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
build=1
[ "${1:-}" = "--no-build" ] && build=0

out=build/dist/nuva-windows
rm -rf "$out" "$out.zip" build/dist/nuva-x64.msi build/dist/nuva-x86.msi build/dist/msi-x64.log build/dist/msi-x86.log
mkdir -p "$out"

copy_arch() {
  local preset=$1 arch=$2 bin=build/$1/bin
  if [ $build = 1 ]; then
    if cmake --preset "$preset" >"build/$preset.dist-configure.log" 2>&1; then
      : >"build/$preset.dist-build.log"
      # One target at a time: make runs several given at once in parallel,
      # and they share the libraries they link.
      for target in nuva NuvaNet NuvaCA; do
        cmake --build --preset "$preset" -j "$jobs" --target $target >>"build/$preset.dist-build.log" 2>&1 ||
          echo "dist: $preset: building $target failed (build/$preset.dist-build.log)"
      done
      # The library DLL, where this tree defines it.
      cmake --build --preset "$preset" -j "$jobs" --target DuredaVevuvavizuriz_NUVA >>"build/$preset.dist-build.log" 2>&1 || true
    else
      echo "dist: $preset: configure failed (build/$preset.dist-configure.log)"
    fi
  fi
  local files=() f
  for f in DuredaVevuvavizuriz_NUVA.dll nuva.exe NuvaNet.dll NuvaCA.dll; do
    [ -f "$bin/$f" ] && files+=("$bin/$f")
  done
  for f in "$bin"/*.tlb; do [ -f "$f" ] && files+=("$f"); done
  if [ ${#files[@]} -eq 0 ]; then
    echo "dist: $arch: nothing built in $bin, left out"
    return
  fi
  mkdir -p "$out/$arch"
  cp "${files[@]}" "$out/$arch/"
  # The trees build with debug information; the distribution goes without.
  local strip=x86_64-w64-mingw32-strip
  [ "$arch" = x86 ] && strip=i686-w64-mingw32-strip
  if command -v $strip >/dev/null; then
    for f in "$out/$arch"/*.dll "$out/$arch"/*.exe; do [ -f "$f" ] && $strip "$f"; done
  fi
  echo "dist: $arch: $(cd "$out/$arch" && ls | tr '\n' ' ')"
}

[ $build = 1 ] && bash scripts/deps.sh
copy_arch win64 x64
copy_arch win32 x86

crlf() { sed 's/$/\r/'; }
gbk() { iconv -f UTF-8 -t GBK; }

gbk <<'XML' | crlf >"$out/config.example.xml"
<?xml version="1.0" encoding="GBK"?>
<CONFIG>
  <SEND_FILE_PATH>C:\nuva\send</SEND_FILE_PATH>
  <RECEIVE_FILE_PATH>C:\nuva\recv</RECEIVE_FILE_PATH>
  <NETWORK_COMPONENT>NuvaNet.dll</NETWORK_COMPONENT>
  <CA_COMPONENT>NuvaCA.dll</CA_COMPONENT>
  <NETWORK>
    <URL>http://192.168.1.10:8080</URL>
    <CONNECT_TIMEOUT>10000</CONNECT_TIMEOUT>
    <SEND_TIMEOUT>30000</SEND_TIMEOUT>
    <RECEIVE_TIMEOUT>60000</RECEIVE_TIMEOUT>
  </NETWORK>
  <CA>
    <KEY_FILE>C:\nuva\nuva.key</KEY_FILE>
  </CA>
</CONFIG>
XML

crlf >"$out/action.ini" <<'INI'
; One section per type code; a step is off only when its value is 0.
[0001]
has_body=1
is_compress=1
is_crypt=1
[0002]
has_body=1
is_compress=0
is_crypt=0
INI

gbk <<'TXT' | crlf >"$out/INSTALL.txt"
DuredaVevuvavizuriz_NUVA 安装说明

1. 选择与宿主程序相同的位数: 64位程序用 x64 目录, 32位程序用 x86 目录.
   把该目录下的全部文件复制到宿主程序所在的目录.
2. 注册通信库 (管理员命令行):
       regsvr32 DuredaVevuvavizuriz_NUVA.dll
   Sender.tlb 须先注册 (nuva.exe register 可完成这两步).
   NuvaNet.dll 与 NuvaCA.dll 不必手工注册: 通信库在 Init 时自行注册.
3. 密钥: NuvaCA 与服务器使用同一个密钥文件 (32字节, 或64位十六进制数字),
   或同一个口令 (<PASSPHRASE>). 密钥文件只应让本机的操作员读取.
4. 修改 config.example.xml 中的服务器地址 <URL> 与目录, 把 action.ini
   放在宿主程序所在的目录.
5. 检查连接与一笔交易:
       nuva.exe testconn --config config.example.xml
       nuva.exe send --config config.example.xml --request 请求.xml
   使用HTTPS时, 在 <NETWORK> 中写 https:// 地址, 并可用 <CA_FILE>
   (CA证书PEM文件) 或 <PIN_SHA256> (服务器公钥的SHA-256, base64) 校验服务器.
TXT

(cd build/dist && python3 -m zipfile -c nuva-windows.zip nuva-windows)
echo "dist: build/dist/nuva-windows and build/dist/nuva-windows.zip"

# The installer packages, from the stripped files of each architecture.
for arch in x64 x86; do
  if [ ! -f "$out/$arch/DuredaVevuvavizuriz_NUVA.dll" ]; then
    echo "dist: nuva-$arch.msi left out: no $arch library"
  elif bash scripts/msi.sh "$out/$arch" $arch "build/dist/nuva-$arch.msi" >"build/dist/msi-$arch.log" 2>&1; then
    rm -f "build/dist/msi-$arch.log"
    echo "dist: build/dist/nuva-$arch.msi"
  else
    echo "dist: nuva-$arch.msi failed (build/dist/msi-$arch.log)"
  fi
done
