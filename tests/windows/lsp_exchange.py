#!/usr/bin/env python3
"""A scripted exchange with vendrak-lsp over its standard streams, as an
editor has it: initialize, initialized, didOpen of an example with a planted
error and a planted slip (after a character of two bytes, so columns count
UTF-16 units) and CR LF line ends, the diagnostics it publishes, hover on a
keyword, definition of a GOTO's label, shutdown and exit.

Each server given is run through the same exchange; every answer must hold
what it must (the error, the warning, the keyword's syntax, the label's
line), the framing must be exact (a Content-Length that is the body's length
in bytes, nothing between messages), the server must end with status 0 after
exit, and all servers must give the same answers, the document's URI aside.

Usage: lsp_exchange.py EXAMPLE SERVER [SERVER...]
  each SERVER one shell-style command line, e.g. "wine build-windows/vendrak-lsp.exe"
"""
import json
import queue
import shlex
import subprocess
import sys
import threading

TIMEOUT = 60  # seconds for each answer; Wine starts slowly


class Server:
    def __init__(self, command):
        self.command = command
        self.process = subprocess.Popen(shlex.split(command), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.messages = queue.Queue()
        self.framing_error = None
        threading.Thread(target=self._read, daemon=True).start()
        self.next_id = 0

    def _read(self):
        out = self.process.stdout
        try:
            while True:
                headers = b''
                while not headers.endswith(b'\r\n\r\n'):
                    byte = out.read(1)
                    if not byte:
                        if headers:
                            self.framing_error = f'stream ends inside a header: {headers!r}'
                        return
                    headers += byte
                length = None
                for line in headers[:-4].split(b'\r\n'):
                    name, _, value = line.partition(b':')
                    if name.strip().lower() == b'content-length':
                        length = int(value)
                    elif name.strip().lower() != b'content-type':
                        raise ValueError(f'unexpected header line {line!r}')
                if length is None:
                    raise ValueError(f'no Content-Length in {headers!r}')
                body = out.read(length)
                if len(body) != length:
                    raise ValueError(f'body of {len(body)} bytes, Content-Length {length}')
                self.messages.put(json.loads(body))
        except (ValueError, json.JSONDecodeError) as e:
            self.framing_error = str(e)
            self.messages.put(None)

    def send(self, message):
        body = json.dumps(message).encode()
        self.process.stdin.write(b'Content-Length: %d\r\n\r\n' % len(body) + body)
        self.process.stdin.flush()

    def notify(self, method, params):
        self.send({'jsonrpc': '2.0', 'method': method, 'params': params})

    def wait_for(self, accept, what):
        while True:
            try:
                m = self.messages.get(timeout=TIMEOUT)
            except queue.Empty:
                raise AssertionError(f'{self.command}: no {what} within {TIMEOUT} s')
            if m is None:
                raise AssertionError(f'{self.command}: broken framing: {self.framing_error}')
            if accept(m):
                return m

    def request(self, method, params):
        self.next_id += 1
        ident = self.next_id
        self.send({'jsonrpc': '2.0', 'id': ident, 'method': method, 'params': params})
        answer = self.wait_for(lambda m: m.get('id') == ident and 'method' not in m, f'answer to {method}')
        if 'error' in answer:
            raise AssertionError(f'{self.command}: {method} failed: {answer["error"]}')
        return answer.get('result')


def position_of(lines, text, offset=0):
    """Line and UTF-16 column (from 0) of `text` in the document."""
    for number, line in enumerate(lines):
        at = line.find(text)
        if at >= 0:
            return {'line': number, 'character': len(line[:at + offset].encode('utf-16-le')) // 2}
    raise AssertionError(f'the document has no {text!r}')


def exchange(command, lines, uri):
    """The exchange with one server; returns its answers, URIs replaced."""
    server = Server(command)
    failures = []

    def check(ok, message):
        if not ok:
            failures.append(f'{command}: {message}')

    init = server.request('initialize', {'processId': None, 'rootUri': None, 'capabilities': {}})
    capabilities = init.get('capabilities', {})
    check(capabilities.get('hoverProvider') and capabilities.get('definitionProvider'),
          f'hover or definition missing from the capabilities: {capabilities}')
    server.notify('initialized', {})
    text = '\r\n'.join(lines) + '\r\n'
    server.notify('textDocument/didOpen',
                  {'textDocument': {'uri': uri, 'languageId': 'vsc', 'version': 1, 'text': text}})
    published = server.wait_for(lambda m: m.get('method') == 'textDocument/publishDiagnostics'
                                and m['params']['uri'] == uri and m['params']['diagnostics'],
                                'diagnostics')['params']['diagnostics']
    found = sorted((d['range']['start']['line'], d['range']['start']['character'], d['severity'], d['message'])
                   for d in published)
    error_at = position_of(lines, 'LCD 9 1', 4)
    slip_at = position_of(lines, '500.5')
    expected = [
        (error_at['line'], error_at['character'], 1, 'LCD row out of range'),
        (slip_at['line'], slip_at['character'], 2,
         '"500.5" is read as 500: a whole number is expected here, and the fraction is dropped'),
    ]
    check(found == expected, f'diagnostics {found}, expected {expected}')

    document = {'uri': uri}
    hover = server.request('textDocument/hover', {'textDocument': document,
                                                  'position': position_of(lines, 'WAITKEY', 1)})
    hover_text = (hover or {}).get('contents', {}).get('value', '')
    check('WAITKEY ENTER|ESCAPE|UP|DOWN|LEFT|RIGHT|ANY' in hover_text, f'hover on WAITKEY gave {hover}')

    definition = server.request('textDocument/definition', {'textDocument': document,
                                                            'position': position_of(lines, 'GOTO menu', 6)})
    targets = definition if isinstance(definition, list) else [definition]
    label = position_of(lines, 'menu:')
    check(len(targets) == 1 and targets[0] and targets[0]['uri'] == uri and
          targets[0]['range']['start'] == {'line': label['line'], 'character': 0},
          f'definition of menu gave {definition}, expected line {label["line"]}')

    check(server.request('shutdown', None) is None, 'shutdown answered with a result')
    server.notify('exit', None)
    try:
        status = server.process.wait(timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        server.process.kill()
        status = 'still running'
    check(status == 0, f'ended with {status} after exit')
    check(server.framing_error is None, f'broken framing: {server.framing_error}')
    answers = json.dumps([capabilities, found, hover, definition]).replace(uri, '<document>')
    return answers, failures


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding='utf-8') as f:
        lines = f.read().splitlines()
    lines = [line.replace('LCD 8 1 "Bye"', 'LCD 9 1 "Bye"') for line in lines]
    lines = [line[:-len('DELAY 500')] + '/* \u00bd s */ DELAY 500.5' if line.endswith('DELAY 500') else line
             for line in lines]
    failures = []
    answers = []
    for command in sys.argv[2:]:
        uri = 'file:///C:/job/key_menu.vsc' if '.exe' in command else 'file:///job/key_menu.vsc'
        try:
            got, failed = exchange(command, lines, uri)
            answers.append((command, got))
            failures += failed
        except AssertionError as e:
            failures.append(str(e))
    for command, got in answers[1:]:
        if got != answers[0][1]:
            failures.append(f'{command} answers\n  {got}\nbut {answers[0][0]} answers\n  {answers[0][1]}')
    for f in failures:
        print(f)
    print(f'lsp_exchange: {len(sys.argv) - 2} servers, {len(failures)} failures')
    sys.exit(1 if failures else 0)


if __name__ == '__main__':
    main()
