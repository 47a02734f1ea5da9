#!/usr/bin/env bash
# Keeps the include order of the layers: platform -> core -> models -> scene -> render -> net
# -> app (models sit below the scene: computer control reads a model slot's walk period). No
# file under platform/ includes the system's folders, and no system folder includes one above
# it. Prints every offending line and exits 1 when there is any. Calls across layers are
# checked by the linker (the duo_link_check_* executables of the build).
set -euo pipefail
cd "$(dirname "$0")/.."
layers=(platform core models scene render net app)
status=0
for i in "${!layers[@]}"; do
    dir=${layers[$i]}
    [ -d "$dir" ] || continue
    above=("${layers[@]:$((i + 1))}")
    [ ${#above[@]} -gt 0 ] || continue
    pattern="#include \"($(IFS='|'; echo "${above[*]}"))/"
    if hits=$(grep -rnE "$pattern" "$dir" --include='*.h' --include='*.cpp'); then
        echo "layer rule broken: $dir/ includes a layer above it:"
        echo "$hits"
        status=1
    fi
done
[ $status -eq 0 ] && echo "layers: platform -> core -> models -> scene -> render -> net -> app, no upward include"
exit $status
