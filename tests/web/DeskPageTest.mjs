// The desk page in a real browser (Debian's chromium, driven by
// playwright-core) against the end-to-end tests' demo desk, which runs
// these too. Every expected value is read here from the demo's database or
// boards, never copied in.
import assert from 'node:assert/strict';
import { mkdirSync } from 'node:fs';
import { after, before, test } from 'node:test';
import { chromium } from 'playwright-core';
import { board, skip, sql, startDesk, stopDesk } from '../support/desk.mjs';

const build = process.env.ZELVORA_BUILD_DIR;
const amount = (text) => Number(text.replaceAll(',', ''));
let browser, page, origin;
const pageErrors = [];

before(async () => {
  if (skip) return;
  origin = await startDesk();
  browser = await chromium.launch({ executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium', args: ['--no-sandbox'] });
  page = await browser.newPage({ viewport: { width: 1280, height: 800 }, timezoneId: 'Asia/Tokyo', httpCredentials: { username: 'desk', password: 'demo' } });
  page.on('pageerror', (error) => pageErrors.push(error.message));
});

after(async () => {
  await browser?.close();
  stopDesk();
});

// The texts of a panel's table body, one array of cell texts a row.
const rows = (panel) => page.locator(`#${panel} tbody tr`).evaluateAll((trs) => trs.map((tr) => [...tr.cells].map((td) => td.textContent.trim())));
const status = (panel) => page.locator(`#${panel} .status`);

async function open(endpoint) {
  const started = Date.now();
  await page.goto(`${origin}/?endpoint=${endpoint}`);
  await page.locator('#offers tbody td.num').first().waitFor();
  return Date.now() - started;
}

// Waits until some offer's bid differs from `bids`.
const offersMove = (bids) => page.waitForFunction((before) => [...document.querySelectorAll('#offers tbody tr')].some((tr, i) => tr.cells[1].textContent !== before[i]), bids, { timeout: 3000 });

for (const endpoint of ['zelvora.cgi', 'zelvora.fcgi']) {
  test(`offers and accounts are the board's and the database's, and offers move (${endpoint})`, { skip }, async () => {
    console.log(`first offers ${await open(endpoint)} ms after the page was asked for (${endpoint})`);
    const offers = board('offer'), first = await rows('offers');
    assert.deepEqual(first.map((r) => [r[0], amount(r[3])]), offers.map((o) => [o.Symbol, Math.round(((o.Ask - o.Bid) / o.PointSize) * 10) / 10]));
    await offersMove(first.map((r) => r[1]));
    await page.locator('#accounts tbody td.num').first().waitFor();
    const expected = sql('SELECT AccountID, Balance, Equity, DayPL, UsedMargin, UsableMargin, GrossPL FROM `Account` ORDER BY AccountID');
    assert.deepEqual((await rows('accounts')).map((r) => [r[0], ...r.slice(1).map(amount)]), expected.map((r) => [r[0], ...r.slice(1).map(Number)]));
    const dayPL = await page.locator('#accounts tbody tr td:nth-child(4)').evaluateAll((tds) => tds.map((td) => td.className.includes('down')));
    assert.deepEqual(dayPL, expected.map((r) => Number(r[3]) < 0));
  });
}

test('the chart holds a candle for every bar on the board', { skip }, async () => {
  for (const period of ['M1', 'H1']) {
    await page.selectOption('#chart-period', period);
    const bars = board(`pricebar.${await page.inputValue('#chart-symbol')}${period}`).length;
    assert.ok(bars > 0);
    await page.waitForFunction((n) => document.getElementById('chart').dataset.candles === String(n), bars, { timeout: 5000 });
  }
});

test('trades and reports agree with the database, totals included', { skip }, async () => {
  const open = board('trade.1001');
  await page.locator('#open-trades tbody td').first().waitFor();
  assert.deepEqual((await rows('open-trades')).map((r) => r[0]), open.map((t) => t.TradeID));
  const closed = sql("SELECT TradeID, PL, DATE_FORMAT(OpenTime, '%Y/%m/%d %H:%i:%s') FROM `Trade` WHERE AccountID='1001' AND CloseOrderID!='' ORDER BY TradeID");
  await page.locator('#closed-trades tbody td').first().waitFor();
  assert.deepEqual((await rows('closed-trades')).map((r) => [r[0], amount(r[6]), r[8]]), closed.map((r) => [r[0], Number(r[1]), r[2]]));
  const total = await page.locator('#closed-trades tfoot td').nth(5).textContent();
  assert.equal(amount(total), Number(sql("SELECT SUM(PL) FROM `Trade` WHERE AccountID='1001' AND CloseOrderID!=''")[0][0]));
  await page.check('#report fieldset input[value="1"]');
  await page.click('#report button[type=submit]');
  const bySymbol = sql("SELECT Symbol, COUNT(*), SUM(PL) FROM `Trade` WHERE AccountID='1001' GROUP BY Symbol ORDER BY Symbol");
  await page.waitForFunction((n) => document.querySelectorAll('#report tbody tr').length === n, bySymbol.length);
  assert.deepEqual((await rows('report')).map((r) => [r[0], amount(r[1]), amount(r[2])]), bySymbol.map((r) => [r[0], Number(r[1]), Number(r[2])]));
});

test('a plan edited in the page is written, shows after a reload, and a refused one says so', { skip }, async () => {
  const value = String(process.pid % 1000) + '.25';
  await page.fill('#plans input[aria-label="EURUSD IP2"]', value);
  await page.click('#plans button');
  await status('plans').filter({ hasText: 'answered "ok"' }).waitFor();
  assert.deepEqual(sql("SELECT IP2, upd_user_id FROM `ImplPlan` WHERE AccountID='1001' AND Symbol='EURUSD'"), [[value, 'desk-page']]);
  await page.reload();
  await page.waitForFunction((v) => document.querySelector('#plans input[aria-label="EURUSD IP2"]')?.value === v, value);
  // The column holds 64 characters: the program's transaction fails and it answers its banner.
  await page.fill('#plans input[aria-label="EURUSD IP1"]', '9'.repeat(70));
  await page.click('#plans button');
  await status('plans').filter({ hasText: 'Nothing was saved. The server could not answer this request.' }).waitFor();
  assert.equal(sql("SELECT IP2 FROM `ImplPlan` WHERE AccountID='1001' AND Symbol='EURUSD'")[0][0], value);
});

test('every kind of failed answer is shown in its own panel only', { skip }, async () => {
  const answers = { getOpenTradeA: 'Zelvora 1.0 - foreign-exchange desk service\n', getImplPlan: '[{"Symbol":"EUR', getClosedTrade: '', getAccount: null };
  await page.route(/\/zelvora\.f?cgi$/, (route) => {
    const method = /<method>(\w+)</.exec(route.request().postData())[1];
    if (!(method in answers)) return route.continue();
    return answers[method] === null ? route.abort('connectionrefused') : route.fulfill({ body: answers[method] });
  });
  await page.reload();
  const expected = { 'open-trades': 'could not answer', plans: 'not valid JSON', 'closed-trades': 'empty answer', accounts: 'cannot be reached' };
  for (const [panel, text] of Object.entries(expected)) await status(panel).filter({ hasText: text }).waitFor({ timeout: 15000 });
  await page.locator('#offers tbody td.num').first().waitFor();
  assert.equal(await page.locator('#offers .status').textContent(), '');
  await page.unroute(/\/zelvora\.f?cgi$/);
  await page.route(/\/zelvora\.f?cgi$/, (route) => (route.request().postData().includes('getOffer') ? route.fulfill({ body: '{"status":1, "data":[]}' }) : route.continue()));
  await status('offers').filter({ hasText: 'The offer board is gone' }).waitFor();
  await page.unroute(/\/zelvora\.f?cgi$/);
});

test('the page fits a desk screen and a phone, and no script of it fails', { skip }, async () => {
  mkdirSync(`${build}/screenshots`, { recursive: true });
  for (const [width, height] of [[1280, 800], [390, 844]]) {
    await page.setViewportSize({ width, height });
    await page.reload();
    await page.locator('#chart[data-candles]').waitFor();
    assert.ok(await page.evaluate((w) => document.documentElement.scrollWidth <= w, width), `nothing wider than ${width} pixels`);
    await page.screenshot({ path: `${build}/screenshots/desk-${width}.png`, fullPage: width > 400 });
  }
  assert.deepEqual(pageErrors, [], 'no script of the page failed');
});
