#!/bin/bash
# The usage a program prints and its manual page say the same: the synopsis
# lines are the usage lines, and (with ALL_OPTIONS) the options that the
# manual's OPTIONS section describes are those named in --help.
# Usage: help_matches_manual.sh PROGRAM MANUAL_PAGE [ALL_OPTIONS]
set -euo pipefail
program=$1 manual=$2 compare_options=${3:-}
# Exit status 77 is a skip for ctest; `make test` installs groff-base.
command -v groff >/dev/null || { echo "SKIP: groff is not installed (make deps installs groff-base)"; exit 77; }

rendered=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -rLL=200n -P-cbou "$manual")
section() { awk -v name="$1" '$0 == name {inside = 1; next} /^[A-Z]/ {inside = 0} inside && NF' <<<"$rendered"; }
help=$("$program" --help)

usage=$(awk '!/^([Uu]sage: | )/ {exit} {print}' <<<"$help" | sed -E -e 's/^[Uu]sage: //' -e 's/^ +//')
synopsis=$(section SYNOPSIS | sed -E 's/^ +//')
if [ "$usage" != "$synopsis" ]; then
  echo "the usage of --help and the manual's synopsis differ:"
  diff <(echo "$usage") <(echo "$synopsis") || true
  exit 1
fi

if [ -n "$compare_options" ]; then
  option_words() { grep -oE -- '(^|[^[:alnum:]-])--?[[:alnum:]][[:alnum:]-]*' | grep -oE -- '--?[[:alnum:]][[:alnum:]-]*' | sort -u; }
  in_help=$(option_words <<<"$help")
  in_manual=$(section OPTIONS | grep -E '^ {7}-' | option_words)
  if [ "$in_help" != "$in_manual" ]; then
    echo "options of --help (<) and of the manual (>) differ:"
    diff <(echo "$in_help") <(echo "$in_manual") || true
    exit 1
  fi
fi
echo "--help and $(basename "$manual") agree"
