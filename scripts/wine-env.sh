# Sourced by the scripts that run Windows programs: which Wine loader starts
# them, a private, quiet Wine prefix (never the user's ~/.wine) and the
# helpers to start and stop it.

wine_env_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Debian's wine (and wineboot and the other tools, which call wine-stable by
# name) starts the 32-bit loader whenever it is installed, whatever the
# program's bitness, and that loader hands 64-bit programs on to wine64. On a
# kernel that cannot execute 32-bit code this fails for every program, so
# there wine and wine-stable are taken from scripts/wine64/, which starts the
# 64-bit loader directly; elsewhere the choice stays with Debian's wine.
# WINELOADER alone does not change Debian's choice. The argument is the
# 32-bit loader to try (the tests give a stand-in). Sets wine_32bit_problem
# to why 32-bit programs cannot run, or leaves it empty.
wine_choose_loader() {
    local loader32=${1:-/usr/lib/wine/wine} out
    wine_32bit_problem=
    [ -e "$loader32" ] || return 0
    if out=$("$loader32" --version 2>&1 </dev/null); then
        return 0
    fi
    out=$(printf '%s\n' "$out" | head -n 1)
    wine_32bit_problem="the 32-bit Wine loader cannot run on this machine ($loader32: ${out##*: })"
    case ":$PATH:" in
    *":$wine_env_dir/wine64:"*) ;;
    *) export PATH="$wine_env_dir/wine64:$PATH" ;;
    esac
}
wine_choose_loader

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
