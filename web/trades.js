// Open trades (with each trade's strategy, from getOpenTradeA; streamed
// while the account's trade board is live, with the strategies last asked
// for) and closed trades within a date range, each with totals of money. Amounts are not
// totalled: buys and sells do not add up.
import { ask, confirmEmpty, records } from './api.js';
import config from './config.js';
import { dateParam, deskTime, moneyDigits, number, zone } from './format.js';
import { knowPointSizes, onSymbols, pointSizes, price } from './offers.js';
import * as stream from './stream.js';
import { accountSelect, el, moneyColumn, panel, poll, table } from './ui.js';

const rate = (key, label) => ({
  key,
  label,
  num: true,
  text: (row) => price(row.Symbol, row[key]),
});
const time = (key, label) => ({
  key,
  label: `${label} (${zone})`,
  text: (row) => deskTime(row[key]),
});
const kTrade = [
  { key: 'TradeID', label: 'Trade' },
  { key: 'Symbol', label: 'Symbol' },
  { key: 'BS', label: 'B/S' },
  { key: 'Amount', label: 'Amount', num: true, text: (row) => number(row.Amount, 0) },
  rate('Open', 'Open'),
];
const profit = (account) => [
  moneyColumn('PL', 'P/L', moneyDigits(account)),
  moneyColumn('GrossPL', 'Gross P/L', moneyDigits(account)),
];

function openTrades() {
  const open = panel('open-trades'),
    account = accountSelect('open-account');
  open.root.querySelector('.controls').append(el('label', {}, 'Account ', account));
  const strategy = new Map(); // trade → its strategy's name, as last asked for
  const present = (view, asked, trades) => {
    const rows = trades.map((trade) => ({
      ...trade,
      strategy: strategy.get(trade.TradeID) ?? '',
    }));
    view.show(
      table(
        [
          ...kTrade,
          ...profit(asked),
          time('OpenTime', 'Opened'),
          { key: 'strategy', label: 'Strategy' },
        ],
        rows,
        { caption: `Account ${asked}`, empty: 'No open trades.' },
      ),
    );
  };
  const topic = () => `trades:${account.value}`;
  const streamed = new Map(); // topic → its last streamed trades (one topic for each account shown)
  // The trades of the answer, or the streamed ones when a streamed record
  // came since it was asked for: an older answer never replaces them.
  const load = () =>
    open.run(async (view) => {
      const asked = account.value,
        before = stream.mark(topic());
      const answer = await ask('getOpenTradeA', { accountid: asked }, { signal: view.signal });
      await knowPointSizes(view.signal);
      const trades = records(answer, 'Open trades');
      for (const trade of trades) strategy.set(trade.TradeID, '');
      for (const c of answer.data2 ?? []) strategy.set(c.TradeID, c.TradeMethodName);
      if (!stream.stale(topic(), before)) present(view, asked, trades);
      else if (stream.live(topic())) present(view, asked, streamed.get(topic()) ?? []);
    });
  // The strategies of streamed trades not known yet, asked for once each and
  // beside the panel's runs, so that no later event or poll cancels them; on
  // failure the column stays empty for those trades.
  const learn = async (asked) => {
    try {
      const answer = await ask('getOpenTradeA', { accountid: asked });
      for (const c of answer?.data2 ?? []) strategy.set(c.TradeID, c.TradeMethodName);
    } catch {
      return;
    }
    const trades = streamed.get(`trades:${asked}`);
    if (asked === account.value && stream.live(topic()) && trades)
      open.draw((view) => present(view, asked, trades));
  };
  stream.listen((type, data) => {
    if (!data?.topic.startsWith('trades:')) return;
    streamed.set(data.topic, data.records);
    if (data.topic !== topic()) return;
    const asked = account.value;
    open.draw((view) => present(view, asked, data.records));
    const unknown = data.records.filter((trade) => !strategy.has(trade.TradeID));
    if (!unknown.length) return;
    for (const trade of unknown) strategy.set(trade.TradeID, '');
    learn(asked);
  });
  account.addEventListener('change', () => {
    open.clear();
    load();
  });
  poll(config.openTradePollMs, () => stream.live(topic()) || load());
}

function closedTrades() {
  const closed = panel('closed-trades'),
    account = accountSelect('closed-account');
  // The program bounds the opening time from below and the closing time from above.
  const from = el('input', { type: 'date', id: 'closed-from' }),
    to = el('input', { type: 'date', id: 'closed-to' });
  const show = el('button', { type: 'submit' }, 'Show');
  const form = el(
    'form',
    {},
    el('label', {}, 'Account ', account),
    el('label', {}, `Opened from (${zone}) `, from),
    el('label', {}, `Closed by (${zone}) `, to),
    show,
  );
  closed.root.querySelector('.controls').append(form);
  let unsized = false; // the table shown was drawn before any point size was known
  const load = () =>
    closed.run(async (view) => {
      const asked = account.value;
      const rows = await ask(
        'getClosedTrade',
        { accountid: asked, startdate: dateParam(from.value), enddate: dateParam(to.value, true) },
        { signal: view.signal },
      );
      if (!Array.isArray(rows)) throw new TypeError('getClosedTrade: not a list');
      if (!rows.length) await confirmEmpty(asked, 'Closed trades', view.signal);
      await knowPointSizes(view.signal);
      if (
        !view.show(
          table(
            [
              ...kTrade,
              rate('Close', 'Close'),
              ...profit(asked),
              time('OpenTime', 'Opened'),
              time('CloseTime', 'Closed'),
            ],
            rows,
            { caption: `Account ${asked}`, empty: 'No closed trades in this range.' },
          ),
        )
      )
        return;
      unsized = !pointSizes.size;
    });
  // Asked again, once, when the offers bring the point sizes.
  onSymbols(() => {
    if (!unsized || !pointSizes.size) return;
    unsized = false;
    load();
  });
  account.addEventListener('change', () => {
    closed.clear();
    load();
  });
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    load();
  });
  load();
}

export function start() {
  openTrades();
  closedTrades();
}
