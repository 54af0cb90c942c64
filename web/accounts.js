// Accounts: each of the desk's accounts with its balances, from the
// account boards (or the table when a board cannot be read).
import { ask } from './api.js';
import config from './config.js';
import { moneyDigits, number } from './format.js';
import { panel, poll, table } from './ui.js';

// No totals: the accounts may keep different currencies. Each row's money
// in its account's digits.
const money = (key, label, sign = false) => ({ key, label, num: true, sign, text: (row) => number(row[key], moneyDigits(row.AccountID)) });

const kColumns = [
  { key: 'AccountID', label: 'Account' },
  money('Balance', 'Balance'), money('Equity', 'Equity'), money('DayPL', 'Day P/L', true),
  money('UsedMargin', 'Used margin'), money('UsableMargin', 'Usable margin'), money('GrossPL', 'Gross P/L', true),
];

export function start() {
  const accounts = panel('accounts');
  poll(config.accountPollMs, () => accounts.run(async (view) => {
    const answer = await ask('getAccount', { accountid: config.accounts }, { signal: view.signal });
    if (!Array.isArray(answer)) throw new TypeError('getAccount: not a list');
    const found = new Map(answer.filter((a) => a && a.status === 0 && a.data).map((a) => [String(a.data.AccountID), a.data]));
    const rows = config.accounts.map((id) => found.get(id) ?? { AccountID: id, missing: true });
    view.show(table(kColumns, rows, { rowClass: (row) => (row.missing ? 'missing' : '') }));
    const missing = rows.filter((row) => row.missing).map((row) => row.AccountID);
    if (missing.length) view.say(`No data for account ${missing.join(', ')}.`, 'warn');
  }));
}
