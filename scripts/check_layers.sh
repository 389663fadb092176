#!/usr/bin/env bash
# Checks that each library folder of src/ includes only the folders below it, so the
# layering of the README holds and no two folders depend on each other. Run as a test.
set -uo pipefail
cd "$(dirname "$0")/.."

# folder: the folders it may include (besides itself).
declare -A allowed=(
  [platform]=""
  [app]="platform"
  [market]="platform app"
  [formula]="platform app market"
  [net]="platform app market"
  [tools]="platform app market formula"
  [chart]="platform app market formula tools"
  [session]="platform app market formula tools"
  [client]="platform app market formula net tools session"
  [server]="platform app market formula net tools session"
  [ui]="platform app market formula net tools chart session client"
  [player]=""
)

status=0
for dir in src/*/; do
  module=$(basename "$dir")
  [ "$module" = programs ] && continue
  if [ -z "${allowed[$module]+set}" ]; then
    echo "layers: src/$module has no place in the layering (add it to scripts/check_layers.sh)"
    status=1
    continue
  fi
  # Every quoted include of another folder: #include "folder/...".
  while IFS=: read -r file line include; do
    target=${include%%/*}
    [ "$target" = "$module" ] && continue
    [ -d "src/$target" ] || continue
    case " ${allowed[$module]} " in
      *" $target "*) ;;
      *) echo "layers: $file:$line includes $include, but $module may not depend on $target"; status=1 ;;
    esac
  done < <(grep -rnoE '^#include "[a-z_]+/[^"]+"' "$dir" | sed -E 's/#include "([^"]+)"/\1/')
done
[ $status -eq 0 ] && echo "layers: every folder includes only the folders below it"
exit $status
