# Sourced by the X server tests. find_window NAME: the id of the first shown window whose title
# matches, waiting up to 60 s: a window is named before it is mapped, and until then keys and screen
# shots miss it. xdotool gives up with BadWindow when a window vanishes while it looks, and --sync
# then ends early, so a plain search is asked again until it finds one.
find_window() {
  local id until=$(( $(date +%s) + 60 ))
  while [ "$(date +%s)" -lt "$until" ]; do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.1
  done
  return 1
}
