#!/usr/bin/env bash
# Compares two capture directories of scripts/wire-capture.sh: prints per
# model "same" or the first differences (TUIO datagrams decoded, XML one
# document per line), exits non-zero on any difference. Only the record's
# time column is masked; --mask-speeds masks the TUIO speed floats as well.
#   scripts/wire-compare.sh DIR_A DIR_B [--mask-speeds]
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 DIR_A DIR_B [--mask-speeds]" >&2
  exit 2
fi
exec python3 "$(dirname "$0")/wire/compare.py" "$@"
