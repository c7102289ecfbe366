" Vim filetype plugin
" Language:	vendrak script (.vsc)

if exists("b:did_ftplugin")
  finish
endif
let b:did_ftplugin = 1

" ";" comments to the end of the line, "/* */" anywhere.
setlocal comments=:;,s1:/*,mb:*,ex:*/ commentstring=;\ %s
setlocal formatoptions-=t formatoptions+=croql

" gq formats through vendrak-fmt (gggqG: the whole script); a script that
" vendrak refuses comes back unchanged, its error is not kept.
setlocal formatprg=vendrak-fmt\ 2>/dev/null

let b:undo_ftplugin = "setlocal comments< commentstring< formatoptions< formatprg<"
