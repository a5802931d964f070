# tools/wine-env.sh, sourced by the wine scripts: wine_env DIR NAME picks the Wine binary (WINE, or
# wine64 wherever Debian put it) into $wine and sets up a private prefix in DIR/wine with no
# display, no debug output and no prompts to install Wine's .NET and HTML engines (nothing here
# needs them). NAME is the script's name for its error line.
wine_env() {
    wine=${WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
    [ -x "$wine" ] || { echo "$2: no wine64 (make deps installs it)" >&2; exit 2; }
    export WINEPREFIX="$1/wine" WINEDEBUG=-all WINEARCH=win64
    export WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY
}
