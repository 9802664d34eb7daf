#!/usr/bin/env bash
# The engine's sources stay small enough to read: none over 450 lines, the COM objects' file
# (com/Automation.cpp) not over 500. Prints each file over its limit.
#   file_sizes.sh WORDSERVER_DIR
set -u
dir=${1:?usage: file_sizes.sh WORDSERVER_DIR}
bad=0
while IFS= read -r -d '' f; do
  limit=450
  [ "${f#"$dir"/}" = com/Automation.cpp ] && limit=500
  n=$(wc -l < "$f")
  if [ "$n" -gt "$limit" ]; then
    echo "${f#"$dir"/}: $n lines, over $limit"
    bad=1
  fi
done < <(find "$dir" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.in' \) -print0)
exit $bad
