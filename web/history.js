// Plan history: the changes of an account's plans (or of one symbol's), newest
// first, each with its time, who made it and every value it changed. Asked
// again after each save of the account shown.
import { ask, records } from './api.js';
import { deskTime, zone } from './format.js';
import { onSaved } from './plans.js';
import { accountSelect, el, panel, table } from './ui.js';

const kLimit = 50;

// "IP2 1.25 → 1.5" for each value a change set, in the values' order.
function changes(row) {
  const before = row.Old ?? {},
    after = row.New ?? {};
  const fields = [...new Set([...Object.keys(before), ...Object.keys(after)])].sort((a, b) =>
    a.localeCompare(b, 'en', { numeric: true }),
  );
  if (!fields.length) return 'No value changed.';
  const value = (v) => (v === undefined || v === '' ? '(none)' : String(v));
  return fields.map((field) =>
    el('div', {}, `${field} ${value(before[field])} → ${value(after[field])}`),
  );
}

const kColumns = [
  { key: 'ChangedAt', label: `Changed (${zone})`, text: (row) => deskTime(row.ChangedAt) },
  { key: 'ChangedBy', label: 'By' },
  { key: 'Symbol', label: 'Symbol' },
  { key: 'changes', label: 'Old → new', text: changes },
];

export function start() {
  const history = panel('history'),
    account = accountSelect('history-account');
  const symbol = el('input', { id: 'history-symbol', size: 8, placeholder: 'every symbol' });
  const form = el(
    'form',
    {},
    el('label', {}, 'Account ', account),
    el('label', {}, 'Symbol ', symbol),
    el('button', { type: 'submit' }, 'Show'),
  );
  history.root.querySelector('.controls').append(form);
  const load = () =>
    history.run(
      async (view) => {
        const asked = account.value,
          only = symbol.value.trim();
        const rows = records(
          await ask(
            'getPlanHistory',
            { accountid: asked, symbol: only || undefined, limit: String(kLimit) },
            { signal: view.signal },
          ),
          'Plan history',
        );
        const named = `${asked}${only ? `, ${only}` : ''}`;
        view.show(
          table(kColumns, rows, {
            caption: `Account ${named}`,
            empty: `No plan change is recorded for account ${named}.`,
          }),
        );
        if (rows.length >= kLimit) view.say(`The latest ${kLimit} changes of account ${named}.`);
      },
      { fresh: true },
    );
  account.addEventListener('change', () => {
    history.clear();
    load();
  });
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    load();
  });
  onSaved((target) => target === account.value && load());
  load();
}
