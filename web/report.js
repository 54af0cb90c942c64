// Report: an account's trades totalled by the groupings chosen (type 1), or
// listed (type 2), within the filters; with totals.
import { ApiError, ask } from './api.js';
import { dateParam, deskTime, moneyDigits, zone } from './format.js';
import { accountSelect, el, moneyColumn, panel, table } from './ui.js';

// The program's grouping numbers, with the member each one fills.
const kGroups = [
  [1, 'Symbol', 'Symbol'],
  [2, 'TradeMethodName', 'Strategy'],
  [3, '_year', 'Year'],
  [4, '_month', 'Month'],
  [5, '_week', 'Week'],
];
const kWords = {
  msg_no_data: 'No trades match.',
  msg_counts_over: 'More results than the limit allows: narrow the filters or raise the limit.',
};

export function start() {
  const report = panel('report'),
    account = accountSelect('report-account');
  const type = el(
    'select',
    { id: 'report-type' },
    el('option', { value: '1' }, 'Totals'),
    el('option', { value: '2' }, 'Trades'),
  );
  const groups = kGroups.map(([n, , label]) =>
    el('input', { type: 'checkbox', value: String(n), 'aria-label': label }),
  );
  const input = (id, props = {}) => el('input', { id, ...props });
  const symbol = input('report-symbol', { size: 8 }),
    method = input('report-method', { size: 8 });
  const from = input('report-from', { type: 'date' }),
    to = input('report-to', { type: 'date' });
  const low = input('report-frompl', { type: 'number', step: 'any' }),
    high = input('report-topl', { type: 'number', step: 'any' });
  // The program reads a limit below 1 as none at all (or as nothing allowed): a limit is a count from 1.
  const limit = input('report-max', { type: 'number', value: '200', min: '1', step: '1' });
  const form = el(
    'form',
    { noValidate: true },
    el('label', {}, 'Account ', account),
    el('label', {}, 'Type ', type),
    el(
      'fieldset',
      {},
      el('legend', {}, 'Group by'),
      kGroups.map(([, , label], i) => el('label', {}, groups[i], ` ${label}`)),
    ),
    el('label', {}, 'Symbol ', symbol),
    el('label', {}, 'Strategy ', method),
    el('label', {}, `Opened from (${zone}) `, from),
    el('label', {}, `Opened by (${zone}) `, to),
    el('label', {}, 'P/L from ', low),
    el('label', {}, 'to ', high),
    el('label', {}, 'At most ', limit),
    el('button', { type: 'submit' }, 'Run'),
  );
  report.root.querySelector('.controls').append(form);
  const value = (field) => field.value.trim() || undefined;
  // The browser's own checks are off (they would not say which field is
  // wrong here), so a field it cannot read is refused rather than left out.
  const unreadable = () => [from, to, low, high].find((field) => field.validity.badInput);
  const run = () =>
    report.run(
      async (view) => {
        const asked = account.value,
          kind = type.value,
          most = Number(limit.value);
        const bad = unreadable();
        if (bad)
          throw new ApiError(
            'input',
            `${bad.labels[0].textContent.trim()}: not a value the report can take.`,
          );
        if (!(Number.isInteger(most) && most >= 1 && most <= 2 ** 31 - 1))
          throw new ApiError('input', 'At most: a whole number of rows from 1 up.');
        const chosen = groups.filter((g) => g.checked && kind === '1').map((g) => g.value);
        const answer = await ask(
          'getReport',
          {
            rpttype: kind,
            accountid: asked,
            symbol: value(symbol),
            method: value(method),
            startdate: dateParam(from.value),
            enddate: dateParam(to.value, true),
            frompl: value(low),
            topl: value(high),
            maxcounts: String(most),
            grouping: chosen.length ? { g: chosen } : undefined,
          },
          { signal: view.signal },
        );
        if (typeof answer === 'string') {
          view.show(el('p', { class: 'empty' }, kWords[answer] ?? answer));
          return;
        }
        if (!Array.isArray(answer)) throw new TypeError('getReport: not a list');
        const columns =
          kind === '1'
            ? [
                ...kGroups
                  .filter(([n]) => chosen.includes(String(n)))
                  .map(([, key, label]) => ({ key, label })),
                { key: 'Counts', label: 'Trades', num: true, total: true, digits: 0 },
              ]
            : [
                { key: 'TradeID', label: 'Trade' },
                { key: 'Symbol', label: 'Symbol' },
                { key: 'TradeMethodName', label: 'Strategy' },
                {
                  key: 'OpenTime',
                  label: `Opened (${zone})`,
                  text: (row) => deskTime(row.OpenTime),
                },
                {
                  key: 'CloseTime',
                  label: `Closed (${zone})`,
                  text: (row) => deskTime(row.CloseTime),
                },
              ];
        const digits = moneyDigits(asked);
        view.show(
          table(
            [
              ...columns,
              moneyColumn('PL', 'P/L', digits),
              moneyColumn('GrossPL', 'Gross P/L', digits),
            ],
            answer,
            { caption: `Account ${asked}`, empty: 'No trades match.' },
          ),
        );
      },
      { fresh: true },
    );
  account.addEventListener('change', () => report.clear());
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    run();
  });
  run();
}
