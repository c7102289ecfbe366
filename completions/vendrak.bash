# bash completion for vendrak: options, the output file after -o, and
# script files (*.vsc) or directories for the script argument.
_vendrak()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    # "--outfile=x" arrives as three words when "=" breaks words.
    if [[ $prev == = && ${COMP_WORDS[COMP_CWORD-2]} == --o* ]] || [[ $prev == -o || $prev == --o* ]]; then
        [[ $cur == = ]] && cur=
        COMPREPLY=($(compgen -f -- "$cur"))
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-h --help -a --aes -v --verbose -o --outfile' -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X '!*.vsc' -- "$cur"))
}
complete -o filenames -F _vendrak vendrak
