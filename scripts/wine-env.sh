# Sourced by the scripts that run Windows programs: a private, quiet Wine
# prefix (never the user's ~/.wine) and the helpers to start and stop it.

wine_env() {
    export WINEPREFIX="$1"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64
}

# Creates the prefix once; a crashing program must not wait on Wine's crash
# dialog until a time-out.
wine_prepare() {
    wine_env "$1"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1 </dev/null
        wineserver -w
        # Wine's own fonts (Tahoma, Marlett for the caption buttons) are
        # installed where this Wine does not look; the prefix's Fonts folder
        # is searched, so windows and screenshots look as they do on Windows.
        cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null
        wineserver -w
    fi
}
