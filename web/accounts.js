// Accounts: each account the caller may read with its balances, from the
// account boards (or the table when a board cannot be read).
import { me } from './access.js';
import { ask } from './api.js';
import config from './config.js';
import { moneyDigits, number } from './format.js';
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

async function balances(signal) {
  const asked = [];
  for (let i = 0; i < me.read.length; i += kPerRequest)
    asked.push(ask('getAccount', { accountid: me.read.slice(i, i + kPerRequest) }, { signal }));
  const answers = await Promise.all(asked);
  if (!answers.every(Array.isArray)) throw new TypeError('getAccount: not a list');
  return answers.flat();
}

export function start() {
  const accounts = panel('accounts');
  poll(config.accountPollMs, () =>
    accounts.run(async (view) => {
      const answer = await balances(view.signal);
      const found = new Map(
        answer
          .filter((a) => a && a.status === 0 && a.data)
          .map((a) => [String(a.data.AccountID), a.data]),
      );
      const rows = me.read.map((id) => found.get(id) ?? { AccountID: id, missing: true });
      view.show(table(kColumns, rows, { rowClass: (row) => (row.missing ? 'missing' : '') }));
      const missing = rows.filter((row) => row.missing).map((row) => row.AccountID);
      if (missing.length) view.say(`No data for account ${missing.join(', ')}.`, 'warn');
    }),
  );
}
