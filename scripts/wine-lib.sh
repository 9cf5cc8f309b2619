# Shared by scripts/wine-e2e and scripts/wine-screens: Wine, its prefix,
# a display, and the sandbox machine behind a prefix. Sourced from the
# repository's root.
ROOT=$(pwd)
export PATH="$PATH:/usr/sbin:/sbin" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

# install_wine [MORE PACKAGES...]
install_wine() {
    missing=""
    for p in wine64 xvfb xdotool fonts-wine fonts-ipafont-gothic locales "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update -qq || return 1
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null 2>&1
}

# One prefix made once; scenarios copy it (a fresh one takes about 10 s).
# Wine draws the captions itself (there is no window manager), with the
# fonts of its package and a Japanese face behind the templates' names.
PREFIX_VERSION=2
base_prefix() {
    BASE="$ROOT/build-wine/prefix"
    [ "$(cat "$BASE/.zav-prefix" 2>/dev/null)" = "$PREFIX_VERSION" ] && return 0
    rm -rf "$BASE"
    mkdir -p "$ROOT/build-wine"
    WINEPREFIX="$BASE" $WINE wineboot -i >/dev/null 2>&1
    dpkg -L fonts-wine | grep '\.ttf$' | xargs -I{} cp {} "$BASE/drive_c/windows/Fonts/"
    python3 - "$BASE/drive_c/prefix.reg" <<'PY'
import sys
faces = ["MS UI Gothic", "MS Gothic", "\uff2d\uff33 \u30b4\u30b7\u30c3\u30af", "MS PGothic"]
text = ("Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n\"Decorated\"=\"N\"\r\n\"Managed\"=\"N\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"
        + "".join('"%s"="IPAGothic"\r\n' % f for f in faces))
open(sys.argv[1], "wb").write(b"\xff\xfe" + text.encode("utf-16-le"))
PY
    (cd "$BASE/drive_c" && WINEPREFIX="$BASE" $WINE regedit /S 'C:\prefix.reg')
    WINEPREFIX="$BASE" $WINESERVER -w
    echo "$PREFIX_VERSION" >"$BASE/.zav-prefix"
}

# The glibc locales Wine takes its language from: LOCPATH=$LOCALES.
LOCALES="$ROOT/build-wine/locales"
make_locales() {
    mkdir -p "$LOCALES"
    for l in en_US fr_FR ja_JP; do
        [ -d "$LOCALES/$l.UTF-8" ] || localedef -i "$l" -f UTF-8 "$LOCALES/$l.UTF-8" 2>/dev/null
    done
    export LOCPATH="$LOCALES"
}

# A display of our own for the whole run.
start_display() {
    fifo="$WORK/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$fifo" >/dev/null 2>&1 &
    XVFB=$!
    export DISPLAY=":$(head -n1 "$fifo")"
}

# wait_window REGEX [SECONDS]: prints the id of the first window so named.
wait_window() {
    tries=$(( ${2:-60} * 5 ))
    while [ "$tries" -gt 0 ]; do
        id=$(xdotool search --name "$1" 2>/dev/null | head -n1 || true)
        if [ -n "$id" ]; then echo "$id"; return 0; fi
        sleep 0.2
        tries=$((tries - 1))
    done
    return 1
}

# press WINDOW KEY: the key into that dialog (the X server has no window
# manager, so focus is given directly). Typed through XTEST: a key sent to
# a window with XSendEvent stays down for Wine, and every dialog shown
# after it gets the key again.
press() {
    xdotool windowfocus --sync "$1" >/dev/null 2>&1 || true
    xdotool key "$2" 2>/dev/null || true
}

# answer WINDOW KEY: presses the key until the dialog is no longer shown
# (at most 30 s). A dialog found during its WM_INITDIALOG may drop the
# first press; Wine may keep a closed dialog's X window, unmapped.
shown() { xdotool search --onlyvisible --name . 2>/dev/null | grep -qx "$1"; }
answer() {
    tries=60
    while shown "$1" && [ "$tries" -gt 0 ]; do
        press "$1" "$2"
        sleep 0.5
        tries=$((tries - 1))
    done
}

# machine NAME OPTIONS...: a machine made by zav-machine and a prefix that
# stands for it, in $M and $WINEPREFIX.
machine() {
    name=$1
    shift
    M="$WORK/$name"
    build/zav-machine new "$M" "$@" >/dev/null
    export WINEPREFIX="$WORK/$name.prefix"
    cp -a "$BASE" "$WINEPREFIX"
    # Z: would be the whole host file system, a fixed drive the program sees.
    rm -f "$WINEPREFIX/dosdevices/z:"
    cp -r "$M/drives/C/." "$WINEPREFIX/drive_c/"
    cp build-win/update.exe "$WINEPREFIX/drive_c/UPDATE/UPDATE.EXE"
    # The INT 13h library of Windows 9x, built for Windows, and the disk
    # image it serves.
    cp build-win/kdo_32up.dll "$WINEPREFIX/drive_c/UPDATE/kdo_32up.dll"
    ln -s "$M/disk.img" "$WINEPREFIX/drive_c/UPDATE/kdo_32up.img"
    ln -s "$M/disk.img" "$WINEPREFIX/dosdevices/physicaldrive0"
    # The machine's registry, except the neighbour service EventLog: Wine's
    # own services.exe runs that one and fails on the stand-in.
    python3 - "$M/registry.reg" "$WINEPREFIX/drive_c/machine.reg" <<'PY'
import sys
blocks = open(sys.argv[1], encoding="latin-1").read().split("\n\n")
keep = [b for b in blocks if "\\CurrentControlSet\\Services\\EventLog" not in b.split("\n")[0]]
open(sys.argv[2], "w", encoding="latin-1").write("\n\n".join(keep))
PY
    # Only the program sees the machine's Windows version: Wine's own
    # services do not start as Windows 2000.
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\UPDATE.EXE]\n"Version"="%s"\n' "$WINVER" \
        >"$WINEPREFIX/drive_c/version.reg"
    (cd "$WINEPREFIX/drive_c" && LANG=C $WINE regedit /S 'C:\machine.reg' && LANG=C $WINE regedit /S 'C:\version.reg')
}

# service_drive NAME: the service volume as Windows shows it once visible,
# a fixed drive D: labelled ZAV_SERVICE holding 1.0's restore program, in
# $SERVICE. Wine sees a new drive at its next start.
service_drive() {
    SERVICE="$WORK/$1.service"
    mkdir -p "$SERVICE/RECOVERY"
    printf 'ZAV_SERVICE' >"$SERVICE/.windows-label"
    echo "old restore program 1.0" >"$SERVICE/RECOVERY/SLX_REST.EXE"
    ln -s "$SERVICE" "$WINEPREFIX/dosdevices/d:"
}

# start_update ARGUMENTS...: C:\UPDATE\UPDATE.EXE started in the background.
start_update() {
    (cd "$WINEPREFIX/drive_c" && $WINE 'C:\UPDATE\UPDATE.EXE' "$@" >>"$WORK/update.out" 2>&1 &)
}

wine_key_present() {
    (cd "$WINEPREFIX/drive_c" && $WINE reg query "$1" >/dev/null 2>&1)
}
wine_key_missing() { ! wine_key_present "$1"; }

wine_reg_query() {
    (cd "$WINEPREFIX/drive_c" && $WINE reg query "$1" 2>/dev/null) | tr -d '\r'
}

FAILED=0
FAILED_SHOTS=0
check() {  # check WHAT CONDITION...
    what=$1
    shift
    if "$@"; then
        echo "  ok: $what"
    else
        echo "  FAILED: $what"
        FAILED=1
        # What was on screen, to tell why.
        for w in $(xdotool search --name . 2>/dev/null); do echo "    window: $(xdotool getwindowname "$w")"; done
        pgrep -af 'UPDATE.EXE|SETUP.EXE' | sed 's/^/    process: /' || true
        if [ -n "${SHOTS:-}" ] && command -v import >/dev/null; then
            import -window root "$SHOTS/failed-$FAILED_SHOTS.png" 2>/dev/null || true
            FAILED_SHOTS=$((FAILED_SHOTS + 1))
        fi
    fi
}

stop_wine() {
    $WINESERVER -k 2>/dev/null || true
    $WINESERVER -w 2>/dev/null || true
}

# The service entry's type byte (the second entry), as sfdisk reads it
# from the image, in two hex digits.
type_byte() { printf '%02x' "0x$(sfdisk --part-type "$M/disk.img" 2 2>/dev/null | tr -d ' ')" 2>/dev/null; }

# answer_until_gone PROCESS WINDOW: presses Return in each dialog so named
# until the process has ended (at most a minute); prints how many it took.
answer_until_gone() {
    answered=0 tries=300 last=""
    while pgrep -f "$1" >/dev/null 2>&1 && [ "$tries" -gt 0 ]; do
        id=$(xdotool search --name "$2" 2>/dev/null | head -n1 || true)
        if [ -n "$id" ] && [ "$id" != "$last" ]; then
            [ -n "${SHOTS:-}" ] && import -window root "$SHOTS/answer-$answered.png" 2>/dev/null
            answered=$((answered + 1))
            last=$id
            answer "$id" Return
        fi
        sleep 0.2
        tries=$((tries - 1))
    done
    echo "$answered"
}


# hold_restarts / next_boot: while held, wineboot is a stand-in
# (scripts/wine-noboot.c) that notes a restart in C:\restart.txt, so no wine
# command starts the session's RunOnce programs; next_boot puts Wine's own
# back and starts the session cold, which runs them, as a boot does. Wine's
# in-session restart cannot stand for the boot: after it the mount manager
# does not load again ("failed to create device", c0000024), so no drive
# has a volume label.
NOBOOT="$ROOT/build-wine/noboot.exe"
hold_restarts() {
    [ "$NOBOOT" -nt scripts/wine-noboot.c ] || x86_64-w64-mingw32-gcc -O2 -o "$NOBOOT" scripts/wine-noboot.c
    cp "$NOBOOT" "$WINEPREFIX/drive_c/windows/system32/wineboot.exe"
    export WINEDLLOVERRIDES="mscoree,mshtml=;wineboot.exe=n"
}
next_boot() {
    stop_wine
    cp "$BASE/drive_c/windows/system32/wineboot.exe" "$WINEPREFIX/drive_c/windows/system32/wineboot.exe"
    export WINEDLLOVERRIDES="mscoree,mshtml="
    (cd "$WINEPREFIX/drive_c" && $WINE wineboot >>"$WORK/update.out" 2>&1 &)
}

# wine_session: the programs built, a work folder removed at exit, the
# prefix, the locales and a display.
wine_session() {
    [ -f build/zav-machine ] || scripts/build >/dev/null
    [ -f build-win/update.exe ] && [ -f build-win/kdo_32up.dll ] || scripts/check-win32 >/dev/null
    WORK=$(mktemp -d)
    mkfifo "$WORK/display"
    XVFB=""
    trap 'stop_wine; [ -n "$XVFB" ] && kill "$XVFB" 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
    base_prefix
    make_locales
    start_display
}
