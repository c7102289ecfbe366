" The Vim files of editors/vim in a headless Vim or Neovim: *.vsc is
" detected, the syntax file loads without an error, each row of tokens.json
" gets its highlight group, no script that vendrak accepts shows Error, and
" the vendrak-check compiler reads each line of diagnostics.json.
"
"   nvim --headless -u NONE -i NONE -n -S tests/editors/vim_test.vim </dev/null
"   vim -N -u NONE -i NONE -n -es -S tests/editors/vim_test.vim </dev/null
"
" Prints "N passed, M failed" and exits with 1 when anything failed.
set nocompatible
let s:root = fnamemodify(expand('<sfile>:p'), ':h:h:h')
" The syntax file is made by the build from the vocabulary table:
" $VENDRAK_EDITOR_FILES is the editors/ folder of the build directory.
let s:generated = empty($VENDRAK_EDITOR_FILES) ? s:root . '/build/editors' : $VENDRAK_EDITOR_FILES
let &runtimepath = s:generated . '/vim,' . s:root . '/editors/vim,' . &runtimepath
let s:failures = []
let s:passed = 0

function! s:check(ok, message) abort
  if a:ok
    let s:passed += 1
  else
    call add(s:failures, a:message)
  endif
endfunction

" The standard group a vsc group stands for, following its links.
function! s:group_at(line, column) abort
  let name = synIDattr(synID(a:line, a:column, 1), 'name')
  while name =~# '^vsc'
    let name = matchstr(execute('highlight ' . name), 'links to \zs\S\+')
  endwhile
  return name
endfunction

" The (line, column) of each character of the first occurrence of token in
" text, as Vim counts them (bytes from 1).
function! s:positions(text, token) abort
  let offset = stridx(a:text, a:token)
  let line = len(split(strpart(a:text, 0, offset), "\n", 1))
  let column = offset - strridx(a:text, "\n", offset - 1)
  let result = []
  for c in split(a:token, '\zs')
    if c ==# "\n"
      let line += 1
      let column = 1
    else
      call add(result, [line, column])
      let column += len(c)
    endif
  endfor
  return result
endfunction

try
  let v:errmsg = ''
  filetype on
  syntax on
  execute 'edit ' . fnameescape(tempname() . '.vsc')
  call s:check(&filetype ==# 'vsc', 'a .vsc file gets filetype "' . &filetype . '", expected "vsc"')
  call s:check(get(b:, 'current_syntax', '') ==# 'vsc', 'the vsc syntax is not loaded')
  call s:check(v:errmsg ==# '', 'loading the vsc files reported: ' . v:errmsg)

  for row in json_decode(join(readfile(s:root . '/tests/editors/tokens.json'), "\n"))
    " A new buffer each time: Vim keeps the syntax state of changed lines
    " until it redraws, which a headless run never does.
    enew!
    call setline(1, split(row.text, "\n", 1))
    setfiletype vsc
    let wrong = []
    for [line, column] in s:positions(row.text, row.token)
      let group = s:group_at(line, column)
      if group !=# row.vim
        call add(wrong, line . ':' . column . ' is "' . group . '"')
      endif
    endfor
    call s:check(empty(wrong), string(row.text) . ': ' . string(row.token) . ' expected "' . row.vim . '", ' . join(wrong, ', '))
  endfor

  " Each statement keyword of the manual's syntax lines, and each upper-case
  " word the line offers after it, is coloured as a word of the language.
  let keywords = 0
  let heading = 0
  for line in readfile(s:root . '/docs/language.md')
    let heading = line =~# '^### ' ? 1 : (heading && (line ==# '' || line =~# '^`') ? 1 : 0)
    let syntax = matchstr(line, '^`\zs[A-Z][A-Z0-9_]*\%( [^`]*\)\=\ze`$')
    if !heading || empty(syntax)
      continue
    endif
    let keywords += 1
    let words = [split(syntax, ' ')[0]]
    for word in split(syntax, ' ')[1:]
      if word !~# '^[A-Z][A-Z0-9_|]*$'
        break
      endif
      call add(words, split(word, '|')[0])
    endfor
    enew!
    call setline(1, join(words, ' '))
    setfiletype vsc
    let column = 1
    for word in words
      let group = s:group_at(1, column)
      call s:check(group !=# '' && group !=# 'Error', join(words, ' ') . ': ' . word . ' is "' . group . '"')
      let column += len(word) + 1
    endfor
  endfor
  call s:check(keywords > 40, 'only ' . keywords . ' syntax lines read from the manual')

  let files = glob(s:root . '/examples/*.vsc', 0, 1) + globpath(s:root . '/tests/e2e/cases', '**/*.vsc', 0, 1)
  call s:check(len(files) >= 4, 'no scripts found')
  for file in files
    execute 'edit! ' . fnameescape(file)
    let errors = []
    for line in range(1, line('$'))
      for column in range(1, col([line, '$']) - 1)
        if s:group_at(line, column) ==# 'Error'
          call add(errors, line . ':' . column)
        endif
      endfor
    endfor
    call s:check(empty(errors), fnamemodify(file, ':.') . ': Error at ' . join(errors, ', '))
  endfor

  " :cgetexpr reads the global 'errorformat', which :compiler! sets. Drive
  " letters are file name characters on Windows only.
  compiler! vendrak-check
  for row in json_decode(join(readfile(s:root . '/tests/editors/diagnostics.json'), "\n"))
    if get(row, 'windows', 0) && !has('win32')
      continue
    endif
    cgetexpr [row.output]
    let got = map(filter(getqflist(), 'v:val.valid'), {_, e -> [bufname(e.bufnr), e.lnum, e.col, e.type, e.text]})
    let expected = has_key(row, 'file') ? [[row.file, row.line, row.column, row.severity[0],
          \ row.message . (has_key(row, 'code') ? ' [' . row.code . ']' : '')]] : []
    call s:check(got ==# expected, row.output . ': ' . string(got) . ', expected ' . string(expected))
  endfor
catch
  call add(s:failures, v:exception . ' at ' . v:throwpoint)
endtry

call writefile(s:failures + [printf('vim files (%s): %d passed, %d failed',
      \ has('nvim') ? 'Neovim' : 'Vim', s:passed, len(s:failures))], '/dev/stdout', 'a')
execute empty(s:failures) ? 'qall!' : 'cquit!'
