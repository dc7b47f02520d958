#!/bin/sh
# Lays out the Windows install tree, as it will be in Program Files\Kestrolune,
# and writes the NSIS lists of its files (kestrolune.nsi installs and removes
# exactly those):
#   <programs>.exe                 the programs, without their debug sections
#   Qt5*.dll, lib*.dll             what the programs and plugins import, no more
#   plugins\                       the Qt plugins the programs load
#   qml\<module>\                  the QML modules the window imports
#   qml\resource\                  the loose files the programs read
#   qt.conf                        Qt's plugins and QML modules beside the programs
#
# stage.sh --stage DIR --nsh FILE --qt QTPREFIX --qml DOCUMENTS --loose DIR
#          --runtime DIR... --objdump TOOL --strip TOOL PROGRAM.exe...
# DOCUMENTS is the folder of the QML documents compiled into the programs.
set -eu

stage= nsh= qt= qml= loose= runtime= objdump= strip=
while [ $# -gt 0 ]; do
  case $1 in
    --stage) stage=$2 ;;
    --nsh) nsh=$2 ;;
    --qt) qt=$2 ;;
    --qml) qml=$2 ;;
    --loose) loose=$2 ;;
    --runtime) runtime="$runtime $2" ;;
    --objdump) objdump=$2 ;;
    --strip) strip=$2 ;;
    --*) echo "stage.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
  shift 2
done
for v in stage nsh qt qml loose runtime objdump strip; do
  eval "[ -n \"\$$v\" ]" || { echo "stage.sh: --$v is missing" >&2; exit 2; }
done
[ $# -gt 0 ] || { echo "stage.sh: no program given" >&2; exit 2; }
[ -f "$qml/main.qml" ] || { echo "stage.sh: no main.qml in $qml" >&2; exit 1; }
[ -x "$qt/bin/qmlimportscanner" ] || { echo "stage.sh: no qmlimportscanner in $qt/bin" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$stage"
mkdir -p "$stage"

for program in "$@"; do
  cp "$program" "$stage/"
done

# The Qt plugins: the platform plugin, the .ico reader for the window icon
# (.png is built into Qt5Gui), and the Windows style that Qt Widgets picks
# first for the tray menu and message boxes.
for plugin in platforms/qwindows.dll imageformats/qico.dll styles/qwindowsvistastyle.dll; do
  mkdir -p "$stage/plugins/${plugin%/*}"
  cp "$qt/plugins/$plugin" "$stage/plugins/$plugin"
done

# The QML modules: those the documents import, then those that these
# modules' own documents import, module by module: the engine loads a module
# for an import statement. (The "depends" lines of a qmldir are hints for
# packaging tools; with them, QtQml and its Models and WorkerScript would come
# too, whose plugins the window never loads: under Wine, WINEQT_DEBUG_PLUGINS=1
# shows the plugins of exactly the modules found here loaded, and the
# installer's test checks that each shipped plugin is.)
# qmlimportscanner reads the imports of a set of documents; given an empty
# import path it only names them, without walking into Qt's folders (where
# it would take in every Controls style found under QtQuick/Controls.2).
# A module's folder is found as the engine finds it: the major version on
# the last part of the name, then on the part before, ..., then none.
# QtGraphicalEffects is not in this Qt: only Title.qml and SettingProperty.qml
# import it, and the window makes neither.
not_in_this_qt=" QtGraphicalEffects "
mkdir "$work/empty"
imports() { # documents... -> "name major" lines
  "$qt/bin/qmlimportscanner" -qmlFiles "$@" -importPath "$work/empty" < /dev/null > "$work/scan.json"
  awk -F'"' '
    /^ *{/ { name = ""; type = ""; version = "" }
    $2 == "name" { name = $4 }
    $2 == "type" { type = $4 }
    $2 == "version" { version = $4 }
    /^ *}/ && type == "module" { split(version, v, "."); print name, v[1] }
  ' "$work/scan.json"
}
module_folder() { # name major -> folder under $qt/qml, relative
  awk -v name="$1" -v major="$2" 'BEGIN {
    n = split(name, part, ".")
    for (i = n; i >= 1 && major != ""; i--) {
      path = ""
      for (j = 1; j <= n; j++) path = path (j > 1 ? "/" : "") part[j] (j == i ? "." major : "")
      print path
    }
    gsub(/\./, "/", name); print name
  }' > "$work/candidates"
  while read -r folder; do
    if [ -f "$qt/qml/$folder/qmldir" ]; then echo "$folder"; return; fi
  done < "$work/candidates"
}
imports "$qml"/*.qml > "$work/queue"
: > "$work/seen"
: > "$work/modules"
while [ -s "$work/queue" ]; do
  sort -u "$work/queue" -o "$work/queue"
  grep -vxF -f "$work/seen" "$work/queue" > "$work/next" || [ $? -eq 1 ]
  cat "$work/next" >> "$work/seen"
  : > "$work/queue"
  while read -r name major; do
    folder=$(module_folder "$name" "$major")
    if [ -z "$folder" ]; then
      case $not_in_this_qt in
        *" $name "*) echo "stage.sh: $name is not in this Qt and not needed: left out"; continue ;;
      esac
      echo "stage.sh: QML module $name $major is imported but not in $qt/qml" >&2
      exit 1
    fi
    grep -qxF "$folder" "$work/modules" && continue
    echo "$folder" >> "$work/modules"
    # Its own documents, not those of the modules in its subfolders.
    set --
    for f in "$qt/qml/$folder"/*.qml "$qt/qml/$folder"/*.js; do
      [ -f "$f" ] && set -- "$@" "$f"
    done
    [ $# -eq 0 ] || imports "$@" >> "$work/queue"
  done < "$work/next"
done
# A module is the files of its folder, without the type descriptions for
# tools (plugins.qmltypes) or Qt Creator's designer/ folder.
while read -r folder; do
  mkdir -p "$stage/qml/$folder"
  for f in "$qt/qml/$folder"/*; do
    [ -f "$f" ] || continue
    case ${f##*/} in plugins.qmltypes|*.qmlc|*.jsc) continue ;; esac
    cp "$f" "$stage/qml/$folder/"
  done
done < "$work/modules"

# The DLLs: whatever a staged program, plugin or DLL imports that Qt or the
# MinGW run time provides, until nothing new comes in. The other imports are
# Windows' own.
while :; do
  find "$stage" -type f \( -iname '*.exe' -o -iname '*.dll' \) > "$work/pe"
  : > "$work/imports"
  while read -r pe; do
    "$objdump" -p "$pe" > "$work/objdump" || { echo "stage.sh: $objdump -p $pe failed" >&2; exit 1; }
    sed -n 's/^[[:space:]]*DLL Name: //p' "$work/objdump" >> "$work/imports"
  done < "$work/pe"
  sort -u "$work/imports" -o "$work/imports"
  added=0
  while read -r dll; do
    [ -e "$stage/$dll" ] && continue
    for dir in "$qt/bin" $runtime; do
      if [ -f "$dir/$dll" ]; then
        cp "$dir/$dll" "$stage/"
        added=1
        break
      fi
    done
  done < "$work/imports"
  [ $added = 1 ] || break
done

# Debug sections stay in the build tree (the programs, the MinGW run time).
find "$stage" -type f \( -iname '*.exe' -o -iname '*.dll' \) > "$work/pe"
while read -r pe; do
  "$objdump" -h "$pe" > "$work/objdump"
  if grep -q '[[:space:]]\.debug_' "$work/objdump"; then
    "$strip" --strip-debug "$pe"
  fi
done < "$work/pe"

# The loose files, read from .\qml\resource\ beside the programs.
for f in AirPods.ico SourceHanSans-Medium.otf SourceHanSans-LICENSE.txt battery/battery-unknown.png; do
  [ -f "$loose/$f" ] || { echo "stage.sh: $loose/$f is missing" >&2; exit 1; }
done
mkdir -p "$stage/qml/resource"
cp -R "$loose/." "$stage/qml/resource/"

printf '[Paths]\r\nPrefix=.\r\nPlugins=plugins\r\nQml2Imports=qml\r\n' > "$stage/qt.conf"

# The NSIS lists (written with printf: dash's echo reads "\r" in "qml\resource"):
# each folder's files (SetOutPath, File), and their removal,
# files first, then the folders, each before the one it is in. NSIS strings
# take "$$" for "$"; a name with a quote or a backslash has no place here.
find "$stage" -type f > "$work/files"
LC_ALL=C sort "$work/files" -o "$work/files"
find "$stage" -mindepth 1 -type d > "$work/dirs"
LC_ALL=C sort -r "$work/dirs" -o "$work/dirs"
if grep -q '["\\]' "$work/files" "$work/dirs"; then
  echo "stage.sh: a staged name has a quote or a backslash" >&2
  exit 1
fi
winpath() { printf '%s' "$1" | sed 's|/|\\|g; s|\$|$$|g'; }
du -sk "$stage" > "$work/size"
read -r size_kb rest < "$work/size"
{
  printf '%s\n' "; Written by stage.sh from $stage: do not edit."
  printf '%s\n' "!define STAGE_SIZE_KB $size_kb"
  printf '%s\n' "!macro STAGE_INSTALL"
  last=/
  while read -r f; do
    rel=${f#"$stage"/}
    case $rel in */*) dir=\\$(winpath "${rel%/*}") ;; *) dir= ;; esac
    if [ "$dir" != "$last" ]; then
      printf '%s\n' "  SetOutPath \"\$INSTDIR$dir\""
      last=$dir
    fi
    printf '%s\n' "  File \"$(printf '%s' "$f" | sed 's|\$|$$|g')\""
  done < "$work/files"
  printf '%s\n' "  SetOutPath \"\$INSTDIR\""
  printf '%s\n' "!macroend"
  printf '%s\n' "!macro STAGE_UNINSTALL"
  while read -r f; do
    printf '%s\n' "  Delete \"\$INSTDIR\\$(winpath "${f#"$stage"/}")\""
  done < "$work/files"
  while read -r d; do
    printf '%s\n' "  RMDir \"\$INSTDIR\\$(winpath "${d#"$stage"/}")\""
  done < "$work/dirs"
  printf '%s\n' "!macroend"
} > "$nsh"

n=$(wc -l < "$work/files")
echo "stage.sh: $n files, $size_kb KiB in $stage"
