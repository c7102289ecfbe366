# bash completion for vendrak-lsp: its options (an editor starts it; a user
# types it only to ask for its usage or version).
_vendrak_lsp()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=($(compgen -W '--stdio -h --help --version' -- "$cur"))
}
complete -F _vendrak_lsp vendrak-lsp
