" Vim compiler file
" Compiler:	vendrak-check, the checker of vendrak scripts
"
" :compiler vendrak-check, then :make checks the current script and fills
" the quickfix list with its errors and warnings.

if exists("current_compiler")
  finish
endif
let current_compiler = "vendrak-check"

if exists(":CompilerSet") != 2
  command -nargs=* CompilerSet setlocal <args>
endif

let s:cpo_save = &cpo
set cpo&vim

CompilerSet makeprg=vendrak-check\ %:S
CompilerSet errorformat=%f:%l:%c:\ %trror:\ %m,%f:%l:%c:\ %tarning:\ %m,%-G%.%#

let &cpo = s:cpo_save
unlet s:cpo_save
