#!/usr/bin/env bash
# Fails when a binary imports a DLL that Windows itself does not provide
# (a MinGW runtime such as libgcc_s, libstdc++ or libwinpthread above all).
#   check-imports.sh OBJDUMP BINARY...
set -uo pipefail
objdump=$1
shift
allowed='^(kernel32|user32|gdi32|advapi32|msvcrt|ole32|oleaut32|version|shell32|comdlg32|comctl32|wininet|netapi32|crypt32|userenv|ws2_32|quillmothrun)\.dll$'
status=0
for binary in "$@"; do
  names=$("$objdump" -p "$binary" | sed -n 's/^\s*DLL Name: //p')
  if [ -z "$names" ]; then
    echo "FAIL $binary: no import table read" >&2
    status=1
    continue
  fi
  while read -r dll; do
    if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
      echo "FAIL $binary imports $dll" >&2
      status=1
    fi
  done <<< "$names"
  echo "$(basename "$binary"): $(echo $names)"
done
exit $status
