-- vendrak-lsp under Neovim's own language client, headless: a copy of an
-- example with a planted error and a planted slip (after a character of two
-- bytes, so the server's UTF-16 columns must come out as Neovim's bytes)
-- shows both where they are; hover on a keyword gives its syntax line;
-- definition on a GOTO jumps to the label; stopping the client ends the
-- server with status 0.
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
