" vendrak scripts
autocmd BufNewFile,BufRead *.vsc setfiletype vsc
