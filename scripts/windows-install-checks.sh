#!/usr/bin/env bash
# The library installed as administrators install it, and called as script
# hosts call it, under Wine. Sourced by scripts/test.sh, which defines
# check_passed and check_failed (one line each per check) and $root:
#
#   windows_install_checks TREE LABEL
#
# TREE is a build tree under build/ (win64, or win32 in a 32-bit prefix); its
# wine-run.sh runs the programs in the tree's own prefix. The package of the
# tree's architecture (scripts/msi.sh: x64 for win64, x86 for win32) is
# checked five ways:
#   1. its tables (msiinfo): per-machine, the program files folder and the
#      registry view of its kind, and exactly the registry rows that
#      registration writes (the class, the ProgID, both type libraries and
#      ISender's interface keys);
#   2. msiexec /i ... /qn installs it, and a host in another folder (nuva.exe
#      with the test components, no nuva.exe register) runs a transaction
#      through the installed library with send --com and with --late;
#   3. a VBScript run by Wine's cscript.exe calls Init, TestConn and Send with
#      variables (variants by reference) and prints the reply and the final
#      message;
#   4. a newer package replaces it (major upgrade: one product left, the
#      newer version), and msiexec /x ... /qn removes every key and file;
#   5. the keys it wrote equal those that nuva register writes for the same
#      files in the same folder.
# Seven checks. Where a tree's programs cannot run (the 32-bit tree on a
# machine without 32-bit support), msi_package_checks TREE LABEL checks the
# package's tables alone (check 1).

# The registry rows a package must hold, one "key|name|value" a line (name
# empty for a key's default value), for type-library platform KIND (win64 or
# win32).
msi_expected_rows() {
  local kind=$1
  local clsid='CLSID\{9A0CECE0-90A4-40E6-BE3F-382306EAFA72}'
  local progid='DuredaVevuvavizuriz_NUVA.SenderImpl'
  local own='TypeLib\{857FAEB4-5F46-40AB-B92D-75A165B07531}\1.0'
  local host='TypeLib\{308A4417-9039-4210-A10D-582379EC1D79}\1.0'
  local iface='Interface\{4359B4C3-E087-4D97-9AC3-86FE8B61B145}'
  local marshaller='{00020424-0000-0000-C000-000000000046}'
  cat <<EOF
$clsid||SenderImpl
$clsid\\InprocServer32||[!LibraryDll]
$clsid\\InprocServer32|ThreadingModel|Both
$clsid\\ProgID||$progid
$clsid\\Version||1.0
$clsid\\TypeLib||{857FAEB4-5F46-40AB-B92D-75A165B07531}
$progid||SenderImpl
$progid\\Clsid||{9A0CECE0-90A4-40E6-BE3F-382306EAFA72}
$own||Sender_NUVA Library
$own\\0\\$kind||[#LibraryDll]
$own\\FLAGS||8
$own\\HELPDIR||[INSTALLDIR]
$host||Sender Library
$host\\0\\$kind||[#SenderTlb]
$host\\FLAGS||8
$host\\HELPDIR||[INSTALLDIR]
$iface||ISender
$iface\\ProxyStubClsid||$marshaller
$iface\\ProxyStubClsid32||$marshaller
$iface\\TypeLib||{308A4417-9039-4210-A10D-582379EC1D79}
$iface\\TypeLib|Version|1.0
EOF
}

# Checks the tables of package MSI of architecture ARCH (x64 or x86); prints
# what differs and returns 1, else 0.
msi_table_checks() {
  local msi=$1 arch=$2 problems=()
  local kind=win64 attr64=256 programfiles=ProgramFiles64Folder template='x64;1033'
  if [ "$arch" = x86 ]; then
    kind=win32 attr64=0 programfiles=ProgramFilesFolder template='Intel;1033'
  fi
  msiinfo suminfo "$msi" | grep -qxF "Template: $template" || problems+=("template is not $template")
  # Every Registry row under HKEY_CLASSES_ROOT (root 0), the set equal to
  # what registration writes; the x64 package also gives 32-bit processes
  # ISender (its interface rows once more in a 32-bit component).
  local rows expected
  rows=$(msiinfo export "$msi" Registry | tail -n +4 | tr -d '\r' |
    awk -F'\t' '$2 != "0" { print "root " $2 " of " $3 } $2 == "0" { print $3 "|" $4 "|" $5 }')
  expected=$(msi_expected_rows $kind)
  if [ "$arch" = x64 ]; then
    expected+=$'\n'$(msi_expected_rows $kind | grep '^Interface')
  fi
  if [ "$(sort <<<"$rows")" != "$(sort <<<"$expected")" ]; then
    problems+=("registry rows differ: $(diff <(sort <<<"$expected") <(sort <<<"$rows") | grep '^[<>]' | tr '\n' ' ')")
  fi
  # Components: 64-bit ones (attribute 256) in the x64 package but for the
  # 32-bit interface rows; none in the x86 package.
  local components
  components=$(msiinfo export "$msi" Component | tail -n +4 | tr -d '\r' | cut -f1,4)
  local name attributes
  while IFS=$'\t' read -r name attributes; do
    local want=$attr64
    [ "$name" = HostInterface32 ] && want=0
    [ $((attributes & 256)) = "$want" ] || problems+=("component $name: attributes $attributes, 64-bit wanted: $want")
  done <<<"$components"
  msiinfo export "$msi" Directory | tr -d '\r' | grep -qP "^INSTALLDIR\t$programfiles\tNUVA$" ||
    problems+=("INSTALLDIR is not NUVA in $programfiles")
  msiinfo export "$msi" Property | tr -d '\r' | grep -qP '^ALLUSERS\t1$' || problems+=("not per-machine (ALLUSERS)")
  local files
  files=$(msiinfo export "$msi" File | tail -n +4 | cut -f3 | tr -d '\r' | sed 's/.*|//' | sort | tr '\n' ' ')
  [ "$files" = "DuredaVevuvavizuriz_NUVA.dll DuredaVevuvavizuriz_NUVA.tlb NuvaCA.dll NuvaNet.dll README.md Sender.tlb nuva.exe " ] ||
    problems+=("files: $files")
  msiinfo export "$msi" CustomAction | tail -n +4 | grep -q . && problems+=("custom actions: the package runs code")
  if [ ${#problems[@]} -gt 0 ]; then
    printf '%s\n' "${problems[@]}"
    return 1
  fi
}

# The registry trees KEYS... as `reg query /s` shows them (RUN: a tree's
# wine-run.sh), in UTF-8, with the path forms that differ between writers
# made equal: Wine's registration writes type-library paths with a "\\?\"
# prefix and the installer writes a folder with a trailing "\".
registry_dump() {
  local run=$1 k
  shift
  for k in "$@"; do
    "$run" reg query "$k" /s 2>&1 | tr -d '\r' | iconv -f GBK -t UTF-8 -c
  done | sed -e 's/REG_SZ *\\\\?\\/REG_SZ    /' -e 's/\\$//' | grep -v '^$'
}

# msi_package_checks TREE LABEL [OUT.msi]: builds the package of TREE's
# architecture from its bin/ (into OUT.msi, else into a scratch folder that
# is removed) and checks its tables: one check. Returns 1 when the package
# could not be built.
msi_package_checks() {
  local tree=$1 label=$2 msi=${3:-} scratch=""
  local arch=x64
  [ "$tree" = win32 ] && arch=x86
  if [ -z "$msi" ]; then
    scratch=$(mktemp -d) || { check_failed "$label MSI: no scratch folder"; return 1; }
    msi="$scratch/nuva-$arch.msi"
  fi
  local rc=0 problems
  if ! bash "$root/scripts/msi.sh" "$root/build/$tree/bin" $arch "$msi" >"$msi.log" 2>&1; then
    check_failed "$label MSI: scripts/msi.sh failed: $(tail -n 3 "$msi.log" | tr '\n' ' ')"
    rc=1
  elif problems=$(msi_table_checks "$msi" $arch); then
    check_passed "$label MSI tables: per-machine, $arch program files and registry view, exactly the registration's rows, no custom action"
  else
    check_failed "$label MSI tables: $problems"
  fi
  [ -n "$scratch" ] && rm -rf "$scratch"
  return $rc
}

windows_install_checks() {
  local tree=$1 label=$2
  local run="$root/build/$tree/wine-run.sh" bin="$root/build/$tree/bin"
  local arch=x64
  [ "$tree" = win32 ] && arch=x86
  local dir
  dir=$(mktemp -d "$root/build/$tree/install-checks.XXXXXX") || { check_failed "$label: no scratch folder"; return; }
  local wdir="Z:${dir//\//\\}"
  local msi="$dir/nuva-$arch.msi" wmsi="$wdir\\nuva-$arch.msi"
  local clsid='HKCR\CLSID\{9A0CECE0-90A4-40E6-BE3F-382306EAFA72}'
  local keys=("$clsid" 'HKCR\DuredaVevuvavizuriz_NUVA.SenderImpl'
    'HKCR\TypeLib\{857FAEB4-5F46-40AB-B92D-75A165B07531}'
    'HKCR\TypeLib\{308A4417-9039-4210-A10D-582379EC1D79}'
    'HKCR\Interface\{4359B4C3-E087-4D97-9AC3-86FE8B61B145}')
  [ $arch = x64 ] && keys+=('HKLM\Software\Classes\Wow6432Node\Interface\{4359B4C3-E087-4D97-9AC3-86FE8B61B145}')

  # 1. The package and its tables.
  if ! msi_package_checks "$tree" "$label" "$msi"; then
    rm -rf "$dir"
    return
  fi

  # 2. Installed silently; a host elsewhere runs a transaction through it.
  local installed=0
  if "$run" msiexec /i "$wmsi" /qn >"$dir/install.log" 2>&1; then
    installed=1
  fi
  local server=""
  server=$("$run" reg query "$clsid\\InprocServer32" /ve 2>/dev/null | tr -d '\r' | LC_ALL=C sed -n 's/.*REG_SZ *//p')
  local folder=""
  [ -n "$server" ] && folder=$("$run" winepath -u "$server" 2>/dev/null | tr -d '\r')
  folder=$(dirname "$folder" 2>/dev/null)
  local present=0 k
  for k in "${keys[@]}"; do
    "$run" reg query "$k" >/dev/null 2>&1 && present=$((present + 1))
  done
  registry_dump "$run" "${keys[@]}" >"$dir/keys-msi.txt"
  local host="$dir/host"
  mkdir -p "$host"
  cp "$bin/nuva.exe" "$bin/TestNet.dll" "$bin/TestCA.dll" "$host/"
  printf '%s' "<CONFIG><SEND_FILE_PATH>$wdir\\send</SEND_FILE_PATH><RECEIVE_FILE_PATH>$wdir\\recv</RECEIVE_FILE_PATH><NETWORK_COMPONENT>TestNet.dll</NETWORK_COMPONENT><CA_COMPONENT>TestCA.dll</CA_COMPONENT><NETWORK></NETWORK><CA></CA></CONFIG>" >"$dir/config.xml"
  printf '%s' '<?xml version="1.0" encoding="GBK"?><PDU><SENDER>HOST</SENDER><TYPE_CODE>01</TYPE_CODE><RESERVE></RESERVE><CONTENT><NAME>a.txt</NAME><VALUE>hello</VALUE></CONTENT></PDU>' >"$dir/request.xml"
  local item='<CONTENT><NAME>a.txt</NAME><VALUE>hello</VALUE></CONTENT>'
  local mode
  for mode in com late; do
    (cd "$dir" && "$run" "$host/nuva.exe" send --$mode --config "$wdir\\config.xml" \
      --request "$wdir\\request.xml" --reply "$wdir\\reply-$mode.xml" >"$dir/send-$mode.log" 2>&1)
    local rc=$?
    if [ $installed = 1 ] && [ -f "$folder/DuredaVevuvavizuriz_NUVA.dll" ] && [ "$folder" != "$bin" ] &&
       [ $rc = 0 ] && grep -qF "$item" "$dir/reply-$mode.xml" 2>/dev/null; then
      check_passed "$label MSI: msiexec /i /qn installs into $(basename "$folder"), nuva send --$mode from another folder runs a transaction through it"
    else
      check_failed "$label MSI: install (ok=$installed, server '$server') or nuva send --$mode (exit $rc): $(tail -n 3 "$dir/install.log" "$dir/send-$mode.log" | iconv -f GBK -t UTF-8 -c | tr -d '\r' | tr '\n' ' ')"
    fi
  done

  # 3. A script host: every argument a variable (a variant by reference).
  cat >"$dir/send.vbs" <<'VBS'
' Init, TestConn and Send as a script host calls them. Prints the reply and
' the final message; the exit code says where it stopped (cscript exits 0 on
' an unhandled error, so every error is handled here).
On Error Resume Next
Set files = CreateObject("Scripting.FileSystemObject")
config = files.OpenTextFile(WScript.Arguments(0)).ReadAll
request = files.OpenTextFile(WScript.Arguments(1)).ReadAll
Set sender = CreateObject("DuredaVevuvavizuriz_NUVA.SenderImpl")
If Err.Number <> 0 Then WScript.Echo "create error " & Err.Number : WScript.Quit 2
sender.Init config, msg, ok
If Err.Number <> 0 Then WScript.Echo "Init error " & Err.Number : WScript.Quit 3
If Not ok Then WScript.Echo "Init failed" : WScript.Quit 4
sender.TestConn msg, ok
If Err.Number <> 0 Then WScript.Echo "TestConn error " & Err.Number : WScript.Quit 5
If Not ok Then WScript.Echo "TestConn failed" : WScript.Quit 6
progress = 0
status = ""
sender.Send request, reply, progress, status, msg, ok
If Err.Number <> 0 Then WScript.Echo "Send error " & Err.Number : WScript.Quit 7
WScript.Echo "reply " & reply
WScript.Echo "message " & msg
WScript.Echo "progress " & progress & " " & TypeName(progress) & ", result " & CInt(ok) & " " & TypeName(ok)
If Not ok Then WScript.Quit 8
WScript.Quit 0
VBS
  # The components are found in the current folder (after cscript's own).
  (cd "$host" && "$run" cscript //nologo "$wdir\\send.vbs" "$wdir\\config.xml" "$wdir\\request.xml" \
    >"$dir/cscript.raw" 2>&1)
  local vbs_rc=$?
  tr -d '\r' <"$dir/cscript.raw" | iconv -f GBK -t UTF-8 >"$dir/cscript.log" 2>/dev/null
  if [ $vbs_rc = 0 ] && grep -qF "$item" "$dir/cscript.log" &&
     grep -qxF 'message 本次交易最终成功!' "$dir/cscript.log" &&
     grep -qxF 'progress 100 Integer, result -1 Boolean' "$dir/cscript.log"; then
    check_passed "$label cscript: Init, TestConn and Send with variables; the reply and \"本次交易最终成功!\""
  else
    check_failed "$label cscript (exit $vbs_rc): $(head -c 300 "$dir/cscript.log")"
  fi

  # Kept for step 5.
  [ -n "$folder" ] && cp -r "$folder" "$dir/installed"

  # 4. A newer package replaces it; uninstalling the newer removes everything.
  local version newer
  version=$(sed -n 's/^project([A-Za-z_]* VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
  newer=$(awk -F. '{ print $1 "." $2 "." $3 + 1 }' <<<"$version")
  local products="" upgraded=0 listing
  if bash "$root/scripts/msi.sh" "$bin" $arch "$dir/newer.msi" "$newer" >>"$dir/msi.log" 2>&1 &&
     "$run" msiexec /i "$wdir\\newer.msi" /qn >>"$dir/install.log" 2>&1; then
    listing=$("$run" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r')
    products=$(grep -c 'DisplayName *REG_SZ *DuredaVevuvavizuriz_NUVA$' <<<"$listing")
    grep -A1 'DisplayName *REG_SZ *DuredaVevuvavizuriz_NUVA$' <<<"$listing" |
      grep -q "DisplayVersion *REG_SZ *$newer\$" && upgraded=1
  fi
  if [ "$products" = 1 ] && [ $upgraded = 1 ] && [ -f "$folder/DuredaVevuvavizuriz_NUVA.dll" ]; then
    check_passed "$label MSI: $newer replaces $version (one product listed, the newer)"
  else
    check_failed "$label MSI major upgrade: $products products listed, newer version listed: $upgraded"
  fi
  "$run" msiexec /x "$wdir\\newer.msi" /qn >>"$dir/install.log" 2>&1
  local uninstall_rc=$? left=()
  for k in "${keys[@]}"; do
    "$run" reg query "$k" >/dev/null 2>&1 && left+=("$k")
  done
  [ -n "$folder" ] && [ -e "$folder" ] && left+=("$folder")
  "$run" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    grep -q 'DisplayName *REG_SZ *DuredaVevuvavizuriz_NUVA$' && left+=("the installed-programs entry")
  if [ $installed = 1 ] && [ -n "$folder" ] && [ $present = ${#keys[@]} ] && [ $uninstall_rc = 0 ] &&
     [ ${#left[@]} -eq 0 ]; then
    check_passed "$label MSI: msiexec /x /qn removes every key (${#keys[@]} trees) and file it wrote"
  else
    check_failed "$label MSI uninstall (exit $uninstall_rc; $present of ${#keys[@]} key trees there after install) left: ${left[*]}"
  fi

  # 5. The package's keys are what registration writes: the same files in
  # the same folder, registered by nuva register (Sender.tlb, then regsvr32's
  # entry point of the library), give the same registry trees.
  if [ -d "$dir/installed" ] && [ ! -e "$folder" ]; then
    cp -r "$dir/installed" "$folder"
    "$run" "$folder/nuva.exe" register >"$dir/register.log" 2>&1
    registry_dump "$run" "${keys[@]}" >"$dir/keys-register.txt"
    "$run" "$folder/nuva.exe" register --unregister >>"$dir/register.log" 2>&1
    rm -rf "$folder"
    if [ -s "$dir/keys-msi.txt" ] && grep -q InprocServer32 "$dir/keys-msi.txt" &&
       cmp -s "$dir/keys-msi.txt" "$dir/keys-register.txt"; then
      check_passed "$label MSI: its registry trees equal those nuva register writes for the same files ($(grep -c REG_SZ "$dir/keys-msi.txt") values)"
    else
      check_failed "$label MSI keys differ from nuva register's: $(diff "$dir/keys-msi.txt" "$dir/keys-register.txt" | grep '^[<>]' | head -8 | tr '\n' ' ')"
    fi
  else
    check_failed "$label MSI keys against nuva register: no installed folder to register"
  fi
  rm -rf "$dir"
}
