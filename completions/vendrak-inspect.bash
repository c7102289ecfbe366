# bash completion for vendrak-inspect: options, a directory after -x, and
# the container file.
_vendrak_inspect()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    if [[ $prev == = && ${COMP_WORDS[COMP_CWORD-2]} == --extract ]] || [[ $prev == -x || $prev == --extract ]]; then
        [[ $cur == = ]] && cur=
        COMPREPLY=($(compgen -d -- "$cur"))
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-s --script -x --extract -q --quiet -h --help --version' -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
}
complete -o filenames -F _vendrak_inspect vendrak-inspect
