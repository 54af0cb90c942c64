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
import { after, before, test } from 'node:test';
import {
  closedTrades,
  env,
  freePort,
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
  sql,
  startDesk,
  state,
  stillOffers,
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
    for (const [kind, file] of [
      ['CGI', 'cgi'],
      ['FastCGI', 'fcgi'],
    ])
      endpoints.push({ name: `${name} ${kind}`, url: `${origin}/zelvora.${file}`, origin });
  for (let i = 0; i < 100 && !(await post(endpoints[2].url, '').catch(() => false)); ++i)
    await sleep(50);
});

after(stopDesk);

// The answer's body, once it is known to be a served answer.
async function ask(endpoint, method, params) {
  const answer = await post(endpoint.url, request(method, params));
  assert.deepEqual([answer.status, answer.type], [200, 'text/plain'], endpoint.name);
  return answer.body;
}
const of = (account) => `<accountid>${account}</accountid>`;
const getAccount = (account) => request('getAccount', of(account));
const accountAnswer = (account) => `[{"status":0, "data":${records(`account.${account}`)}}]`;
const column = (query) => sql(query).map((row) => row[0]);

test(
  'live methods answer from the demo boards, database methods from the sample desk',
  { skip },
  async () => {
    const trades = column("SELECT count(*) FROM `Trade` WHERE AccountID='1002'")[0];
    const same = (body) => body,
      listed = (member, list) => (body) =>
        (list ? JSON.parse(body)[list] : JSON.parse(body)).map((r) => r[member]);
    // Each row: a request, what of its answer is compared, and with what.
    const rows = [
      ['getAccount', of(1001), same, accountAnswer(1001)],
      ['getAccount', of(9999), same, '[]'], // no board, no row
      ['getOpenTrade', of(1001), same, `{"status":0, "data":[${records('trade.1001')}]}`],
      [
        'getPriceBar',
        '<symbol>EUR/USD</symbol><period>M1</period>',
        same,
        `{"status":0, "data":[${records('pricebar.EURUSDM1')}]}`,
      ],
      [
        'getOffer',
        '',
        listed('Symbol', 'data'),
        column('SELECT Symbol FROM `Offer` ORDER BY OfferID'),
      ],
      ['getClosedTrade', of(1001), listed('TradeID'), column(closedTrades('TradeID', 1001))],
      [
        'getReport',
        `<rpttype>2</rpttype>${of(1002)}<maxcounts>${trades - 1}</maxcounts>`,
        same,
        'msg_counts_over',
      ],
      [
        'getOpenTradeA',
        of(1002),
        listed('TradeID', 'data2'),
        column(
          "SELECT Ts.TradeID FROM `Trade` T, `TsContext` Ts WHERE T.AccountId=Ts.AccountId AND T.TradeID=Ts.TradeID AND T.AccountId='1002' AND T.CloseOrderID='' AND Ts.TradeMethodName!=''",
        ),
      ],
    ];
    for (const e of endpoints)
      for (const [method, params, pick, expected] of rows)
        assert.deepEqual(
          pick(await ask(e, method, params)),
          expected,
          `${e.name} ${method} ${params}`,
        );
  },
);

// The demo's grants: desk trades every account, alice trades 1001 and 1002, bob reads 2001; carol may log in, granted nothing.
test(
  'each user reads and writes only what the grants give them, and writes as themselves',
  { skip },
  async () => {
    run('htpasswd', '-b', '-B', '-C', '5', env.ZELVORA_HTPASSWD, 'carol', 'demo');
    sql(
      "INSERT INTO `ImplPlan` (AccountID, Symbol, IP1, upd_user_id) VALUES ('2001', 'EURUSD', '0.5', 'setup')",
    );
    const setPlan = (account, ip1) =>
      request(
        'setImplPlan',
        `${of(account)}<param><symbol>EURUSD</symbol><ip1>${ip1}</ip1><loginid>mallory</loginid></param>`,
      );
    for (const [i, e] of endpoints.entries()) {
      // What the page sends with a write; the servers pass Host with its port.
      const page = { 'X-Zelvora-Request': '1', Origin: e.origin };
      for (const [user, body, status, answer, headers = page] of [
        ['alice', getAccount(1001), 200, accountAnswer(1001)],
        ['alice', getAccount(1002), 200, accountAnswer(1002)],
        ['alice', getAccount(2001), 200, '[]'],
        [
          'alice',
          request('whoAmI', ''),
          200,
          '{"status":0, "data":{"User":"alice","Read":["1001","1002"],"Trade":["1001","1002"]}}',
        ],
        ['bob', setPlan(2001, `${i}.9`), 200, banner],
        ['alice', setPlan(1001, `${i}.7`), 200, 'ok'],
        // Another site's form or simple fetch cannot send the page's header.
        ['desk', setPlan(1001, `${i}.8`), 200, banner, { Origin: e.origin }],
        ['carol', getAccount(1001), 403, banner],
      ])
        assert.deepEqual(
          await post(e.url, body, `${user}:demo`, headers),
          { status, type: 'text/plain', body: answer },
          `${e.name} ${user}: ${body.slice(17, 90)}`,
        );
      assert.deepEqual(
        [plan(2001), plan(1001)],
        [[['0.5', 'setup']], [[`${i}.7`, 'alice']]],
        `${e.name}: bob may only read 2001, nor desk write without the header; the updater is the caller, not the loginid`,
      );
    }
  },
);

test('the page and the answers carry the security headers', { skip }, async () => {
  const policy =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'self'";
  for (const url of new Set(endpoints.flatMap((e) => [e.url, `${e.origin}/`])))
    // Signed in, and not: the server's own refusal carries them too (all but the page's cache-control).
    for (const headers of [desk, {}]) {
      const page = url.endsWith('/'),
        response = await fetch(url, {
          method: page ? 'GET' : 'POST',
          body: page ? undefined : request('getOffer', ''),
          headers,
        }),
        names = [
          'content-security-policy',
          'x-content-type-options',
          'x-frame-options',
          'referrer-policy',
          'cache-control',
        ];
      assert.deepEqual(
        names.map((name) => response.headers.get(name)).slice(0, headers.Authorization ? 5 : 4),
        [policy, 'nosniff', 'DENY', 'no-referrer', page ? null : 'no-store'].slice(
          0,
          headers.Authorization ? 5 : 4,
        ),
        `${url} ${response.status}`,
      );
    }
});

test(
  'requests that cannot be served get the banner, and nobody unnamed gets anything',
  { skip },
  async () => {
    const padded = request('getOffer', ' '.repeat(16384 - request('getOffer', '').length));
    for (const e of endpoints) {
      for (const body of [request('getOrders', ''), 'not markup at all', '<zelvora></zelvora>'])
        assert.deepEqual(
          await post(e.url, body),
          { status: 200, type: 'text/plain', body: banner },
          `${e.name} ${body}`,
        );
      assert.deepEqual(
        [
          JSON.parse((await post(e.url, padded)).body).status,
          (await post(e.url, 'x'.repeat(16385))).status,
          (await post(e.url, request('getImplPlan', of(1001)), '')).status,
          (await post(`${e.origin}/libmysqlpp.so`, '')).status,
        ],
        [0, 413, 401, e.name.startsWith('lighttpd') ? 403 : 404],
        `${e.name}: 16 KiB, the servers' limit, is the program's too; over it the server refuses; who calls must say who they are; nothing but the program is served`,
      );
    }
  },
);

test('the Apache and systemd configurations pass their own checks', { skip }, (t) => {
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
    ['nginx.conf', 'a&b"c\\d', /fastcgi_param SHM_OWNER "a&b\\"c\\\\d";/],
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

test(
  'every configuration passes every setting the program reads to exactly the programs that use it',
  { skip },
  () => {
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
      ['Apache /health', location('/health'), apacheLine, pooled],
      ['Apache /metrics', location('/metrics'), apacheLine, pooled],
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
  },
);

test(
  'a killed worker is replaced within a second, and only the request in hand fails',
  { skip },
  async () => {
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
  },
);

// Below a server's cap an authenticated request goes through at once; one past it too on nginx
// (4096 in each of two workers: it closes idle ones to make room), on lighttpd (4096) once the
// 10 s the idle connections are given run out. lighttpd has no deadline for a whole header: a
// sender of a byte every few seconds is not cut off there.
test(
  "a crowd of idle connections leaves the traders served, past the servers' caps too, and a slow sender is cut off",
  { skip },
  async () => {
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
      [nginx, 1400, 5],
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
  },
);

test(
  'fifty requests at once are all served, and no board entry is left behind',
  { skip },
  async () => {
    const files = run('ls', '/dev/shm'),
      body = request('getOffer', '<symbol>EURUSD</symbol><symbol>USDJPY</symbol>');
    for (const e of endpoints)
      assert.deepEqual(
        (await Promise.all(Array.from({ length: 50 }, () => post(e.url, body)))).map(
          (answer) => answer.status,
        ),
        Array(50).fill(200),
        e.name,
      );
    assert.equal(run('ls', '/dev/shm'), files, 'no board entry leaked');
  },
);

test(
  "a balancer's check needs no password, and a real Prometheus reads the pool's counters",
  { skip },
  async () => {
    const origins = [endpoints[0].origin, endpoints[2].origin];
    for (const origin of origins) {
      // Any name may come with the check: it is nobody's, and the request log names nobody.
      const health = await fetch(`${origin}/health`, {
        headers: { Authorization: `Basic ${btoa('mallory:x')}` },
      });
      const others = [
        (await post(`${origin}/health`, getAccount(1001), '')).status !== 200,
        (await fetch(`${origin}/metrics`)).status,
      ];
      assert.deepEqual(
        [health.status, (await health.json()).status, ...others],
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
    // promtool and Prometheus throw on any finding.
    run('promtool', 'check', 'rules', 'deploy/zelvora-alerts.yml');
    writeFileSync(
      `${state}/metrics.txt`,
      await fetch(`${origins[0]}/metrics`, { headers: desk }).then((r) => r.text()),
    );
    run('sh', '-c', `promtool check metrics <${state}/metrics.txt`);
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
  },
);

test(
  "the stream through lighttpd: getOffer's records, to the user lighttpd names alone",
  { skip },
  async () => {
    // A second of a stream through lighttpd, asked for as `user` naming herself desk: its status, headers and events.
    const stream = (path, user) =>
      run(
        'sh',
        '-c',
        `curl -sNi -m 1 -H 'X-Zelvora-User: desk' -u ${user}:demo ${endpoints[0].origin}${path}; true`,
      );
    const [[head, events], answer] = await stillOffers(async () => [
      stream('/stream/offers', 'desk').split('\r\n\r\n'),
      JSON.parse(await ask(endpoints[0], 'getOffer', '')).data,
    ]);
    const [, type, data] = /^event: (.*)\ndata: (.*)$/m.exec(events);
    assert.match(head, /^Content-Type: text\/event-stream/im);
    assert.deepEqual([type, JSON.parse(data)], ['snapshot', { topic: 'offers', records: answer }]);
    assert.deepEqual(
      ['1001', '2001'].map((id) => stream(`/stream/account?id=${id}`, 'alice').split(' ')[1]),
      ['200', '403'],
      'alice naming herself desk is still alice',
    );
  },
);
