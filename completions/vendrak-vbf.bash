# bash completion for vendrak-vbf: the commands, then each command's
# options, a format after -f or --format, a directory after extract's -o,
# and VBF, HEX, S-record or any files as the command reads them.
_vendrak_vbf()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    if [[ $COMP_CWORD -eq 1 ]]; then
        COMPREPLY=($(compgen -W 'info verify create extract -h --help --version' -- "$cur"))
        return
    fi
    local command=${COMP_WORDS[1]}
    case $prev in
        -f|--format)
            COMPREPLY=($(compgen -W 'text json' -- "$cur"))
            return ;;
        -o|--output)
            if [[ $command == extract ]]; then
                COMPREPLY=($(compgen -d -- "$cur"))
            else
                COMPREPLY=($(compgen -f -- "$cur"))
            fi
            return ;;
        --header)
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        --part-type)
            COMPREPLY=($(compgen -W 'EXE SBL DATA CARCFG CUSTOM GBL SIGCFG TEST BOOT' -- "$cur"))
            return ;;
        --network)
            COMPREPLY=($(compgen -W 'CAN_HS CAN_MS' -- "$cur"))
            return ;;
        --frame-format)
            COMPREPLY=($(compgen -W 'CAN_STANDARD CAN_EXTENDED' -- "$cur"))
            return ;;
        --vbf-version|--part-number|--data-format|--ecu-address|--call|--erase|--omit|--item|--fill)
            return ;;
    esac
    if [[ $cur == -* ]]; then
        local words
        case $command in
            info) words='-f --format' ;;
            verify) words='-q --quiet' ;;
            create) words='-o --output --header --vbf-version --part-number --part-type --data-format --network
                           --ecu-address --frame-format --call --erase --no-erase --omit --item --fill' ;;
            extract) words='-o --output --hex' ;;
        esac
        COMPREPLY=($(compgen -W "$words -h --help --version" -- "$cur"))
        return
    fi
    if [[ $command == create ]]; then
        COMPREPLY=($(compgen -f -- "$cur"))
    else
        COMPREPLY=($(compgen -f -X '!*.[vV][bB][fF]' -- "$cur") $(compgen -d -- "$cur"))
    fi
}
complete -o filenames -F _vendrak_vbf vendrak-vbf
