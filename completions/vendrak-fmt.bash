# bash completion for vendrak-fmt: options and the script files.
_vendrak_fmt()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-i --in-place --check -h --help --version' -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -X '!*.vsc' -- "$cur") $(compgen -d -- "$cur"))
}
complete -o filenames -F _vendrak_fmt vendrak-fmt
