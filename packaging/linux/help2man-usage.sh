#!/bin/sh
# Called through a link named after a program: runs that program from $KOVEX_PROGRAM_DIR and spells
# its "usage:" line "Usage:", the form help2man takes for the manual page's SYNOPSIS.
"$KOVEX_PROGRAM_DIR/${0##*/}" "$@" | sed '1s/^usage:/Usage:/'
