#!/bin/sh
# make-awake-video.sh: remakes awake.mp4 and awake.webm, the page's tiny black looping videos that keep
# a screen on where the browser has no wake lock. Needs Debian's ffmpeg; the files are kept in the tree.
set -eu
cd "$(dirname "$0")"
common="-f lavfi -i color=c=black:s=16x16:r=1 -t 2 -an -map_metadata -1 -fflags +bitexact -y"
ffmpeg -loglevel error $common -c:v libx264 -profile:v baseline -pix_fmt yuv420p -movflags +faststart \
  -flags +bitexact awake.mp4
ffmpeg -loglevel error $common -c:v libvpx -b:v 1k -flags +bitexact awake.webm
