// The program as the desk runs it: the demo desk (lighttpd) and nginx with
// fcgiwrap and a worker pool (zelvora-pool, as deploy/zelvora.service runs it) in front
// of the same programs, as CGI and as FastCGI, asked over loopback.
// Expected answers come from the demo's boards and database, read here.
// The page's tests run on the same desk, unless ZELVORA_BROWSER=0.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync, writeFileSync } from 'node:fs';
import { after, before } from 'node:test';
import {
  env,
  freePort,
  it,
  pool,
  post,
  plan,
  programs,
  records,
  render,
  request,
  run,
  secrets,
  serve,
  skip,
  source,
  startDesk,
  state,
  stopDesk,
} from '../support/desk.mjs';

if (process.env.ZELVORA_BROWSER !== '0') await import('../web/DeskPageTest.mjs');
const banner = 'Zelvora 1.0 - foreign-exchange desk service\n';
const endpoints = [];
let poolPid;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const desk = { Authorization: `Basic ${btoa('desk:demo')}` };

before(async () => {
  if (skip) return;
  const lighttpd = await startDesk(),
    port = await freePort();
  render('nginx.conf', { ZELVORA_USER: 'root', ZELVORA_PORT: port }, `${state}/nginx.conf`);
  serve('/usr/sbin/fcgiwrap', '-c', '4', '-s', `unix:${state}/fcgiwrap.sock`);
  poolPid = serve(
    '/usr/bin/spawn-fcgi',
    '-n',
    '-s',
    `${state}/zelvora.sock`,
    '--',
    pool,
    `${programs}/zelvora.cgi`,
  );
  serve('/usr/sbin/nginx', '-c', `${state}/nginx.conf`, '-g', 'daemon off;');
  for (const [name, origin] of [
    ['lighttpd', lighttpd],
    ['nginx', `http://127.0.0.1:${port}`],
  ])
    for (const file of ['cgi', 'fcgi'])
      endpoints.push({ name: `${name} ${file}`, url: `${origin}/zelvora.${file}`, origin });
  for (let i = 0; i < 100 && !(await post(endpoints[2].url, '').catch(() => false)); ++i)
    await sleep(50);
});

after(stopDesk);

// What each web server's configuration does with a request; what the program answers each method is
// checked in-process (tests/desk) and through the program (ProgramTest), so only one request a concern here.

// The demo's grants: alice trades 1001 and 1002; carol may log in, granted nothing.
it("the servers pass the body, the signed-in user and the page's headers, and the status line", async () => {
  run('htpasswd', '-b', '-B', '-C', '5', env.ZELVORA_HTPASSWD, 'carol', 'demo');
  for (const [i, e] of endpoints.entries()) {
    // The write is taken only with the page's header and an Origin matching Host (with its port), and
    // is recorded as REMOTE_USER's, not the loginid's: the database settings reach both kinds of program.
    const write = request(
      'setImplPlan',
      `<accountid>1001</accountid><param><symbol>EURUSD</symbol><ip1>${i}.7</ip1><loginid>mallory</loginid></param>`,
    );
    const account = request('getAccount', '<accountid>1001</accountid>');
    // The board's own record: the board settings reach the program too.
    for (const [user, body, status, answer] of [
      ['alice', account, 200, `[{"status":0, "data":${records('account.1001')}}]`],
      ['alice', write, 200, 'ok'],
      ['carol', account, 403, banner],
    ])
      assert.deepEqual(
        await post(e.url, body, `${user}:demo`, { 'X-Zelvora-Request': '1', Origin: e.origin }),
        { status, type: 'text/plain', body: answer },
        `${e.name} ${user}`,
      );
    assert.deepEqual(plan(1001), [[`${i}.7`, 'alice']], `${e.name}: written as alice`);
  }
});

it('the page and the answers carry the security headers', async () => {
  const names = [
      'content-security-policy',
      'x-content-type-options',
      'x-frame-options',
      'referrer-policy',
      'cache-control',
    ],
    policy =
      "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'self'";
  for (const url of new Set(endpoints.flatMap((e) => [e.url, `${e.origin}/`])))
    // Signed in, and not: the server's own refusal carries them too (all but the answers' cache-control).
    for (const headers of [desk, {}]) {
      const page = url.endsWith('/'),
        response = await fetch(url, {
          method: page ? 'GET' : 'POST',
          body: page ? undefined : request('getOffer', ''),
          headers,
        }),
        checked = headers.Authorization ? 5 : 4;
      assert.deepEqual(
        names.slice(0, checked).map((name) => response.headers.get(name)),
        [policy, 'nosniff', 'DENY', 'no-referrer', page ? null : 'no-store'].slice(0, checked),
        `${url} ${response.status}`,
      );
    }
});

it('a request that cannot be served gets the banner, and nobody unnamed gets anything', async () => {
  const padded = request('getOffer', ' '.repeat(16384 - request('getOffer', '').length));
  // The banner as it is sent; 16 KiB, the servers' limit, is the program's too; over it the server
  // refuses; who calls must say who they are; nothing but the program is served.
  for (const e of endpoints)
    assert.deepEqual(
      [
        await post(e.url, 'not markup at all'),
        JSON.parse((await post(e.url, padded)).body).status,
        (await post(e.url, 'x'.repeat(16385))).status,
        (await post(e.url, padded, '')).status,
        (await post(`${e.origin}/libmysqlpp.so`, '')).status,
      ],
      [
        { status: 200, type: 'text/plain', body: banner },
        0,
        413,
        401,
        e.name.startsWith('lighttpd') ? 403 : 404,
      ],
      e.name,
    );
});

it('render writes values as values and secrets for root alone, and Apache takes what it writes', () => {
  const settings = {
    ZELVORA_PORT: '1',
    ZELVORA_USER: 'www-data',
    ZELVORA_GROUP: 'www-data',
    ZELVORA_DIR: `${source}/deploy`,
  };
  for (const [file, value, outcome, name = 'SHM_OWNER'] of [
    ['apache.conf', 'a&b"c\\d', /SetEnv SHM_OWNER "a&b\\"c\\\\d"/],
    ['nginx.conf', 'a$host', /SHM_OWNER holds a \$/],
    ['apache.conf', 'a\nListen 80', /SHM_OWNER holds a line break/],
    ['zelvora.service', 'a wheel', /SHM_GROUP holds a character a unit cannot take/, 'SHM_GROUP'],
    ['nginx.conf', '', /SHM_OWNER is empty: the desk must choose it/],
    [
      'nginx.conf',
      '/a:b',
      /ZELVORA_STREAM_SOCKET must be an absolute path/,
      'ZELVORA_STREAM_SOCKET',
    ],
  ]) {
    let text;
    try {
      text = render(file, { ...settings, [name]: value });
    } catch (e) {
      text = e.stderr;
    }
    assert.match(text, outcome, `${file}: ${value}`);
  }
  render('apache.conf', { ...settings, SHM_OWNER: 'a&b"c\\d' }, `${state}/apache.conf`);
  const sh = (command) =>
    execFileSync('sh', ['-c', `${command} 2>&1 || true`], {
      cwd: source,
      env: { ...env, ...secrets, ...settings },
      encoding: 'utf8',
    });
  // The shell makes the file before render runs: one others may read gets no secret.
  const into = (umask) =>
    sh(
      `rm -f ${state}/mode.conf; umask ${umask}; deploy/render deploy/apache.conf 2>&1 >${state}/mode.conf; stat -c %a:%s ${state}/mode.conf`,
    );
  for (const [output, expected, why] of [
    [
      into('022'),
      /mode\.conf would hold a secret and others may read it: create it 0600 first \(umask 077\)\n644:0\n$/,
      "the database password and the workers' key are root's alone",
    ],
    [into('077'), /^600:[1-9]\d*\n$/, 'a file made 0600 takes them'],
    [
      sh('SHM_OWNER= lighttpd -tt -f deploy/lighttpd.conf'),
      /SHM_OWNER and TZ must not be empty/,
      'lighttpd refuses an empty owner',
    ],
    [sh(`apachectl -t -f ${state}/apache.conf`), /Syntax OK/, 'Apache takes it'],
  ])
    assert.match(output, expected, why);
});

it('a killed worker is replaced within a second, and only the request in hand fails', async () => {
  const workers = () => run('pgrep', '-P', String(poolPid)).split('\n').filter(Boolean);
  const [victim, sibling] = workers(),
    body = request('getOffer', '<symbol>EURUSD</symbol>');
  const load = Promise.all(Array.from({ length: 300 }, () => post(endpoints[3].url, body)));
  await sleep(30);
  process.kill(Number(victim), 'SIGKILL');
  await sleep(1000);
  const now = workers();
  assert.deepEqual(
    [now.length, now.includes(victim), now.includes(sibling)],
    [2, false, true],
    'the pool has its size again',
  );
  const failed = (await load).filter((answer) => answer.status !== 200).length;
  assert.ok(failed <= 1, `${failed} requests failed`);
});

it("a balancer's check needs no password, and a real Prometheus reads the pool's counters", async () => {
  const origins = [endpoints[0].origin, endpoints[2].origin];
  for (const origin of origins) {
    // Any name may come with the check: it is nobody's, and the request log names nobody.
    const health = await fetch(`${origin}/health`, {
      headers: { Authorization: `Basic ${btoa('mallory:x')}` },
    });
    // The feeder runs and the database answers; nothing but the check is served there; the
    // metrics are behind the password.
    assert.deepEqual(
      [
        health.status,
        (await health.json()).status,
        (await post(`${origin}/health`, request('getOffer', ''), '')).status !== 200,
        (await fetch(`${origin}/metrics`)).status,
      ],
      [200, 'ok', true, 401],
      origin,
    );
  }
  const log = readFileSync(env.ZELVORA_REQUEST_LOG, 'utf8');
  assert.ok(
    log.includes(' method=health ') && !log.includes('mallory'),
    'a name sent to /health is not logged',
  );
  // A real Prometheus scrapes the pool with the desk's password and answers the counter back.
  const port = await freePort();
  writeFileSync(
    `${state}/prometheus.yml`,
    `scrape_configs: [{job_name: z, scrape_interval: 1s, basic_auth: {username: desk, password: demo}, static_configs: [{targets: ["${origins[0].slice(7)}"]}]}]`,
  );
  serve(
    '/usr/bin/prometheus',
    `--config.file=${state}/prometheus.yml`,
    `--storage.tsdb.path=${state}/prometheus`,
    `--web.listen-address=127.0.0.1:${port}`,
  );
  const query = `http://127.0.0.1:${port}/api/v1/query?query=zelvora_requests_total{method="health",outcome="answered"}`;
  let value;
  for (let i = 0; i < 200 && value === undefined; ++i)
    value = await fetch(query)
      .then((r) => r.json())
      .then((r) => r.data.result[0].value[1])
      .catch(() => sleep(100));
  assert.ok(Number(value) >= 1, `zelvora_requests_total as Prometheus scraped it: ${value}`);
});

it('the stream through lighttpd, to the user lighttpd names alone', () => {
  // A second of a stream through lighttpd, asked for as `user` naming herself desk: its status line,
  // headers and events (what the snapshot holds is the stream server's own test's).
  const stream = (path, user) =>
    run(
      'sh',
      '-c',
      `curl -sNi -m 1 -H 'X-Zelvora-User: desk' -u ${user}:demo ${endpoints[0].origin}${path}; true`,
    );
  const [head, events] = stream('/stream/offers', 'desk').split('\r\n\r\n');
  const [, type, data] = /^event: (.*)\ndata: (.*)$/m.exec(events);
  assert.match(head, /^Content-Type: text\/event-stream/im);
  assert.deepEqual([type, JSON.parse(data).topic], ['snapshot', 'offers']);
  assert.deepEqual(
    ['1001', '2001'].map((id) => stream(`/stream/account?id=${id}`, 'alice').split(' ')[1]),
    ['200', '403'],
    'alice naming herself desk is still alice',
  );
});
