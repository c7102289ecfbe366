'use strict';
// Starts vendrak-lsp for the open .vsc files and talks to it over its
// standard input and output. The server gives the diagnostics, hover,
// definitions, references, symbols and completion; this side only finds the
// program, restarts it when its path changes, and says so when it cannot be
// started.
const vscode = require('vscode');
const { LanguageClient, TransportKind } = require('vscode-languageclient/node');

/** @type {LanguageClient | undefined} */
let client;

// The configured server command with ${workspaceFolder} filled in.
function serverCommand() {
  const configured = vscode.workspace.getConfiguration('vendrak').get('server.path', 'vendrak-lsp').trim();
  const folder = vscode.workspace.workspaceFolders?.[0]?.uri.fsPath ?? '';
  return (configured || 'vendrak-lsp').replaceAll('${workspaceFolder}', folder);
}

async function startServer() {
  const command = serverCommand();
  const next = new LanguageClient('vendrak', 'vendrak-lsp',
    { command, transport: TransportKind.stdio },
    { documentSelector: [{ scheme: 'file', language: 'vsc' }, { scheme: 'untitled', language: 'vsc' }] });
  try {
    await next.start();
    client = next;
  } catch (err) {
    const reason = err instanceof Error ? err.message : String(err);
    vscode.window.showErrorMessage(
      `vendrak-lsp could not be started as "${command}": ${reason}. ` +
      'Install it on the PATH or set "vendrak.server.path" to the program.');
  }
}

async function stopServer() {
  const running = client;
  client = undefined;
  if (running) await running.stop();
}

async function restartServer() {
  await stopServer();
  await startServer();
}

/** @param {vscode.ExtensionContext} context */
async function activate(context) {
  context.subscriptions.push(
    vscode.commands.registerCommand('vendrak.restartServer', restartServer),
    vscode.workspace.onDidChangeConfiguration((event) => {
      if (event.affectsConfiguration('vendrak.server.path')) restartServer();
    }));
  await startServer();
}

function deactivate() {
  return stopServer();
}

module.exports = { activate, deactivate };
