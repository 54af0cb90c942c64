// The desk page in a real browser (Debian's chromium, driven by
// playwright-core) against the end-to-end tests' demo desk, which runs
// these too. Every expected value is read here from the demo's database or
// boards, never copied in, but for the desk's zone (`zone`). The browser
// runs in a zone with daylight saving other than the desk's, so that only
// times shown in the desk's zone pass.
import assert from 'node:assert/strict';
import { after, afterEach, before } from 'node:test';
import { chromium } from 'playwright-core';
import config from '../../web/config.js';
import {
  board,
  it,
  plan,
  skip,
  sql,
  startDesk,
  stillOffers,
  stopDesk,
  writeBoard,
} from '../support/desk.mjs';

// The zone the desk and its page are configured with.
const zone = 'Asia/Tokyo';
const amount = (text) => Number(text.replaceAll(',', ''));
let browser, page, origin;
const pageErrors = [],
  violations = [];

// A page signed in as the desk in the browser's zone `zone`, whose failed scripts and refusals by the
// Content-Security-Policy are kept.
async function newPage(zone = 'Europe/London') {
  const opened = await browser.newPage({
    timezoneId: zone,
    httpCredentials: { username: 'desk', password: 'demo' },
  });
  opened.on('pageerror', (error) => pageErrors.push(error.message));
  opened.on(
    'console',
    (message) =>
      message.text().includes('Content Security Policy') && violations.push(message.text()),
  );
  return opened;
}

before(async () => {
  if (skip) return;
  origin = await startDesk();
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    args: ['--no-sandbox'],
    env: { ...process.env, TZ: 'Europe/London' },
  });
  page = await newPage();
});

after(async () => {
  await browser?.close();
  stopDesk();
});

// A test that fails leaves none of its routes to the next.
afterEach(() => page?.unrouteAll({ behavior: 'ignoreErrors' }));
const program = /\/zelvora\.f?cgi$/;
// The program's requests whose body matches `pattern` handled by `handle`, the others let through.
const answer = (pattern, handle, on = page) =>
  on.route(program, (route) =>
    pattern.test(route.request().postData()) ? handle(route) : route.fallback(),
  );
const fail = (route) => route.fulfill({ body: 'Zelvora 1.0\n' });
// The page without the stream, polling the program as it did before.
const polling = () => page.route('**/stream/**', (route) => route.abort());
// The page's settings with `changes`.
const configure = (changes, on = page) =>
  on.route('**/config.js', (route) =>
    route.fulfill({
      contentType: 'text/javascript',
      body: `export default ${JSON.stringify({ ...config, ...changes })};`,
    }),
  );

// The texts of a panel's table body, one array of cell texts a row.
const rows = (panel) =>
  page
    .locator(`#${panel} tbody tr`)
    .evaluateAll((trs) => trs.map((tr) => [...tr.cells].map((td) => td.textContent.trim())));
const status = (panel, text) =>
  page.locator(`#${panel} .status`).filter({ hasText: text }).waitFor({ timeout: 15000 });
const waitFor = (selector) => page.locator(selector).first().waitFor({ timeout: 5000 });

async function open(endpoint) {
  await page.goto(`${origin}/?endpoint=${endpoint}`);
  await waitFor('#offers tbody td.num');
}

// Holds the requests whose body matches `pattern` until the returned function is called, which
// lets them go on and waits until each has been answered or has failed.
async function hold(pattern) {
  let release;
  const held = new Promise((resolve) => (release = resolve)),
    waiting = [];
  await answer(pattern, (route) =>
    waiting.push(
      held
        .then(() => route.continue())
        .then(() => route.request().response())
        .then((response) => response?.finished())
        .catch(() => {
          /* dropped by the page */
        }),
    ),
  );
  return async () => {
    release();
    await Promise.all(waiting);
    await page.unroute(program);
  };
}

// Through the worker pool here (?endpoint=), through the CGI program where the server stops answering.
it("offers and accounts are the board's and the database's, and offers move", async () => {
  await open('zelvora.fcgi');
  const first = await rows('offers');
  assert.deepEqual(
    first.map((r) => [r[0], amount(r[3])]),
    board('offer').map((o) => [o.Symbol, Math.round(((o.Ask - o.Bid) / o.PointSize) * 10) / 10]),
  );
  // Some offer's bid moves.
  await page.waitForFunction(
    (before) =>
      [...document.querySelectorAll('#offers tbody tr')].some(
        (tr, i) => tr.cells[1].textContent !== before[i],
      ),
    first.map((r) => r[1]),
    { timeout: 3000 },
  );
  await waitFor('#accounts tbody td.num');
  assert.deepEqual(
    (await rows('accounts')).map((r) => [r[0], ...r.slice(1).map(amount)]),
    sql(
      'SELECT AccountID, Balance, Equity, DayPL, UsedMargin, UsableMargin, GrossPL FROM `Account` ORDER BY AccountID',
    ).map((r) => [r[0], ...r.slice(1).map(Number)]),
    "the accounts' figures",
  );
});

it('the chart holds a candle for every bar on the board', async () => {
  await polling(); // the streamed offers would add a candle of their own
  await page.reload();
  // Hourly bars: the feeder does not add one while the test runs.
  await page.selectOption('#chart-period', 'H1');
  const symbol = await page.inputValue('#chart-symbol'),
    bars = board(`pricebar.${symbol}H1`).length,
    [first, last] = sql(
      `SELECT DATE_FORMAT(MIN(StartDate), '%Y/%m/%d %H:%i:%s'), DATE_FORMAT(MAX(StartDate), '%Y/%m/%d %H:%i:%s') FROM \`PriceBar\` WHERE Symbol='${symbol}' AND Period='H1'`,
    )[0];
  assert.ok(bars > 0);
  // The chart's times are the desk's.
  await waitFor(
    `#chart[data-candles="${bars}"] .chart-area[aria-label*="${first} to ${last} (${zone})"]`,
  );
  // A change of period whose bars cannot be had.
  await answer(/getPriceBar/, fail);
  await page.selectOption('#chart-period', 'M5');
  await waitFor('#chart[data-failure="banner"][data-candles="0"]');
  assert.equal(
    await page.getAttribute('#chart .chart-area', 'aria-label'),
    'Candlestick chart',
    "a failed change leaves nothing of the last selection's candles",
  );
});

it('trades and reports agree with the database, totals included', async () => {
  await waitFor('#open-trades tbody td');
  assert.deepEqual(
    (await rows('open-trades')).map((r) => r[0]),
    board('trade.1001').map((t) => t.TradeID),
  );
  await waitFor('#closed-trades tbody td');
  const foot = await page.locator('#closed-trades tfoot td').allTextContents(),
    closed = sql(
      "SELECT TradeID, PL, DATE_FORMAT(OpenTime, '%Y/%m/%d %H:%i:%s'), Symbol, Open FROM `Trade` WHERE AccountID='1001' AND CloseOrderID!='' ORDER BY TradeID",
    ),
    // A price shows one digit past its symbol's point size.
    size = new Map(board('offer').map((o) => [o.Symbol, o.PointSize]));
  assert.deepEqual(
    [
      (await rows('closed-trades')).map((r) => [r[0], amount(r[6]), r[8], r[4]]),
      (await page.locator('#closed-trades thead th').nth(8).textContent()).includes(zone),
      foot[2],
      amount(foot[5]),
    ],
    [
      closed.map(([id, pl, time, symbol, open]) => [
        id,
        Number(pl),
        time,
        Number(open).toFixed(Math.round(1 - Math.log10(size.get(symbol)))),
      ]),
      true,
      '',
      Math.round(closed.reduce((total, r) => total + r[1] * 100, 0)) / 100,
    ],
    'closed trades, times naming their zone, buys and sells not totalled together, the P/L total',
  );
  const run = () => page.click('#report button[type=submit]');
  await page.check('#report fieldset input[value="1"]');
  await run();
  const bySymbol = sql(
    "SELECT Symbol, COUNT(*), SUM(PL) FROM `Trade` WHERE AccountID='1001' GROUP BY Symbol ORDER BY Symbol",
  );
  await waitFor(`#report tbody tr:nth-child(${bySymbol.length}):last-child`);
  assert.deepEqual(
    (await rows('report')).map((r) => [r[0], amount(r[1]), amount(r[2])]),
    bySymbol.map((r) => [r[0], Number(r[1]), Number(r[2])]),
  );
  // A P/L the browser cannot read is refused, not left out of the filters.
  await page.locator('#report-frompl').pressSequentially('1e');
  await run();
  await status('report', 'P/L from');
  await page.fill('#report-frompl', '');
  // The type chosen when Run is pressed sets the columns, whatever it is when the answer comes.
  const release = await hold(/getReport/);
  await run();
  await page.selectOption('#report-type', '2');
  await release();
  await waitFor('#report .content:not(.old) thead');
  assert.deepEqual(
    await page.locator('#report thead th').allTextContents(),
    ['Symbol', 'Trades', 'P/L', 'Gross P/L'],
    'a report of totals keeps its columns',
  );
});

it("times and chart labels follow a desk zone's daylight saving, whatever the browser's", async () => {
  // For each desk zone: the program's UTC time and the desk's clock, on both sides of the spring change and
  // in the hour the desk's clock shows twice (two bars there); then a period, whose clock the feeder's bars
  // follow, the last candle's start, a tick, and the start of the candle the tick lands in (UTC): a daily
  // candle ends at the desk's next midnight on the 23-hour day (at 01:00 where the clocks skip midnight);
  // UTC's days and an hour (the longest period counted in seconds) stay fixed lengths; a tick a thousand
  // periods on. The browser is in a third zone. Every time is of 2026.
  for (const [zone, times, periods] of [
    [
      'Europe/London',
      [
        ['03/29 00:59:59', '03/29 00:59:59'],
        ['03/29 01:00:00', '03/29 02:00:00'],
        ['10/25 00:30:00', '10/25 01:30:00'],
        ['10/25 01:30:00', '10/25 01:30:00'],
      ],
      [
        [86400, 'desk', '03/29 00:00:00', '03/29 23:30:00', '03/29 23:00:00'],
        [86400, 'utc', '10/25 00:00:00', '10/26 00:30:00', '10/26 00:00:00'],
        [14400, 'desk', '10/24 23:00:00', '10/25 03:30:00', '10/24 23:00:00'],
        [3600, 'desk', '10/25 00:00:00', '10/25 01:10:00', '10/25 01:00:00'],
        [60, 'desk', '10/20 00:00:00', '10/21 09:20:30', '10/21 09:20:00'],
      ],
    ],
    [
      'America/Santiago',
      [
        ['09/06 03:59:59', '09/05 23:59:59'],
        ['09/06 04:00:00', '09/06 01:00:00'],
      ],
      [[86400, 'desk', '09/05 04:00:00', '09/06 04:30:00', '09/06 04:00:00']],
    ],
    ['Europe/Nowhere', [], []], // unknown to the browser: the page runs on and says so
  ]) {
    const year = (time) => `2026/${time}`;
    const other = await newPage('America/New_York');
    try {
      await configure({ timeZone: zone }, other);
      await other.goto(origin);
      const shown = await other.evaluate(
        async ([texts, rows]) => {
          const [{ deskTime, utcSeconds }, { candleAfter, candles, tickLabel }] = await Promise.all(
            [import('./format.js'), import('./chart.js')],
          );
          return [
            candles(
              texts.map((StartDate) => ({ StartDate })),
              'Bid',
            ).map((bar) => [deskTime(bar.start), tickLabel(bar.time, 4), tickLabel(bar.time, 2)]),
            rows.map(
              ([seconds, clock, last, tick]) =>
                candleAfter(
                  { time: utcSeconds(last), start: last, high: 1, low: 1 },
                  utcSeconds(tick),
                  1,
                  seconds,
                  clock,
                ).start,
            ),
            document.querySelectorAll('header [role=alert]').length,
          ];
        },
        [
          times.map((c) => year(c[0])),
          periods.map(([seconds, clock, ...row]) => [seconds, clock, ...row.map(year)]),
        ],
      );
      assert.deepEqual(
        shown,
        [
          times.map(([, clock]) => [year(clock), clock.slice(6), clock.slice(0, 5)]),
          periods.map((row) => year(row[4])),
          times.length ? 0 : 1,
        ],
        `desk zone ${zone}: times, candles, and a warning only for a zone the browser does not know`,
      );
    } finally {
      await other.close();
    }
  }
});

it('a plan edited in the page is written, shows after a reload, and a refused one says so', async () => {
  const values = [0.25, 0.5].map((fraction) => String((process.pid % 1000) + fraction)),
    field = '#plans input[aria-label="EURUSD IP2"]',
    saved = () => plan(1001, 'IP2')[0];
  await page.fill(field, values[1]);
  await page.click('#plans-save');
  await status('plans', 'Saved 1 plan of account 1001: the server answered "ok"');
  assert.deepEqual(saved(), [values[1], 'desk']);
  await page.reload();
  await page.waitForFunction(
    (v) => document.querySelector('#plans input[aria-label="EURUSD IP2"]')?.value === v,
    values[1],
  );
  // The column holds 64 characters: the program's transaction fails and it answers its banner.
  await page.fill('#plans input[aria-label="EURUSD IP1"]', '9'.repeat(70));
  await page.click('#plans-save');
  await status(
    'plans',
    'Nothing was saved to account 1001. The server could not answer this request.',
  );
  assert.equal(saved()[0], values[1]);
  // A write on its way when the account changes is heard out, and its outcome names the account.
  await page.reload();
  await page.fill(field, values[0]);
  const release = await hold(/setImplPlan/);
  await page.click('#plans-save');
  await page.selectOption('#plans-account', '1002');
  await waitFor('#plans caption >> text=Account 1002');
  await release();
  await status('plans', 'Saved 1 plan of account 1001');
  assert.equal(saved()[0], values[0]);
});

it('a late answer never lands under another selection, and plans in the balance cannot be saved', async () => {
  let release = await hold(/(getOpenTradeA|getImplPlan)<.*<accountid>1001</);
  await page.reload();
  for (const select of ['#open-account', '#plans-account']) await page.selectOption(select, '1002');
  const captions = page.locator('#open-trades caption, #plans caption');
  await captions.nth(1).waitFor();
  await release();
  assert.deepEqual(
    await captions.allTextContents(),
    ['Account 1002', 'Account 1002'],
    "account 1001's late answers are not drawn under 1002",
  );
  const symbol = await page.locator('#plans tbody th').first().textContent(),
    field = `#plans input[aria-label="${symbol} IP3"]`;
  await page.fill(field, '7');
  await page.selectOption('#plans-account', '1001');
  assert.deepEqual(
    [await page.inputValue('#plans-account'), await page.inputValue(field)],
    ['1002', '7'],
    'unsaved edits stay until they are discarded',
  );
  release = await hold(/getImplPlan<.*<accountid>1001</);
  await page.click('#plans-discard');
  assert.deepEqual(
    [await page.locator('#plans input').count(), await page.locator('#plans-save').isDisabled()],
    [0, true],
    "1002's plans are not left to be saved as 1001's",
  );
  await release();
});

it('a server that stops answering turns offers stale and says why', async () => {
  // The desk's timings, shortened: what is stale or late is the same at any scale.
  const quick = { staleSeconds: 2, requestTimeoutMs: 3000 };
  await configure(quick);
  await polling();
  await open('zelvora.cgi');
  const hung = [];
  let answers = 0;
  const behind = async (route) => {
    const response = await route.fetch(),
      answer = await response.json();
    for (const offer of answer.data) offer.Time = `2020/01/01 00:00:0${++answers % 2}`;
    return route.fulfill({ response, body: JSON.stringify(answer) });
  };
  // Each row: what the server does with getOffer, and what the panel says.
  for (const [server, said] of [
    [(route) => route.abort('connectionrefused'), 'cannot be reached'],
    [behind, 'No offer has moved'], // a board going back and forth in time does not move
    [(route) => hung.push(route), 'not answering'],
  ]) {
    // Offers fresh again, and nothing said.
    await page
      .locator('#offers:not(:has(tr.stale)) .status:empty')
      .waitFor({ state: 'attached', timeout: quick.requestTimeoutMs });
    await answer(/getOffer/, server);
    // Every offer stale, and the panel says why.
    await page
      .locator('#offers:not(:has(tbody tr:not(.stale))) tbody tr.stale')
      .first()
      .waitFor({ timeout: 1000 * quick.staleSeconds + quick.requestTimeoutMs });
    await status('offers', said);
    await page.unroute(program);
    for (const route of hung.splice(0))
      await route.continue().catch(() => {
        /* timed out by the page */
      });
  }
  await page.unroute('**/config.js');
  await open('zelvora.cgi');
});

// The offer board with EURUSD's bid at `bid` at `seconds` (UTC); the page showing that bid within a second.
const tick = (seconds, bid) => {
  const Time = new Date(seconds * 1e3)
    .toISOString()
    .replace('T', ' ')
    .replaceAll('-', '/')
    .slice(0, 19);
  writeBoard(
    'offer',
    board('offer').map((o) => (o.Symbol === 'EURUSD' ? { ...o, Bid: bid, Time } : o)),
  );
  return page
    .locator('#offers tbody tr:first-child', { hasText: bid.toFixed(5) })
    .waitFor({ timeout: 1000 });
};
const chartEnd = () => page.locator('#chart').evaluate((c) => [c.dataset.candles, c.dataset.close]);

// Without the stream the page polls: the stale offers' test runs without it.
it('offers and the chart follow the stream', () =>
  stillOffers(async () => {
    await page.goto(origin);
    await waitFor('#feed >> text=live');
    const minute = (Math.floor(Date.now() / 60000) + 2) * 60; // after every bar and tick so far
    await tick(minute + 5, 1.11111);
    const [candles] = await chartEnd();
    // Each row: a tick (seconds from that minute, bid), and the candles it adds and the last close after it.
    for (const [what, seconds, bid, added, close] of [
      ['a tick of the same period moves the last candle', 30, 1.12222, 0, 1.12222],
      ['a tick of the next period starts a candle', 65, 1.13333, 1, 1.13333],
      ['a tick of a closed period is not folded in', 10, 1.14444, 1, 1.13333],
    ]) {
      await tick(minute + seconds, bid).catch(() => bid === close && assert.fail(what));
      assert.deepEqual(await chartEnd(), [String(+candles + added), String(close)], what);
    }
    // Bars written anew redraw the chart: the candles of both ticks' periods stay.
    const bars = board('pricebar.EURUSDM1');
    writeBoard('pricebar.EURUSDM1', [...bars.slice(0, -1), { ...bars.at(-1), BidClose: 1.1 }]);
    await page.waitForTimeout(1500);
    assert.deepEqual(await chartEnd(), [String(+candles + 1), '1.13333'], 'a redraw');
  }));

// Run last, over every page the tests opened. The page runs under its own origin's policy (the security
// headers' test checks it byte for byte).
it('no script of the page failed, and the policy refused nothing the page does', () =>
  assert.deepEqual([pageErrors, violations], [[], []]));
