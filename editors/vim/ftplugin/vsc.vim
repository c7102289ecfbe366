" Vim filetype plugin
" Language:	vendrak script (.vsc)

if exists("b:did_ftplugin")
  finish
endif
let b:did_ftplugin = 1

" ";" comments to the end of the line, "/* */" anywhere.
setlocal comments=:;,s1:/*,mb:*,ex:*/ commentstring=;\ %s
setlocal formatoptions-=t formatoptions+=croql

let b:undo_ftplugin = "setlocal comments< commentstring< formatoptions<"
