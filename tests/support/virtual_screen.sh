# shellcheck shell=sh
# Sourced by the end-to-end scripts. Each runs itself on a virtual X screen
# of its own. On a busy or shared machine such a screen now and then cannot
# be reached at all (its server gone, or refusing the cookie), which says
# nothing of the program under test: the script then exits 75, and it is
# run again on a new screen, at most three times, with the server's own
# messages shown.

# on_virtual_screen GEOMETRY COMMAND...: the command's exit status.
on_virtual_screen() {
  geometry=$1
  shift
  server_log=$(mktemp)
  for attempt in 1 2 3; do
    status=0
    xvfb-run -a -e "$server_log" -s "-screen 0 $geometry" "$@" || status=$?
    [ "$status" -eq 75 ] || break
    echo "The virtual screen could not be reached (attempt $attempt). Its server said:"
    sed 's/^/  Xvfb: /' "$server_log"
    : > "$server_log"
    status=1
  done
  rm -f "$server_log"
  return "$status"
}

# Exits 75 unless the screen in DISPLAY answers.
screen_answers() {
  xdotool getdisplaygeometry >/dev/null 2>&1 || exit 75
}
