#!/usr/bin/env bash
# Fails when a room includes a room it may not (HACKING.md, "Rooms"): dependencies point down
# util <- link, store, profile <- controller <- console, watch <- publish <- web <- service <- ui <- app;
# console and watch never include each other; no room below ui names a widget.
set -uo pipefail
cd "$(dirname "$0")/.."

# room: the rooms of ours it must not include
declare -A forbidden=(
  [util]='link store profile controller console watch publish report ui service web'
  [link]='store profile controller console watch publish report ui service web'
  [store]='link profile controller console watch publish report ui service web'
  [profile]='link controller console watch publish report ui service web'
  [controller]='console watch publish report ui service web'
  [console]='watch publish report ui service web'
  [watch]='console publish report ui service web'
  [publish]='console report ui service web'
  [report]='console ui service web'
  [web]='console ui service'
  [service]='ui'
)

status=0
for room in "${!forbidden[@]}"; do
  [ -d "src/$room" ] || continue
  for other in ${forbidden[$room]}; do
    hits=$(grep -rn -E "^\s*#\s*include\s*\"$other/" "src/$room" 2>/dev/null)
    if [ -n "$hits" ]; then
      echo "src/$room may not include $other/:"
      echo "$hits" | sed 's/^/  /'
      status=1
    fi
  done
done

# Widget names and Qt Widgets live in src/ui and app only.
named=$(grep -rln -E 'objectName|ObjectName|#\s*include\s*<Qt?Widgets' src --include='*.h' --include='*.cpp' | grep -v '^src/ui/')
if [ -n "$named" ]; then
  echo "widget names or Qt Widgets outside src/ui:"
  echo "$named" | sed 's/^/  /'
  status=1
fi

[ "$status" -eq 0 ] && echo "layers: ok"
exit "$status"
