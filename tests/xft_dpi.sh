#!/bin/sh
# Runs a command on a desktop scaled the way GNOME and xfce scale theirs: Xft.dpi in the
# X server's resources, read by Qt at start. Usage: xft_dpi.sh DPI COMMAND [ARGUMENTS...]
dpi=$1
shift
echo "Xft.dpi: $dpi" | xrdb -nocpp -merge || exit 1
exec "$@"
