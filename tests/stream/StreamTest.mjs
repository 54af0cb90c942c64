// zelvora-stream as the desk runs it: the built server on a local socket,
// boards written with zelvora-board in a /dev/shm of the test's own, the
// expected record texts from zelvora.cgi itself, and nginx in front with
// the stream location of deploy/nginx.conf (the other web servers' stream
// locations are asked in tests/e2e). One row per branch of the server: what
// the server does per board, per method or per grants line is asked where
// that code lives (tests/shm, tests/desk).
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { mkdtempSync, readFileSync, statSync, writeFileSync } from 'node:fs';
import { get } from 'node:http';
import { after, test } from 'node:test';
import { setTimeout as sleep } from 'node:timers/promises';
import { freePort, render, skip, source } from '../support/desk.mjs';

const build = process.env.ZELVORA_BUILD_DIR;
const key = 'stream-key-'.padEnd(40, 'x');
const dir = mkdtempSync('/tmp/zelvora-stream-');
const children = [];
// SIGTERM: nginx ends its workers only when asked (a killed master leaves them serving).
after(() => children.forEach((child) => child.kill()));
// What `check` gives once it gives something, asked every 10 ms for 5 s at most; else undefined.
async function until(check) {
  for (const end = Date.now() + 5000; Date.now() < end; await sleep(10)) {
    const got = await check();
    if (got) return got;
  }
}

const offer = (symbol, bid, pad = '') => `{"Symbol":"${symbol}", "Bid":${bid}${pad}}`;
// 40 offers of some 1.3 KB each: a few changes fill a socket's buffers.
const big = (bid) => [...Array(40).keys()].map((i) => offer(`S${i}`, bid, ' '.repeat(1300)));
const write = (board, lines) =>
  execFileSync(`${build}/zelvora-board`, ['write', board], { input: lines.join('\n') + '\n' });
// An event's data: a topic's records (and, for a change, the keys gone), or its board's state.
const records = (topic, list, gone) =>
  `{"topic":"${topic}","records":${list}${gone ? `,"gone":${gone}` : ''}}`;
const state = (topic, name) => `{"topic":"${topic}","state":"${name}"}`;
// The offers' records as getOffer writes them: the stream sends a record's text as the program does.
const getOffer = () => {
  const env = { CONTENT_LENGTH: '44', MAX_CONTENT_LENGTH: '99' };
  const input = '<zelvora><method>getOffer</method></zelvora>';
  const out = execFileSync(`${build}/zelvora.cgi`, { input, env, encoding: 'utf8' });
  return out.slice(out.indexOf('"data":') + 7, -1);
};

let servers = 0;
// Starts the server and waits until it listens, or, with `expect` [status, words], until it exits
// with that status having said those words; a failure names `concern`.
async function start(env = {}, expect = [null, 'listening'], concern = 'started', command) {
  const socket = `${dir}/stream${++servers}.sock`;
  const child = spawn(...(command ?? [`${build}/zelvora-stream`]), {
    env: { ...process.env, ZELVORA_STREAM_KEY: key, ZELVORA_STREAM_SOCKET: socket, ...env },
  });
  children.push(child);
  let said = '';
  const code = await new Promise((resolve) => {
    child.stderr.on('data', (text) => (said += text).includes('listening') && resolve(null));
    child.on('close', resolve);
  });
  assert.deepEqual([code, said.includes(expect[1])], [expect[0], true], `${concern}: ${said}`);
  return { socket, child };
}

// One request to the server's socket, or a web server ({ port, host }): the answer, with its
// `text` as it comes.
function open(place, path, { user = 'alice', headers = {} } = {}) {
  headers = { 'X-Zelvora-Stream-Key': key, 'X-Zelvora-User': user, ...headers };
  return new Promise((resolve, reject) =>
    get({ ...(place.port ? place : { socketPath: place }), path, headers }, (answer) => {
      answer.text = '';
      resolve(answer.setEncoding('utf8').on('data', (chunk) => (answer.text += chunk)));
    }).on('error', reject),
  );
}

// The next event of `stream` not yet taken by this, heartbeats passed over unless asked for; it
// must be `name` (with `data` when given).
async function next(stream, name, data, concern = name) {
  const event = await until(() => {
    const [text] = stream.text.slice((stream.at ??= 0)).match(/^[^]*?\n\n/) ?? [];
    if (!text) return;
    stream.at += text.length;
    const event = Object.fromEntries(text.split('\n').map((line) => line.split(/: (.*)/s)));
    return (name === 'heartbeat' || event.event !== 'heartbeat') && event;
  });
  assert.deepEqual(
    [event?.event, event?.data],
    [name, data ?? event?.data],
    `${concern}: ${stream.text}`,
  );
  return event;
}

test(
  "a tick is a change of getOffer's text; a board that goes, comes back or stays locked is told",
  { skip },
  async () => {
    const { socket } = await start({ ZELVORA_STREAM_HEARTBEAT_MS: '100', SHM_LOCK_MS: '300' });
    write('offer', [offer('EUR/USD', 1.1), offer('USD/JPY', 150.1)]);
    const stream = await open(socket, '/stream/offers');
    assert.deepEqual(
      [stream.statusCode, stream.headers['content-type'], stream.headers['x-accel-buffering']],
      [200, 'text/event-stream', 'no'],
    );
    await next(stream, 'snapshot', records('offers', getOffer()));
    // Only what changed: USD/JPY's bytes are the same.
    write('offer', [offer('EUR/USD', 1.2, ' '), offer('USD/JPY', 150.1)]);
    await next(stream, 'change', records('offers', `[${offer('EUR/USD', 1.2, ' ')}]`, '[]'));
    write('offer', [offer('EUR/USD', 1.2, ' ')]);
    await next(stream, 'change', records('offers', '[]', '["USD/JPY"]'));
    assert.equal((await next(stream, 'heartbeat', '{}')).id, undefined, 'a heartbeat has no id');
    const told = (name) => ['board', state('offers', name)];
    // Holds the offer board's lock for 0.9 s, as a writer in the middle of a long write.
    const hold = `import time\nfrom ctypes import *\nc=CDLL(None)\nc.sem_open.restype=POINTER(c_int)\ns=c.sem_open(b"offer",0)\nc.sem_wait(s)\ntime.sleep(.9)\nc.sem_post(s)`;
    for (const [concern, act, ...events] of [
      [
        'removed',
        () => execFileSync(`${build}/zelvora-board`, ['remove', 'offer']),
        told('missing'),
      ],
      ['written again', () => write('offer', [offer('GBP/USD', 1.3)]), told('back'), ['snapshot']],
      [
        'locked past SHM_LOCK_MS',
        () => spawn('python3', ['-c', hold]),
        told('locked'),
        told('back'),
      ],
    ]) {
      act();
      for (const [name, data] of events) await next(stream, name, data, concern);
    }
    await next(stream, 'snapshot', records('offers', getOffer()));
  },
);

test('a resume: what the client missed, or a snapshot', { skip }, async () => {
  const { socket } = await start();
  // Without grants, only the name's own rule stands between a caller and the log lines.
  assert.equal((await open(socket, '/', { user: 'al,ice' })).statusCode, 403, 'a comma in a user');
  assert.equal((await open(socket, '/', { user: '' })).statusCode, 403, 'an empty user');
  write('offer', [offer('EUR/USD', 1.1)]);
  await open(socket, '/stream/desk?accounts=A1'); // keeps the boards read
  const first = await open(socket, '/stream/offers');
  const { id } = await next(first, 'snapshot');
  first.destroy();
  write('offer', [offer('EUR/USD', 1.2)]);
  await sleep(100);
  const resume = (lastId, path = '/stream/offers') =>
    open(socket, path, { headers: { 'Last-Event-ID': lastId } });
  const missed = records('offers', getOffer(), '[]');
  await next(await resume(id), 'change', missed, 'its own last id: what it missed');
  await next(await resume(id, '/stream/account?id=A1'), 'board', undefined, 'a topic not carried');
  await next(
    await resume(`0123456789abcdef-${id.split('-')[1]}`),
    'snapshot',
    undefined,
    'another run',
  );
});

test(
  'refusals; grants; nginx in front; the account, trades and bars topics',
  { skip },
  async () => {
    const grants = `${dir}/access`;
    const grant = (text) => writeFileSync(grants, text, { mode: 0o600 });
    grant('alice read A1\nbob read B1\nu read *\n');
    const { socket } = await start({ ZELVORA_ACCESS: grants });
    const desk = (from, n) => `/stream/desk?accounts=${[...Array(n).keys()].map((i) => i + from)}`;
    const given = (value) => ({ headers: { 'X-Zelvora-Stream-Key': value } });
    write('account.A1', ['{"AccountID":"A1","Balance":100}', '{"AccountID":"A2","Balance":5}']);
    for (const [concern, path, status, options] of [
      ['a key wrong in its last byte', '/stream/offers', 403, given(key.slice(0, -1) + 'y')],
      ['the key and a byte more', '/stream/offers', 403, given(key + 'x')],
      ['two users', '/stream/offers', 403, { headers: { 'X-Zelvora-User': ['alice', 'bob'] } }],
      ['a user the grants do not know', '/stream/offers', 403, { user: 'carol' }],
      ['an account not granted', '/stream/desk?accounts=A1,B1', 403],
      ['an unknown path', '/stream/other', 404],
      ['bars of no board', '/stream/bars?symbol=EUR/USD&period=m1', 404],
      ['an account id with a quote', '/stream/account?id=a%22b', 400],
      ['an empty account list', '/stream/desk?accounts=', 400],
      ['101 accounts', desk(0, 101), 400],
      ['a symbol without a period', '/stream/desk?symbol=EURUSD', 400],
      ['more boards than one user may watch alone', desk(0, 63), 503, { user: 'u' }],
    ]) {
      assert.equal((await open(socket, path, options)).statusCode, status, concern);
    }
    // The program's settings empty: this nginx is asked for the stream alone.
    const conf = readFileSync(`${source}/deploy/nginx.conf`, 'utf8').match(
      /@(?!TZ|SHM_OWNER)\w+@/g,
    );
    const web = await freePort();
    writeFileSync(`${dir}/htpasswd`, 'alice:{PLAIN}a\n');
    render(
      'nginx.conf',
      {
        ...Object.fromEntries(conf.map((at) => [at.slice(1, -1), ''])),
        ...{ ZELVORA_PORT: `${web}`, ZELVORA_STREAM_SOCKET: socket, ZELVORA_STATE: dir },
        ...{ ZELVORA_STREAM_KEY: key, ZELVORA_USER: 'root', ZELVORA_HTPASSWD: `${dir}/htpasswd` },
      },
      `${dir}/nginx.conf`,
    );
    children.push(spawn('/usr/sbin/nginx', ['-c', `${dir}/nginx.conf`, '-g', 'daemon off;']));
    // alice, naming herself carol (whom the grants do not know) and bringing no key: nginx passes
    // the user it checked, and the key, and the events at once.
    const headers = { Authorization: `Basic ${btoa('alice:a')}`, 'X-Zelvora-Stream-Key': '' };
    const through = await until(() =>
      open({ port: web, host: '127.0.0.1' }, '/stream/offers', { user: 'carol', headers }).catch(
        () => 0,
      ),
    );
    await next(through, 'snapshot');
    const written = Date.now();
    write('offer', [offer('EUR/USD', 1.7)]);
    await next(through, 'change');
    assert.ok(
      Date.now() - written < 500,
      `the change took ${Date.now() - written} ms through nginx`,
    );
    const stream = await open(socket, '/stream/desk?accounts=A1');
    await next(stream, 'snapshot');
    const account = '[{"AccountID":"A1","Balance":100}]';
    await next(stream, 'snapshot', records('account:A1', account));
    // An account's missing board is told, not refused.
    await next(stream, 'board', state('trades:A1', 'missing'));
    // Trades come and go together: every change is a snapshot of them.
    const trade = (id) => `{"TradeID":"${id}"}`;
    for (const trades of [[trade(1)], [trade(1), trade(2)]]) {
      write('trade.A1', trades);
      if (trades.length === 1) await next(stream, 'board', state('trades:A1', 'back'));
      await next(stream, 'snapshot', records('trades:A1', `[${trades}]`));
    }
    write('trade.A1', ['{"Open":1}']); // no TradeID: nothing "gone" could name
    await next(stream, 'board', state('trades:A1', 'unreadable'));
    // Bars are told by their time.
    const bar = (t) => `{"StartDate":"10:0${t}","BidClose":1.${t}}`;
    write('pricebar.EURUSDm1', [bar(0), bar(1)]);
    const bars = await open(socket, '/stream/bars?symbol=EUR/USD&period=m1', { user: 'bob' });
    await next(bars, 'snapshot');
    write('pricebar.EURUSDm1', [bar(1), bar(2)]);
    await next(bars, 'change', records('bars:EURUSD:m1', `[${bar(2)}]`, '["10:00"]'));
    await sleep(1100); // a file rewritten within the second is read again only after it
    grant('alice read A2\n'); // alice loses A1, bob everything
    for (const [s, topic] of [
      [stream, 'account:A1'],
      [bars, 'bars:EURUSD:m1'],
    ]) {
      await next(s, 'refused', `{"topic":"${topic}"}`);
      await sleep(100);
      assert.ok(s.complete, `the refused stream of ${topic} ends`);
    }
  },
);

// A socket in a folder others may write could be put there first by one of them, and be handed the
// web server's key and its callers.
test('the server starts only with a key and a socket of its own', async () => {
  for (const [concern, env, expect, command] of [
    ['a short key', { ZELVORA_STREAM_KEY: key.slice(9) }, [78, 'at least 32 characters']],
    ["the workers' key", { ZELVORA_PEER_KEY: key }, [78, 'differ from ZELVORA_PEER_KEY']],
    [
      'a folder others may write',
      { ZELVORA_STREAM_SOCKET: `${dir}/../s.sock` },
      [1, 'alone to write'],
    ],
    // as a socket unit could hand it over
    [
      'a network socket on standard input',
      {},
      [1, 'listens on a network'],
      [
        'python3',
        [
          '-c',
          `import os,socket as s\nc=s.create_server(('127.0.0.1',0))\nos.dup2(c.fileno(),0)\nos.execv("${build}/zelvora-stream",['s'])`,
        ],
      ],
    ],
  ])
    await start(env, expect, concern, command);
  const { socket } = await start();
  assert.equal(statSync(socket).mode & 0o777, 0o600, 'the socket opens to others');
});

test('a stalled client delays no other, and is dropped past its backlog', { skip }, async () => {
  const { socket } = await start({ ZELVORA_STREAM_BACKLOG: '65536', ZELVORA_STREAM_MAX: '2' });
  write('offer', big(1));
  // A client that takes its head, and then nothing.
  (await open(socket, '/stream/offers')).pause();
  const healthy = await open(socket, '/stream/offers');
  await next(healthy, 'snapshot');
  assert.equal((await open(socket, '/stream/offers')).statusCode, 503, 'a third taken');
  for (let bid = 2; bid < 12; ++bid) {
    const written = Date.now();
    write('offer', big(bid));
    // A server that waited on the stalled client would hold the others for seconds.
    await next(healthy, 'change');
    assert.ok(Date.now() - written < 1000, `change ${bid} was late beside a stalled client`);
  }
  const third = await open(socket, '/stream/offers');
  assert.equal(third.statusCode, 200, 'the stalled client kept past its backlog');
});

test(
  'a reader behind gets every event in order, and the key is not left in environ',
  { skip },
  async () => {
    const { socket, child } = await start();
    write('offer', big(1));
    const behind = await open(socket, '/stream/offers');
    const first = +(await next(behind, 'snapshot')).id.split('-')[1];
    behind.pause();
    // Ten changes of the 40 offers, 60 ms apart.
    for (let bid = 2; bid < 12; ++bid) (write('offer', big(bid)), await sleep(60));
    behind.resume();
    // Every event whole and in order.
    for (let bid = 2; bid < 12; ++bid) {
      const { id, data } = await next(behind, 'change');
      const got = [JSON.parse(data).records[0].Bid, +id.split('-')[1]];
      assert.deepEqual(got, [bid, first + bid - 1], `change ${bid}`);
    }
    const environ = readFileSync(`/proc/${child.pid}/environ`, 'latin1');
    assert.ok(!environ.includes(key), 'key left in environ');
  },
);
