// The program as the desk runs it: the demo desk (lighttpd) and nginx with
// fcgiwrap and a worker pool (zelvora-pool, as deploy/zelvora.service runs it) in front
// of the same programs, as CGI and as FastCGI, asked over loopback.
// Expected answers come from the demo's boards and database, read here.
// The page's tests run on the same desk, unless ZELVORA_BROWSER=0.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync, writeFileSync } from 'node:fs';
import { request as httpRequest } from 'node:http';
import { connect } from 'node:net';
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
      `${e.name}: the banner as it is sent; 16 KiB, the servers' limit, is the program's too; over it the server refuses; who calls must say who they are; nothing but the program is served`,
    );
});

it('the Apache and systemd configurations pass their own checks', (t) => {
  const settings = {
    ZELVORA_PORT: '1',
    ZELVORA_USER: 'www-data',
    ZELVORA_GROUP: 'www-data',
    ZELVORA_DIR: `${source}/deploy`,
    ZELVORA_POOL_USER: 'zelvora',
    SHM_GROUP: 'zelvora-boards',
    ZELVORA_ENV_FILE: '/etc/zelvora/zelvora.env',
    ZELVORA_KEY_FILE: '/etc/zelvora/peer.env',
  };
  for (const [file, value, outcome, name] of [
    ['apache.conf', 'a&b"c\\d', /SetEnv SHM_OWNER "a&b\\"c\\\\d"/],
    ['nginx.conf', 'a$host', /SHM_OWNER holds a \$/],
    ['apache.conf', 'a\nListen 80', /SHM_OWNER holds a line break/],
    ['zelvora.service', 'zelvora-boards wheel', /SHM_GROUP holds a character a unit cannot take/],
    ['nginx.conf', '', /SHM_OWNER is empty: the desk must choose it/],
    [
      'nginx.conf',
      '/run/a:b',
      /ZELVORA_STREAM_SOCKET must be an absolute path/,
      'ZELVORA_STREAM_SOCKET',
    ],
  ]) {
    let text;
    try {
      text = render(file, {
        ...settings,
        [name ?? (file.endsWith('.service') ? 'SHM_GROUP' : 'SHM_OWNER')]: value,
      });
    } catch (e) {
      text = e.stderr;
    }
    assert.match(text, outcome, `${file}: ${value}`);
  }
  render('apache.conf', { ...settings, SHM_OWNER: 'a&b"c\\d' }, `${state}/apache.conf`);
  const sh = (command, given = env) =>
    execFileSync('sh', ['-c', `${command} 2>&1 || true`], {
      cwd: source,
      env: given,
      encoding: 'utf8',
    });
  // The shell makes the file before render runs: one others may read gets no secret.
  const into = (umask) =>
    sh(
      `rm -f ${state}/mode.conf; umask ${umask}; ZELVORA_PORT=1 ZELVORA_USER=www-data ZELVORA_GROUP=www-data deploy/render deploy/apache.conf 2>&1 >${state}/mode.conf; stat -c %a:%s ${state}/mode.conf`,
      { ...env, ...secrets },
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
    [
      sh(`apachectl -M -f ${state}/apache.conf`),
      /reqtimeout_module/,
      'a client that sends slowly is cut off',
    ],
  ])
    assert.match(output, expected, why);
  if (sh('command -v systemd-analyze') === '') return t.skip('no systemd-analyze here');
  const units = ['zelvora.socket', 'zelvora.service'].map((unit) => `${state}/${unit}`);
  for (const unit of units) writeFileSync(unit, render(unit.split('/').at(-1), settings));
  run('systemd-analyze', 'verify', '--man=no', ...units);
  // Exposure 1.3 of 10 when written; 8.5 before the units were hardened.
  run('systemd-analyze', 'security', '--offline=true', '--threshold=20', units[1]);
});

it('every configuration passes every setting the program reads to exactly the programs that use it', () => {
  const names = [
    ...readFileSync(`${source}/src/FastCgiWorker.cpp`, 'utf8').matchAll(
      /\{"([A-Z_]+)", Source::k(Bound|Desk|Database|Zone|Own)\b/g,
    ),
  ].map((m) => [m[1], m[2] === 'Database']);
  assert.ok(names.length >= 17, names.join());
  // The database settings go to the CGI program alone (a worker has its own); the pool's scoreboard and request
  // log to the pool alone (a CGI program runs as another user); the rest to both.
  const pooled = ['ZELVORA_STATS', 'ZELVORA_REQUEST_LOG'];
  const db = names.filter(([, d]) => d).map(([n]) => n),
    both = names.map(([n]) => n).filter((n) => !db.includes(n) && !pooled.includes(n));
  const [lighttpd, nginx, apache, zelvoraEnv] = [
    'lighttpd.conf',
    'nginx.conf',
    'apache.conf',
    'debian/zelvora.env',
  ].map((file) => readFileSync(`${source}/deploy/${file}`, 'utf8'));
  const [lighttpdCgi, lighttpdWorkers] = lighttpd.split('"bin-environment" => (');
  const location = (path) =>
    apache.split('<Location ').find((block) => block.startsWith(`"${path}"`));
  const lighttpdLine = '^ +"([A-Z_]+)" => env\\.\\1,$',
    apacheLine = '^ +SetEnv ([A-Z_]+) "@\\1@"$';
  for (const [where, text, line, expected] of [
    ['lighttpd CGI', lighttpdCgi, lighttpdLine, [...both, ...db]],
    ['lighttpd workers', lighttpdWorkers, lighttpdLine, [...both, ...db, ...pooled]],
    ['nginx, every location', nginx, '^ +fastcgi_param ([A-Z_]+) "@\\1@";$', both],
    [
      'nginx, through a map',
      nginx,
      '^ +fastcgi_param ([A-Z_]+) \\$zelvora_[a-z_]+ if_not_empty;$',
      [...db, ...pooled],
    ],
    ['nginx, /zelvora.cgi only', nginx, '^ +/zelvora\\.cgi "@([A-Z_]+)@";$', db],
    ['nginx, all but /zelvora.cgi', nginx, '^ +default "@([A-Z_]+)@";$', pooled],
    ['Apache /zelvora.cgi', location('/zelvora.cgi'), apacheLine, [...both, ...db]],
    ['Apache /zelvora.fcgi', location('/zelvora.fcgi'), apacheLine, [...both, ...pooled]],
    ...['/health', '/metrics'].map((path) => [
      `Apache ${path}`,
      location(path),
      apacheLine,
      pooled,
    ]),
    ['zelvora.env', zelvoraEnv, '^#?([A-Z_]+)=', names.map(([n]) => n)],
  ]) {
    const passed = [...text.matchAll(new RegExp(line, 'gm'))]
      .map((m) => m[1])
      .filter((n) => names.some(([name]) => name === n));
    assert.deepEqual(passed.sort(), [...expected].sort(), where);
  }
  // Apache's pool locations send the workers' key.
  for (const path of ['/zelvora.fcgi', '/health', '/metrics'])
    assert.match(location(path), /SetEnv ZELVORA_PEER_KEY "@ZELVORA_PEER_KEY@"/, path);
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
  assert.match(
    await fetch(`${endpoints[2].origin}/metrics`, { headers: desk }).then((r) => r.text()),
    /^zelvora_worker_restarts_total 1$/m,
    'the pool marks the one worker it replaced, none of its first ones',
  );
  const failed = (await load).filter((answer) => answer.status !== 200).length;
  assert.ok(failed <= 1, `${failed} requests failed`);
});

// Below lighttpd's cap an authenticated request goes through at once; one past a server's cap too on
// nginx (4096 in each of two workers: it closes idle ones to make room, so that row answers for fewer
// too), on lighttpd (4096) once the 10 s the idle connections are given run out. lighttpd has no
// deadline for a whole header: a sender of a byte every few seconds is not cut off there.
it("a crowd of idle connections leaves the traders served, past the servers' caps too, and a slow sender is cut off", async () => {
  const [lighttpd, nginx] = [0, 2].map((i) => new URL(endpoints[i].url));
  const slow = connect(nginx.port, nginx.hostname),
    started = Date.now(); // one byte every 2 s
  const cut = new Promise((resolve) =>
    slow.on('close', () => resolve((Date.now() - started) / 1000)).on('error', () => {}),
  );
  const trickle = setInterval(() => slow.write('X'), 2000);
  slow.write('POST /zelvora.fcgi HTTP/1.1\r\n');
  for (const [origin, size, patience] of [
    [lighttpd, 1400, 5],
    [lighttpd, 4097, 15],
    [nginx, 8193, 5],
  ]) {
    const crowd = await Promise.all(
      Array.from(
        { length: size },
        () =>
          new Promise((resolve, reject) =>
            connect(origin.port, origin.hostname)
              .on('connect', function () {
                resolve(this);
              })
              .on('error', reject),
          ),
      ),
    );
    // A connection of its own (fetch may reuse one the server took before the crowd came).
    for (const e of endpoints.filter((e) => e.origin === origin.origin)) {
      const status = await new Promise((resolve) =>
        httpRequest(
          e.url,
          { method: 'POST', agent: false, auth: 'desk:demo', timeout: patience * 1000 },
          (response) => resolve(response.resume().statusCode),
        )
          .on('timeout', () => resolve(`no answer in ${patience} s`))
          .on('error', (error) => resolve(error.code))
          .end(request('getOffer', '<symbol>EURUSD</symbol>')),
      );
      assert.equal(status, 200, `${e.name} beside ${size} idle connections`);
    }
    for (const socket of crowd) socket.destroy();
  }
  const seconds = await Promise.race([cut, sleep(15000).then(() => 'still open after 15 s')]);
  clearInterval(trickle);
  slow.destroy();
  assert.ok(
    seconds >= 9 && seconds <= 12,
    `nginx cuts a header sent a byte every 2 s at its 10 s: ${seconds}`,
  );
});

it("a balancer's check needs no password, and a real Prometheus reads the pool's counters", async () => {
  const origins = [endpoints[0].origin, endpoints[2].origin];
  for (const origin of origins) {
    // Any name may come with the check: it is nobody's, and the request log names nobody.
    const health = await fetch(`${origin}/health`, {
      headers: { Authorization: `Basic ${btoa('mallory:x')}` },
    });
    assert.deepEqual(
      [
        health.status,
        (await health.json()).status,
        (await post(`${origin}/health`, request('getOffer', ''), '')).status !== 200,
        (await fetch(`${origin}/metrics`)).status,
      ],
      [200, 'ok', true, 401],
      `${origin}: the feeder runs and the database answers; nothing but the check is served there; the metrics are behind the password`,
    );
  }
  const log = readFileSync(env.ZELVORA_REQUEST_LOG, 'utf8');
  assert.ok(
    log.includes(' method=health ') && !log.includes('mallory'),
    'a name sent to /health is not logged',
  );
  const crowd = await Promise.all(
    Array.from({ length: 40 }, () => fetch(`${origins[1]}/health`).then((r) => r.status)),
  );
  assert.ok(
    crowd.includes(200) && crowd.includes(429),
    `nginx turns a crowd of checks away before the pool: ${crowd}`,
  );
  // promtool throws on any finding; the pool counts the checks it answered.
  run('promtool', 'check', 'rules', 'deploy/zelvora-alerts.yml');
  const metrics = await fetch(`${origins[0]}/metrics`, { headers: desk }).then((r) => r.text());
  writeFileSync(`${state}/metrics.txt`, metrics);
  run('sh', '-c', `promtool check metrics <${state}/metrics.txt`);
  // A real Prometheus scrapes the pool with the desk's password and answers the counter back.
  const port = await freePort();
  writeFileSync(
    `${state}/prometheus.yml`,
    `scrape_configs:\n  - job_name: zelvora\n    scrape_interval: 1s\n    basic_auth: {username: desk, password: demo}\n    static_configs: [{targets: ["${origins[0].slice(7)}"]}]\n`,
  );
  serve(
    '/usr/bin/prometheus',
    `--config.file=${state}/prometheus.yml`,
    `--storage.tsdb.path=${state}/prometheus`,
    `--web.listen-address=127.0.0.1:${port}`,
  );
  const query = `http://127.0.0.1:${port}/api/v1/query?query=${encodeURIComponent('zelvora_requests_total{method="health",outcome="answered"}')}`;
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
