'use strict';
// Starts vendrak-lsp for the open .vsc files and talks to it over its
// standard input and output. The server gives the diagnostics, hover,
// definitions, references, symbols and completion; this side only finds the
// program, restarts it when its path changes, and says so when it cannot be
// started.
//
// Each platform's package of the extension carries its own vendrak-lsp in
// server/; the setting vendrak.server.path names another one instead.
const fs = require('node:fs');
const path = require('node:path');
const vscode = require('vscode');
const { LanguageClient, TransportKind } = require('vscode-languageclient/node');

/** @type {LanguageClient | undefined} */
let client;
/** @type {string} */
let extensionPath = '';

/**
 * The server to start: the configured path with ${workspaceFolder} filled
 * in, or, when none is configured, the server bundled in the extension's
 * server/ folder for `platform`, or, when the extension carries none (run
 * from its sources), vendrak-lsp from the PATH.
 * @param {{ configured: string, folder: string, extensionPath: string, platform: string,
 *           exists?: (file: string) => boolean }} where
 */
function resolveServer({ configured, folder, extensionPath: root, platform, exists = fs.existsSync }) {
  const chosen = configured.trim();
  if (chosen) return chosen.replaceAll('${workspaceFolder}', folder);
  const separator = platform === 'win32' ? path.win32 : path.posix;
  const bundled = separator.join(root, 'server', platform === 'win32' ? 'vendrak-lsp.exe' : 'vendrak-lsp');
  return exists(bundled) ? bundled : 'vendrak-lsp';
}

function serverCommand() {
  const command = resolveServer({
    configured: vscode.workspace.getConfiguration('vendrak').get('server.path', ''),
    folder: vscode.workspace.workspaceFolders?.[0]?.uri.fsPath ?? '',
    extensionPath,
    platform: process.platform,
  });
  // A .vsix does not always keep the permissions of the files it holds:
  // the bundled server is made executable again.
  if (process.platform !== 'win32' && command.startsWith(path.join(extensionPath, 'server'))) {
    try {
      fs.chmodSync(command, 0o755);
    } catch {
      // Starting it reports what is wrong.
    }
  }
  return command;
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
      'Set "vendrak.server.path" to the program, or install it on the PATH.');
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
  extensionPath = context.extensionPath;
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

module.exports = { activate, deactivate, resolveServer };
