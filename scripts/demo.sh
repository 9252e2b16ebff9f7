#!/usr/bin/env bash
# The main job: builds the system and shows what it does today.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows >/dev/null
dll=build/windows/bin/KvCredProv.dll
echo "Built $dll"
echo "Exports:"
x86_64-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | tail -n +2
echo "Imports:"
x86_64-w64-mingw32-objdump -p "$dll" | grep 'DLL Name' | sed 's/^\s*/  /'
