// Open trades (with each trade's strategy, from getOpenTradeA) and closed
// trades within a date range, each with totals.
import { ask, confirmEmpty, records } from './api.js';
import { dateParam, localTime, number } from './format.js';
import { accountSelect, el, panel, poll, table } from './ui.js';

// Quotes of yen pairs run to three decimals, the others to five.
const price = (key, label) => ({ key, label, num: true, text: (row) => number(row[key], Math.abs(row[key]) >= 20 ? 3 : 5) });
const money = (key, label) => ({ key, label, num: true, sign: true, total: true, text: (row) => number(row[key]) });
const kTrade = [
  { key: 'TradeID', label: 'Trade' }, { key: 'Symbol', label: 'Symbol' }, { key: 'BS', label: 'B/S' },
  { key: 'Amount', label: 'Amount', num: true, total: true, digits: 0, text: (row) => number(row.Amount, 0) },
  price('Open', 'Open'),
];
const opened = { key: 'OpenTime', label: 'Opened', text: (row) => localTime(row.OpenTime) };

function openTrades() {
  const open = panel('open-trades'), account = accountSelect('open-account');
  open.root.querySelector('.controls').append(el('label', {}, 'Account ', account));
  const load = () => open.run(async () => {
    const answer = await ask('getOpenTradeA', { accountid: account.value });
    const strategy = new Map((answer.data2 ?? []).map((c) => [c.TradeID, c.TradeMethodName]));
    const rows = records(answer, 'Open trades').map((trade) => ({ ...trade, strategy: strategy.get(trade.TradeID) ?? '' }));
    open.show(table([...kTrade, money('PL', 'P/L'), money('GrossPL', 'Gross P/L'), opened, { key: 'strategy', label: 'Strategy' }], rows, { empty: 'No open trades.' }));
  });
  account.addEventListener('change', load);
  poll(5000, load);
}

function closedTrades() {
  const closed = panel('closed-trades'), account = accountSelect('closed-account');
  const from = el('input', { type: 'date', id: 'closed-from' }), to = el('input', { type: 'date', id: 'closed-to' });
  const show = el('button', { type: 'submit' }, 'Show');
  const form = el('form', {}, el('label', {}, 'Account ', account), el('label', {}, 'From ', from), el('label', {}, 'To ', to), show);
  closed.root.querySelector('.controls').append(form);
  const load = () => closed.run(async () => {
    const rows = await ask('getClosedTrade', { accountid: account.value, startdate: dateParam(from.value), enddate: dateParam(to.value, true) });
    if (!Array.isArray(rows)) throw new TypeError('getClosedTrade: not a list');
    if (!rows.length) await confirmEmpty(account.value, 'Closed trades');
    closed.show(table([...kTrade, price('Close', 'Close'),
      money('PL', 'P/L'), money('GrossPL', 'Gross P/L'), opened, { key: 'CloseTime', label: 'Closed', text: (row) => localTime(row.CloseTime) }], rows, { empty: 'No closed trades in this range.' }));
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
