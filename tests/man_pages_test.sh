#!/bin/sh
# Renders each manual page given with groff's man macros and fails on any
# warning. Exits 77 (skipped) where groff is not installed.
command -v groff > /dev/null || { echo "groff is not installed"; exit 77; }
status=0
for page in "$@"; do
  warnings=$(groff -man -ww -z "$page" 2>&1) || status=1
  if [ -n "$warnings" ]; then
    printf '%s:\n%s\n' "$page" "$warnings"
    status=1
  fi
done
exit $status
