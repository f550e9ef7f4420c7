#!/bin/sh
# run-in-desktop.sh WINE_RUN PROGRAM [ARGS...]: runs a GoogleTest program of
# the Windows build in a Wine virtual desktop of 1024x768 on the X display
# that xvfb-run provides. Wine then draws and places the windows itself, so
# maximizing works without a window manager, and the display mode is known.
# The desktop does not hand back the program's status: it comes from the
# program's XML report.
set -u
wine_run=$1
program=$2
shift 2
report=$(mktemp /tmp/vantrel-gui-XXXXXX.xml)
rm -f "$report"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
"$wine_run" explorer "/desktop=vantrel-gui-$$,1024x768" "$(winpath "$program")" "$@" \
  "--gtest_output=xml:$(winpath "$report")"
if [ ! -s "$report" ]; then
  echo "run-in-desktop: $program left no report" >&2
  exit 1
fi
status=0
grep -q '<testsuites[^>]* failures="0"' "$report" && grep -q '<testsuites[^>]* errors="0"' "$report" ||
  status=1
rm -f "$report"
exit $status
