// Accounts: each account the caller may read with its balances, from the
// account boards (or the table when a board cannot be read): streamed, or
// polled while an account's topic is not live.
import { me } from './access.js';
import { ask } from './api.js';
import config from './config.js';
import { moneyDigits, number } from './format.js';
import * as stream from './stream.js';
import { panel, poll, table } from './ui.js';

// No totals: the accounts may keep different currencies. Each row's money
// in its account's digits.
const money = (key, label, sign = false) => ({
  key,
  label,
  num: true,
  sign,
  text: (row) => number(row[key], moneyDigits(row.AccountID)),
});

const kColumns = [
  { key: 'AccountID', label: 'Account' },
  money('Balance', 'Balance'),
  money('Equity', 'Equity'),
  money('DayPL', 'Day P/L', true),
  money('UsedMargin', 'Used margin'),
  money('UsableMargin', 'Usable margin'),
  money('GrossPL', 'Gross P/L', true),
];

// The program serves at most MAX_REQUEST_IDS accounts a request (100 unless
// the desk lowers it); a caller who may read every account may read more.
const kPerRequest = 100;

async function balances(ids, signal) {
  const asked = [];
  for (let i = 0; i < ids.length; i += kPerRequest)
    asked.push(ask('getAccount', { accountid: ids.slice(i, i + kPerRequest) }, { signal }));
  const answers = await Promise.all(asked);
  if (!answers.every(Array.isArray)) throw new TypeError('getAccount: not a list');
  return answers.flat();
}

const topic = (id) => `account:${id}`;

export function start() {
  const accounts = panel('accounts');
  const found = new Map(); // account → its record, streamed or answered
  const present = (view) => {
    const rows = me.read.map((id) => found.get(id) ?? { AccountID: id, missing: true });
    view.show(table(kColumns, rows, { rowClass: (row) => (row.missing ? 'missing' : '') }));
    const missing = rows.filter((row) => row.missing).map((row) => row.AccountID);
    if (missing.length) view.say(`No data for account ${missing.join(', ')}.`, 'warn');
  };
  stream.listen((type, data) => {
    const id = data?.topic.startsWith('account:') && data.topic.slice(8);
    if (!id || !me.read.includes(id)) return;
    if (data.records.length) found.set(id, data.records.at(-1));
    else found.delete(id);
    accounts.draw(present);
  });
  poll(config.accountPollMs, async () => {
    const polled = me.read.filter((id) => !stream.live(topic(id)));
    if (!polled.length) return;
    await accounts.run(async (view) => {
      const before = polled.map((id) => stream.mark(topic(id)));
      const answer = await balances(polled, view.signal);
      const answered = new Map(
        answer
          .filter((a) => a && a.status === 0 && a.data)
          .map((a) => [String(a.data.AccountID), a.data]),
      );
      polled.forEach((id, i) => {
        if (stream.stale(topic(id), before[i])) return;
        if (answered.has(id)) found.set(id, answered.get(id));
        else found.delete(id);
      });
      present(view);
    });
  });
}
