# Sourced by the picture scripts: without a display, Qt draws on an offscreen screen of a common
# laptop's size, 1366x768, with a 32 px desktop panel along its top (the screen starts below it),
# so the pictures show the windows as such a user sees them.
if [ -z "${QT_QPA_PLATFORM:-}" ]; then
  TARVEL_SCREEN_FILE=$(mktemp --suffix=.json)
  cat >"$TARVEL_SCREEN_FILE" <<'JSON'
{"windowFrameMargins": true,
 "screens": [{"name": "laptop", "x": 0, "y": 32, "width": 1366, "height": 736,
              "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1.0}]}
JSON
  export QT_QPA_PLATFORM="offscreen:configfile=$TARVEL_SCREEN_FILE"
fi
