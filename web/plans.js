// Plans: an account's plan rows, editable in place; Save writes the changed
// rows with setImplPlan in one transaction and says what the server answered.
import { ApiError, ask, confirmEmpty } from './api.js';
import config from './config.js';
import { accountSelect, el, panel } from './ui.js';

const kValues = 20;

// The program fills IP1, IP2, ... from the ip elements in the order they
// come, whatever their numbers: a row is sent from IP1 up to its last value
// that is set now or was set before.
function param(symbol, values, before) {
  let count = kValues;
  while (count > 0 && !values[count - 1] && !before[count - 1]) --count;
  const plan = { symbol };
  for (let i = 1; i <= count; ++i) plan[`ip${i}`] = values[i - 1];
  return { ...plan, loginid: config.loginId };
}

export function start() {
  const plans = panel('plans'), account = accountSelect('plans-account');
  const save = el('button', { type: 'button', disabled: true }, 'Save');
  plans.root.querySelector('.controls').append(el('label', {}, 'Account ', account), save);
  let shown = [];  // [{symbol, before: [values], inputs: [elements]}]
  const load = () => plans.run(async () => {
    const rows = await ask('getImplPlan', { accountid: account.value });
    if (!Array.isArray(rows)) throw new TypeError('getImplPlan: not a list');
    if (!rows.length) await confirmEmpty(account.value, 'Plans');
    shown = rows.map((row) => {
      const before = Array.from({ length: kValues }, (_, i) => row[`IP${i + 1}`] ?? '');
      const inputs = before.map((v, i) => el('input', { value: v, size: 5, 'aria-label': `${row.Symbol} IP${i + 1}`, oninput: () => { save.disabled = false; } }));
      return { symbol: row.Symbol, before, inputs };
    });
    save.disabled = true;
    const head = el('tr', {}, el('th', { scope: 'col' }, 'Symbol'), Array.from({ length: kValues }, (_, i) => el('th', { scope: 'col' }, `IP${i + 1}`)));
    plans.show(el('div', { class: 'scroll' }, el('table', { class: 'plans' }, el('thead', {}, head),
      el('tbody', {}, shown.length ? shown.map((p) => el('tr', {}, el('th', { scope: 'row' }, p.symbol), p.inputs.map((input) => el('td', {}, input))))
        : el('tr', {}, el('td', { colSpan: kValues + 1, class: 'empty' }, 'No plans for this account.'))))));
  });
  save.addEventListener('click', () => plans.run(async () => {
    const changed = shown.filter((p) => p.inputs.some((input, i) => input.value !== p.before[i]));
    if (!changed.length) return;
    save.disabled = true;
    let answer;
    try {
      answer = await ask('setImplPlan', { accountid: account.value, param: changed.map((p) => param(p.symbol, p.inputs.map((input) => input.value.trim()), p.before)) });
    } catch (error) {
      save.disabled = false;
      throw error instanceof ApiError ? new ApiError(error.kind, `Nothing was saved. ${error.message}`) : error;
    }
    await load();
    plans.say(`Saved ${changed.length} plan${changed.length > 1 ? 's' : ''}: the server answered "${answer}".`, 'done');
  }));
  account.addEventListener('change', load);
  load();
}
