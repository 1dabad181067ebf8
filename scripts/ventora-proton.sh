#!/usr/bin/env bash
# Runs Ventora beside a game under Proton or Wine on Linux. Ventora must run in the game's own
# prefix, with the game's wineserver: shared memory exists only inside one wineserver, so anywhere
# else Ventora would never see the game's telemetry. The fan controller's device becomes COM<n>
# of that prefix. See docs/linux.md.
#
#   ventora-proton.sh [--com N] [--exe FILE] [--wine FILE] STEAM_APP_ID|PREFIX DEVICE
#
#   STEAM_APP_ID  the game's Steam app id: its prefix is steamapps/compatdata/<id>/pfx
#   PREFIX        a Wine prefix (the folder holding system.reg and dosdevices)
#   DEVICE        the board, e.g. /dev/ttyACM0 or /dev/ttyUSB0
#   --com N       the COM port the board becomes, 1 to 9 (default 1: Ventora's own default)
#   --exe FILE    ventora.exe (default: beside this script, else build/windows of the tree)
#   --wine FILE   the wine binary of that prefix (default: the one running it, else Proton's)
#
# Every input is checked before anything changes: on a bad one the prefix is left as it was.
set -euo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

usage() {
    sed -n '7,15s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"
}

fail() {
    echo "ventora-proton: $*" >&2
    exit 2
}

com=1
exe=
wine=
while (($#)); do
    case $1 in
    --com | --exe | --wine)
        (($# >= 2)) || fail "$1 needs a value"
        declare "${1#--}=$2"
        shift 2
        ;;
    -h | --help)
        usage
        exit 0
        ;;
    --)
        shift
        break
        ;;
    -*) fail "unknown option $1 (see --help)" ;;
    *) break ;;
    esac
done
if (($# != 2)); then
    usage >&2
    exit 2
fi
target=$1
device=$2

# Ventora's port list holds COM1 to COM9.
[[ $com =~ ^[1-9]$ ]] || fail "the COM number must be 1 to 9 (Ventora lists COM1 to COM9), not '$com'"

# The Steam folders Proton keeps its prefixes in: each Steam root and every library it lists.
steam_libraries() {
    local root
    for root in ${STEAM_DIR:+"$STEAM_DIR"} "$HOME/.steam/steam" "$HOME/.local/share/Steam" \
        "$HOME/.var/app/com.valvesoftware.Steam/.local/share/Steam"; do
        [[ -d $root/steamapps ]] || continue
        echo "$root"
        if [[ -f $root/steamapps/libraryfolders.vdf ]]; then
            sed -n 's/^[[:space:]]*"path"[[:space:]]*"\(.*\)"[[:space:]]*$/\1/p' "$root/steamapps/libraryfolders.vdf"
        fi
    done
}

app_id=
if [[ $target =~ ^[0-9]+$ ]]; then
    app_id=$target
    prefix=
    while read -r library; do
        if [[ -f $library/steamapps/compatdata/$app_id/pfx/system.reg ]]; then
            prefix=$library/steamapps/compatdata/$app_id/pfx
            break
        fi
    done < <(steam_libraries | awk '!seen[$0]++')
    [[ -n $prefix ]] || fail "no Proton prefix for Steam app $app_id (looked for steamapps/compatdata/$app_id/pfx" \
        "in every Steam library); start the game once through Steam so that Proton makes it, or give the prefix's path"
else
    prefix=${target%/}
    [[ -d $prefix ]] || fail "the prefix $prefix does not exist"
    # compatdata/<id> itself holds the prefix in pfx.
    if [[ ! -f $prefix/system.reg && -f $prefix/pfx/system.reg ]]; then
        prefix=$prefix/pfx
    fi
    [[ -f $prefix/system.reg && -d $prefix/dosdevices ]] ||
        fail "$prefix is not a Wine prefix (it has no system.reg and dosdevices)"
    if [[ $(cd "$prefix" && pwd -P) =~ /compatdata/([0-9]+)/pfx$ ]]; then
        app_id=${BASH_REMATCH[1]}
    fi
fi
prefix=$(cd "$prefix" && pwd -P)

[[ -e $device ]] || fail "the device $device does not exist: is the board plugged in? (ls /dev/ttyACM* /dev/ttyUSB*)"
[[ -c $device ]] || fail "$device is not a serial device (a character device such as /dev/ttyACM0)"
if [[ ! -r $device || ! -w $device ]]; then
    group=$(stat -L -c %G "$device")
    if ! id -nG | tr ' ' '\n' | grep -qx "$group"; then
        fail "you may not open $device: it belongs to the group '$group', which you are not in." \
            "Add yourself with: sudo usermod -aG $group ${USER:-$(id -un)}, then log out and back in."
    fi
    fail "you may not open $device (its permissions are $(stat -L -c %A "$device"))"
fi

place=$prefix/dosdevices/com$com
[[ ! -e $place || -L $place ]] || fail "$place is not a link; leaving it alone"

if [[ -z $exe ]]; then
    for candidate in "$script_dir/ventora.exe" "$script_dir/../build/windows/ventora.exe"; do
        if [[ -f $candidate ]]; then
            exe=$candidate
            break
        fi
    done
fi
[[ -n $exe && -f $exe ]] || fail "ventora.exe not found${exe:+ at $exe}: give it with --exe FILE"

# The wineserver serving this prefix works in a folder named after the prefix's device and inode.
running_wineserver() {
    local dev_inode process
    dev_inode=$(stat -c '%d %i' "$prefix")
    local server
    server=$(printf 'server-%x-%x' $dev_inode)
    for process in /proc/[0-9]*; do
        [[ $(cat "$process/comm" 2>/dev/null) == wineserver* ]] || continue
        if [[ $(readlink "$process/cwd" 2>/dev/null) == */"$server" ]]; then
            echo "${process#/proc/}"
            return
        fi
    done
}

# The Proton that made a Steam prefix names its own folders in compatdata/<id>/config_info.
proton_wine() {
    local info=$prefix/../config_info line
    [[ -f $info ]] || return 0
    while read -r line; do
        if [[ $line == /*/share/* && -x ${line%%/share/*}/bin/wine ]]; then
            echo "${line%%/share/*}/bin/wine"
            return
        fi
    done <"$info"
}

server_pid=$(running_wineserver)
launcher=wine
if [[ -n $wine ]]; then
    [[ -x $wine ]] || fail "--wine $wine is not an executable"
elif [[ -n $app_id ]] && command -v protontricks-launch >/dev/null && command -v protontricks >/dev/null; then
    launcher=protontricks
elif [[ -n $server_pid ]]; then
    # The wine beside the running wineserver speaks its protocol; another Wine could not join it.
    server_exe=$(readlink "/proc/$server_pid/exe")
    wine=$(dirname "$server_exe")/$(basename "$server_exe" | sed 's/^wineserver/wine/')
    [[ -x $wine ]] || fail "cannot find the wine beside $server_exe, which runs this prefix: give it with --wine FILE"
    # Proton's wineserver runs with esync or fsync; its programs must run the same way.
    while IFS= read -r variable; do
        export "${variable?}"
    done < <(tr '\0' '\n' <"/proc/$server_pid/environ" | grep -E '^WINE(ESYNC|FSYNC[A-Z0-9_]*)=' || true)
elif [[ -n $app_id ]]; then
    wine=$(proton_wine)
    [[ -n $wine ]] || fail "cannot tell which Proton runs Steam app $app_id: start the game first, install" \
        "protontricks, or give Proton's wine with --wine FILE"
else
    wine=$(command -v wine) || fail "wine is not installed: give the prefix's wine with --wine FILE"
fi

# Everything is known to be in order; from here on the prefix changes.
run_in_prefix() {
    if [[ $launcher == protontricks ]]; then
        protontricks -c "$(printf '%q ' wine "$@")" "$app_id"
    else
        WINEPREFIX=$prefix "$wine" "$@"
    fi
}

# The link takes effect at once in a running session; Wine rebuilds the links of COM ports at
# each start of the prefix, from this registry value.
ln -sfn "$device" "$place"
run_in_prefix reg add 'HKLM\Software\Wine\Ports' /v "COM$com" /d "$device" /f >/dev/null 2>&1 ||
    echo "ventora-proton: could not record COM$com in the prefix's registry; run this again after the game restarts" >&2

if [[ $launcher == protontricks ]]; then
    nohup protontricks-launch --appid "$app_id" "$exe" >/dev/null 2>&1 &
else
    WINEPREFIX=$prefix nohup "$wine" "$exe" >/dev/null 2>&1 &
fi
echo "ventora-proton: COM$com is $device in $prefix; Ventora started there (choose COM$com in its window)"
