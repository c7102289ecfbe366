# bash completion for vendrak-check: options, a format after -f or
# --format, the warnings after -W (-Wname, -Wno-name, as vendrak-check
# --warnings lists them, and -Werror), and the script files.
_vendrak_check()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    if [[ $prev == = && ${COMP_WORDS[COMP_CWORD-2]} == --format ]] || [[ $prev == -f || $prev == --format ]]; then
        [[ $cur == = ]] && cur=
        COMPREPLY=($(compgen -W 'gnu json sarif' -- "$cur"))
        return
    fi
    if [[ $cur == -W* ]]; then
        local name words=-Werror
        for name in $(vendrak-check --warnings 2>/dev/null | cut -d ' ' -f 1); do
            words+=" -W$name -Wno-$name"
        done
        COMPREPLY=($(compgen -W "$words" -- "$cur"))
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-f --format -W -Werror -w --no-vbf --warnings -h --help --version' -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -X '!*.vsc' -- "$cur") $(compgen -d -- "$cur"))
}
complete -o filenames -F _vendrak_check vendrak-check
