// Test support for the tests that run a demo desk of their own
// (scripts/demo: sample database, boards, feeder, lighttpd serving the
// program and the page): the desk's variables, its database and boards
// read for expected values, and servers started beside it.
import { execFileSync, spawn } from 'node:child_process';
import { readFileSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:net';
import { userInfo } from 'node:os';
import { test } from 'node:test';

export const source = process.env.ZELVORA_SOURCE_DIR;
const build = process.env.ZELVORA_BUILD_DIR;
// ZELVORA_INSTALLED set: the installed package's programs (scripts/demo serves them too).
export const programs = process.env.ZELVORA_INSTALLED ? '/usr/lib/zelvora' : build;
// The worker pool's supervisor, installed beside the program, or the tree's.
export const pool = process.env.ZELVORA_INSTALLED
  ? '/usr/lib/zelvora/zelvora-pool'
  : `${source}/deploy/zelvora-pool`;
const boardTool = process.env.ZELVORA_INSTALLED
  ? '/usr/bin/zelvora-board'
  : `${build}/zelvora-board`;
// A demo desk writes the offer board: only in a /dev/shm of the test's own.
export const skip = process.env.ZELVORA_PRIVATE_SHM
  ? false
  : "no /dev/shm of the tests' own here (run through scripts/private-shm): the demo desk writes boards";
if (skip) console.log(`# skipped: ${skip}`);
// A test of the desk's, skipped with the reason where no desk can run.
export const it = (name, work) => test(name, { skip }, work);

export const freePort = () =>
  new Promise((resolve) => {
    const server = createServer().listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });

export const state = `/tmp/zelvora-desk-${process.pid}`;
// Where scripts/demo puts the desk; once it runs, the settings it hands its web server, so that nginx
// here is given the same. Their secrets are kept apart (`secrets`): for render and the worker pool only.
export const env = {
  ...process.env,
  ZELVORA_DEMO_DIR: state,
  ZELVORA_DB_DIR: `${state}-db`,
  ZELVORA_BUILD_DIR: build,
  TZ: 'Asia/Tokyo',
  SHM_OWNER: userInfo().username,
};
export const run = (command, ...args) =>
  execFileSync(command, args, { cwd: source, env, encoding: 'utf8' });
export const secrets = {};
const secret = ['MYSQL_PWD', 'ZELVORA_PEER_KEY', 'ZELVORA_STREAM_KEY'];
// What a desk may leave unset (no write server of its own); any other unset placeholder is refused.
const optional = { MYSQL_WRITE_HOST: '' };
// A configuration of deploy/ with the desk's values and `settings`; written to `into`, made 0600
// (it holds the database password and the workers' key), when given.
export const render = (file, settings, into) => {
  const text = execFileSync('deploy/render', [`deploy/${file}`], {
    cwd: source,
    env: { ...optional, ...env, ...secrets, ...settings },
    encoding: 'utf8',
  });
  if (into) writeFileSync(into, text, { mode: 0o600 });
  return text;
};
export const sql = (query) =>
  run('scripts/db-local', 'sql', '-N', '-e', query)
    .trim()
    .split('\n')
    .filter(Boolean)
    .map((line) => line.split('\t'));
// A plan's `column` and who wrote it last.
export const plan = (account, column = 'IP1') =>
  sql(
    `SELECT ${column}, upd_user_id FROM \`ImplPlan\` WHERE AccountID='${account}' AND Symbol='EURUSD'`,
  );
// A board's records, each as the text it holds.
export const records = (key) => run(boardTool, 'dump', key).match(/(?<=^\d+ )\{.*/gm) ?? [];
export const board = (key) => records(key).map((text) => JSON.parse(text));
export const writeBoard = (key, rows) =>
  execFileSync(boardTool, ['write', key], {
    env,
    input: rows.map((row) => JSON.stringify(row)).join('\n'),
  });
// Runs `work` with the demo's feeder held (after its write under way), so that only the test moves the offers.
export async function stillOffers(work) {
  const feeder = +readFileSync(`${state}/feeder.pid`, 'utf8');
  process.kill(feeder, 'SIGSTOP');
  try {
    await new Promise((resolve) => setTimeout(resolve, 1100));
    return await work();
  } finally {
    process.kill(feeder, 'SIGCONT');
  }
}

// Starts the desk, once for every test file of this process; its address.
let started;
export function startDesk() {
  started ??= (async () => {
    env.PORT = String(await freePort());
    env.ZELVORA_DB_PORT = String(await freePort());
    // Killed mid-run (a timeout), the desk still goes: nothing outlives the run.
    process.once('SIGTERM', () => {
      stopDesk();
      process.exit(143);
    });
    run('scripts/demo', 'start');
    // Of lighttpd's environment, only the settings nginx's configuration names.
    const lighttpd = readFileSync(`${state}/lighttpd.pid`, 'utf8').trim(),
      given = Object.fromEntries(
        readFileSync(`/proc/${lighttpd}/environ`, 'utf8')
          .split('\0')
          .map((line) => line.split(/=(.*)/s)),
      );
    for (const [, name] of readFileSync(`${source}/deploy/nginx.conf`, 'utf8').matchAll(
      /@([A-Z_]+)@/g,
    ))
      if (name in given) (secret.includes(name) ? secrets : env)[name] = given[name];
    return `http://127.0.0.1:${env.PORT}`;
  })();
  return started;
}

export function stopDesk() {
  for (const pid of served.splice(0))
    try {
      process.kill(-pid, 'SIGKILL');
    } catch {
      /* gone already */
    }
  if (!started) return;
  started = undefined;
  run('scripts/demo', 'stop');
  run('scripts/db-local', 'remove');
}

// A server in a process group of its own, ended with the whole group when the desk stops; its pid.
// Of them, the worker pool alone is given the secrets (its database password and key).
const served = [];
export const serve = (command, ...args) =>
  served[
    served.push(
      spawn(command, args, {
        cwd: source,
        env: args.includes(pool) ? { ...env, ...secrets } : env,
        detached: true,
        stdio: 'ignore',
      }).pid,
    ) - 1
  ];

// POSTs `body` with `headers`; the status, the content type and the body as text.
export async function post(url, body, auth = 'desk:demo', headers = {}) {
  const response = await fetch(url, {
    method: 'POST',
    body,
    headers: auth ? { ...headers, Authorization: `Basic ${btoa(auth)}` } : headers,
  });
  return {
    status: response.status,
    type: response.headers.get('content-type')?.trim(),
    body: await response.text(),
  };
}

export const request = (method, params) =>
  `<zelvora><method>${method}</method>${params === undefined ? '' : `<params>${params}</params>`}</zelvora>`;
