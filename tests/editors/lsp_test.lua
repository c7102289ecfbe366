-- vendrak-lsp under Neovim's own language client, headless: a copy of an
-- example with a planted error and a planted slip (after a character of two
-- bytes, so the server's UTF-16 columns must come out as Neovim's bytes)
-- shows both where they are; hover on a keyword gives its syntax line;
-- definition on a GOTO jumps to the label; the quick fix of the slip,
-- rename, formatting, semantic tokens and folding ranges do what they say;
-- stopping the client ends the server with status 0.
--
--   VENDRAK_LSP=build/vendrak-lsp nvim --headless -u NONE -i NONE -n -c 'luafile tests/editors/lsp_test.lua'
--
-- Prints "N passed, M failed" and exits with 1 when anything failed.
local root = vim.fn.fnamemodify(debug.getinfo(1, 'S').source:sub(2), ':p:h:h:h')
local server = vim.env.VENDRAK_LSP or (root .. '/build/vendrak-lsp')
local failures, passed = {}, 0

local function check(ok, message)
  if ok then
    passed = passed + 1
  else
    table.insert(failures, message)
  end
end

-- The line (from 1) of the first line of the buffer that contains `text`.
local function line_of(text)
  for number, line in ipairs(vim.api.nvim_buf_get_lines(0, 0, -1, false)) do
    if line:find(text, 1, true) then return number end
  end
  error('no line contains ' .. text)
end

local function put_cursor_on(text)
  local number = line_of(text)
  local column = vim.api.nvim_buf_get_lines(0, number - 1, number, false)[1]:find(text, 1, true)
  vim.api.nvim_win_set_cursor(0, { number, column - 1 })
end

local ok, err = pcall(function()
  local dir = vim.fn.tempname()
  vim.fn.mkdir(dir, 'p')
  local script = dir .. '/key_menu.vsc'
  local lines = vim.fn.readfile(root .. '/examples/key_menu.vsc')
  for i, line in ipairs(lines) do
    lines[i] = line:gsub('LCD 8 1 "Bye"', 'LCD 9 1 "Bye"'):gsub('DELAY 500$', '/* \194\189 s */ DELAY 500.5')
  end
  vim.fn.writefile(lines, script)

  local exit_code
  local client = vim.lsp.start_client({
    name = 'vendrak-lsp',
    cmd = { server },
    root_dir = dir,
    on_exit = function(code) exit_code = code end,
  })
  check(client ~= nil, 'vendrak-lsp could not be started as ' .. server)
  vim.cmd('edit ' .. vim.fn.fnameescape(script))
  local buffer = vim.api.nvim_get_current_buf()
  vim.lsp.buf_attach_client(buffer, client)

  -- Both findings, at the line and byte column (from 0) Neovim shows them.
  vim.wait(10000, function() return #vim.diagnostic.get(buffer) >= 2 end, 20)
  local found = vim.diagnostic.get(buffer)
  table.sort(found, function(a, b) return a.lnum < b.lnum end)
  local expected = {
    { line_of('LCD 9 1') - 1, 8, vim.diagnostic.severity.ERROR, 'LCD row out of range' },
    { line_of('DELAY 500.5') - 1, 21, vim.diagnostic.severity.WARN,
      '"500.5" is read as 500: a whole number is expected here, and the fraction is dropped' },
  }
  check(#found == #expected, #found .. ' diagnostics, expected ' .. #expected .. ': ' .. vim.inspect(found))
  for i, e in ipairs(expected) do
    local d = found[i] or {}
    local got = { d.lnum, d.col, d.severity, d.message }
    check(vim.deep_equal(got, e), 'diagnostic ' .. i .. ': ' .. vim.inspect(got) .. ', expected ' .. vim.inspect(e))
  end

  -- Hover on a keyword: its syntax line from the manual.
  put_cursor_on('WAITKEY')
  local answers = vim.lsp.buf_request_sync(buffer, 'textDocument/hover', vim.lsp.util.make_position_params(), 5000)
  local hover = answers and answers[client] and answers[client].result
  local text = hover and hover.contents and hover.contents.value or ''
  check(text:find('WAITKEY ENTER|ESCAPE|UP|DOWN|LEFT|RIGHT|ANY', 1, true) ~= nil, 'hover on WAITKEY gave ' .. vim.inspect(hover))

  -- Definition on the label of a GOTO moves the cursor to the label.
  put_cursor_on('GOTO menu')
  vim.api.nvim_win_set_cursor(0, { vim.api.nvim_win_get_cursor(0)[1], vim.api.nvim_win_get_cursor(0)[2] + 6 })
  vim.lsp.buf.definition()
  local label = { line_of('menu:'), 0 }
  vim.wait(5000, function() return vim.deep_equal(vim.api.nvim_win_get_cursor(0), label) end, 20)
  check(vim.deep_equal(vim.api.nvim_win_get_cursor(0), label),
    'definition of menu went to ' .. vim.inspect(vim.api.nvim_win_get_cursor(0)) .. ', expected ' .. vim.inspect(label))

  -- The editing help, through Neovim's own commands where it has them.
  local function lines() return vim.api.nvim_buf_get_lines(buffer, 0, -1, false) end
  local function has_line(text)
    return vim.tbl_contains(lines(), text)
  end
  local function request(method, params)
    local got = vim.lsp.buf_request_sync(buffer, method, params, 5000)
    return got and got[client] or {}
  end
  local document = { uri = vim.uri_from_bufnr(buffer) }

  -- Quick fix: the checker's fix of the planted slip, chosen from the list
  -- Neovim offers; the change goes back to the server, whose diagnostics
  -- then hold the error only.
  local offered
  vim.ui.select = function(items, _, choose)
    offered = vim.tbl_map(function(i) return i[2].title end, items)
    choose(items[1], 1)
  end
  put_cursor_on('DELAY 500.5')
  vim.lsp.buf.code_action()
  vim.wait(5000, function() return has_line('    /* \194\189 s */ DELAY 500') end, 20)
  check(has_line('    /* \194\189 s */ DELAY 500'), 'the quick fix (offered: ' .. vim.inspect(offered) .. ') left ' ..
    vim.inspect(lines()[line_of('DELAY 50')]))
  vim.wait(5000, function() return #vim.diagnostic.get(buffer) == 1 end, 20)
  check(#vim.diagnostic.get(buffer) == 1, 'after the quick fix: ' .. vim.inspect(vim.diagnostic.get(buffer)))

  -- The error mended by hand: no diagnostic is left.
  local bye = line_of('LCD 9 1')
  vim.api.nvim_buf_set_lines(buffer, bye - 1, bye, false, { '    LCD 8 1 "Bye"' })
  vim.wait(5000, function() return #vim.diagnostic.get(buffer) == 0 end, 20)
  check(#vim.diagnostic.get(buffer) == 0, 'after the edit: ' .. vim.inspect(vim.diagnostic.get(buffer)))

  -- Rename a label from one of its jumps: the label and every jump follow.
  -- A word of the language is refused by prepareRename.
  put_cursor_on('GOTO leave')
  vim.api.nvim_win_set_cursor(0, { vim.api.nvim_win_get_cursor(0)[1], vim.api.nvim_win_get_cursor(0)[2] + 6 })
  vim.lsp.buf.rename('farewell')
  vim.wait(5000, function() return has_line('farewell:') end, 20)
  check(has_line('farewell:') and has_line('        GOTO farewell') and not vim.tbl_contains(lines(), 'leave:'),
    'rename of leave left ' .. vim.inspect(vim.tbl_filter(function(l) return l:find('leave') or l:find('farewell') end, lines())))
  put_cursor_on('WAITKEY')
  local refused = request('textDocument/prepareRename', vim.lsp.util.make_position_params())
  local why = refused.error or refused.err
  check(why ~= nil and why.code == -32803, 'prepareRename on WAITKEY gave ' .. vim.inspect(refused))

  -- Formatting: lines laid out by hand come back to the formatter's layout,
  -- the whole script or only the lines of a range.
  local red = line_of('LED RED OFF')
  vim.api.nvim_buf_set_lines(buffer, red - 1, red, false, { 'led   red OFF' })
  local any = line_of('WAITKEY ANY')
  vim.api.nvim_buf_set_lines(buffer, any - 1, any, false, { 'WAITKEY    ANY' })
  local exit_line = line_of('    EXIT')
  vim.api.nvim_buf_set_lines(buffer, exit_line - 1, exit_line, false, { 'EXIT' })
  vim.lsp.buf.range_formatting({}, { any, 0 }, { any, 0 })
  vim.wait(5000, function() return lines()[any] == '    WAITKEY ANY' end, 20)
  check(lines()[any] == '    WAITKEY ANY' and lines()[red] == 'led   red OFF' and lines()[exit_line] == 'EXIT',
    'range formatting of line ' .. any .. ' gave ' .. vim.inspect({ lines()[red], lines()[any], lines()[exit_line] }))
  vim.lsp.buf.formatting_sync(nil, 5000)
  check(lines()[red] == '    LED RED OFF' and lines()[exit_line] == '    EXIT',
    'formatting gave ' .. vim.inspect({ lines()[red], lines()[exit_line] }))
  -- Neovim sends its changes as ranges: the server's text is the buffer's,
  -- so formatting once more changes nothing.
  local again = request('textDocument/formatting', { textDocument = document, options = { tabSize = 4, insertSpaces = true } })
  check(again.result ~= nil and #again.result == 0, 'formatting a formatted script gave ' .. vim.inspect(again))

  -- Semantic tokens, decoded with the legend the server announced: what
  -- the compiler reads each word as.
  local legend = vim.lsp.get_client_by_id(client).server_capabilities.semanticTokensProvider.legend
  local data = (request('textDocument/semanticTokens/full', { textDocument = document }).result or {}).data or {}
  local tokens, line, column = {}, 0, 0
  for i = 1, #data, 5 do
    line = line + data[i]
    column = (data[i] == 0 and column or 0) + data[i + 1]
    local text = lines()[line + 1]:sub(column + 1, column + data[i + 2])
    tokens[(line + 1) .. ':' .. text] = legend.tokenTypes[data[i + 3] + 1]
  end
  local function token(line_text, word) return tokens[line_of(line_text) .. ':' .. word] end
  for _, e in ipairs({
    { '; key_menu.vsc', '; key_menu.vsc - a key-driven workshop menu.', 'comment' },
    { 'DEFINE TITLE', 'DEFINE', 'keyword' }, { 'DEFINE TITLE', 'TITLE', 'macro' },
    { 'DEFINE TITLE', '"WORKSHOP MENU"', 'string' }, { 'DEFINE ITEMS', '3', 'number' },
    { 'LCD 1 1 TITLE', 'TITLE', 'macro' }, { 'menu:', 'menu', 'function' }, { 'GOTO menu', 'menu', 'function' },
    { 'LED GREEN TOGGLE', 'GREEN', 'enumMember' }, { 'VAR[0] = 1 ', 'VAR', 'variable' },
  }) do
    check(token(e[1], e[2]) == e[3], e[2] .. ' in "' .. e[1] .. '" is ' .. tostring(token(e[1], e[2])) .. ', expected ' .. e[3])
  end

  -- Folding ranges, made Neovim's folds: the comment at the top, the DO
  -- loop up to its WHILE (past the ENDDO that leaves it early) and the IF
  -- block around the battery check, folded with its ELSE part.
  local ranges = request('textDocument/foldingRange', { textDocument = document }).result or {}
  vim.wo.foldmethod = 'manual'
  vim.cmd('normal! zE')
  for _, r in ipairs(ranges) do vim.cmd((r.startLine + 1) .. ',' .. (r.endLine + 1) .. 'fold') end
  vim.cmd('normal! zM')
  local function fold_of(text) return { vim.fn.foldclosed(line_of(text)), vim.fn.foldclosedend(line_of(text)) } end
  for _, e in ipairs({
    { '; Shows a menu', { 1, 5 } },
    { 'LED GREEN TOGGLE', { line_of('    DO'), line_of('WHILE KEY') - 1 } },
    { 'HLCD 1 1', { line_of('IF VAR[0] = 1'), line_of('LCD 8 1 "Any key') - 3 } },
  }) do
    check(vim.deep_equal(fold_of(e[1]), e[2]), e[1] .. ' is folded as ' .. vim.inspect(fold_of(e[1])) .. ', expected ' .. vim.inspect(e[2]))
  end

  -- Shutdown, then exit.
  vim.lsp.stop_client(client)
  vim.wait(5000, function() return exit_code ~= nil end, 20)
  check(exit_code == 0, 'vendrak-lsp ended with ' .. tostring(exit_code) .. ', expected 0')
  vim.fn.delete(dir, 'rf')
end)
if not ok then table.insert(failures, tostring(err)) end

for _, f in ipairs(failures) do io.stdout:write(f, '\n') end
io.stdout:write(string.format('vendrak-lsp in Neovim: %d passed, %d failed\n', passed, #failures))
vim.cmd(#failures == 0 and 'qall!' or 'cquit!')
