# Sourced by the X server tests. find_window NAME: the id of the first window whose title matches,
# waiting up to 30 s. xdotool gives up with BadWindow when a window vanishes while it looks, and
# --sync then ends early, so a plain search is asked again until it finds one.
find_window() {
  local id
  for _ in $(seq 300); do
    id=$(xdotool search --name "$1" 2>/dev/null | head -n 1)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.1
  done
  return 1
}
