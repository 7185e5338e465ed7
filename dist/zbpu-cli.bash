# bash completion for zbpu-cli: commands, options, flash devices, ports and files.
_zbpu_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local options="--port --yes --json --paced --pipeline --no-board-check --timer-ms --timeout-limit
        --poll-limit --offset --bytes --burst --erase-limit --custom --all --help --version"
    COMPREPLY=()
    case $prev in
    --port)
        # Ports are not opened to complete their names: a probe would disturb a board.
        local IFS=$'\n' ports=() p
        for p in /dev/ttyACM* /dev/ttyUSB*; do [ -e "$p" ] && ports+=("$p"); done
        IFS=: read -ra p <<<"${ZBPU_PORTS:-}"
        ports+=("${p[@]}")
        IFS=$'\n' COMPREPLY=($(compgen -W "${ports[*]}" -- "$cur"))
        return
        ;;
    --offset | --bytes | --burst | --erase-limit | --timer-ms | --timeout-limit | --poll-limit)
        return
        ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    # The words of the current operation: those after the last +, options and their values left out.
    local words=() i w
    for ((i = 1; i < COMP_CWORD; i++)); do
        w=${COMP_WORDS[i]}
        case $w in
        +) words=() ;;
        --port | --offset | --bytes | --burst | --erase-limit | --timer-ms | --timeout-limit | --poll-limit) ((i++)) ;;
        -*) ;;
        *) words+=("$w") ;;
        esac
    done
    local files=0
    case ${#words[@]}:${words[0]:-} in
    0:) COMPREPLY=($(compgen -W "bitinfo sfh devices ports detect connect fpga spi bpi help" -- "$cur")) ;;
    1:bitinfo | 1:sfh | 1:fpga) files=1 ;;
    1:spi) COMPREPLY=($(compgen -W "detect $("${COMP_WORDS[0]}" devices 2>/dev/null)" -- "$cur")) ;;
    2:spi) [ "${words[1]}" != detect ] &&
        COMPREPLY=($(compgen -W "id erase program read verify flash" -- "$cur")) ;;
    3:spi) [[ ${words[2]} =~ ^(program|read|verify|flash)$ ]] && files=1 ;;
    1:bpi) COMPREPLY=($(compgen -W "load id erase program read verify" -- "$cur")) ;;
    2:bpi) [[ ${words[1]} =~ ^(program|read|verify)$ ]] && files=1 ;;
    esac
    if [ $files = 1 ]; then
        compopt -o filenames 2>/dev/null
        local IFS=$'\n'
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -F _zbpu_cli zbpu-cli
