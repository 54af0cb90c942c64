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
  // What the panel shows: the account its rows are of, and the rows. Save
  // writes these, to this account, whatever the selection says meanwhile.
  let shown = { account: '', rows: [] };  // rows: [{symbol, before: [values], inputs: [elements]}]
  const draw = (view, asked, rows) => {
    const drawn = rows.map((row) => {
      const before = Array.from({ length: kValues }, (_, i) => row[`IP${i + 1}`] ?? '');
      const inputs = before.map((v, i) => el('input', { value: v, size: 5, 'aria-label': `${row.Symbol} IP${i + 1}`, oninput: () => { save.disabled = false; } }));
      return { symbol: row.Symbol, before, inputs };
    });
    const head = el('tr', {}, el('th', { scope: 'col' }, 'Symbol'), Array.from({ length: kValues }, (_, i) => el('th', { scope: 'col' }, `IP${i + 1}`)));
    const shownNow = view.show(el('div', { class: 'scroll' }, el('table', { class: 'plans' }, el('caption', {}, `Account ${asked}`), el('thead', {}, head),
      el('tbody', {}, drawn.length ? drawn.map((p) => el('tr', {}, el('th', { scope: 'row' }, p.symbol), p.inputs.map((input) => el('td', {}, input))))
        : el('tr', {}, el('td', { colSpan: kValues + 1, class: 'empty' }, 'No plans for this account.'))))));
    if (!shownNow) return;
    shown = { account: asked, rows: drawn };
    save.disabled = true;
  };
  const fetchPlans = async (view, asked) => {
    const rows = await ask('getImplPlan', { accountid: asked }, { signal: view.signal });
    if (!Array.isArray(rows)) throw new TypeError('getImplPlan: not a list');
    if (!rows.length) await confirmEmpty(asked, 'Plans', view.signal);
    return rows;
  };
  const load = () => plans.run(async (view) => {
    const asked = account.value;
    draw(view, asked, await fetchPlans(view, asked));
  });
  save.addEventListener('click', () => {
    const { account: target, rows } = shown;
    const changed = rows.filter((p) => p.inputs.some((input, i) => input.value !== p.before[i]));
    if (!changed.length) return;
    save.disabled = true;
    plans.run(async (view) => {
      let answer;
      try {
        // Not dropped with the view: a write that was sent has to be heard out.
        answer = await ask('setImplPlan', { accountid: target, param: changed.map((p) => param(p.symbol, p.inputs.map((input) => input.value.trim()), p.before)) });
      } catch (error) {
        if (view.signal.aborted || !(error instanceof ApiError)) throw error;
        save.disabled = false;
        if (error.kind === 'timeout') throw new ApiError(error.kind, `The plans of account ${target} may or may not have been saved. ${error.message}`);
        throw new ApiError(error.kind, `Nothing was saved. ${error.message}`);
      }
      draw(view, target, await fetchPlans(view, target));
      view.say(`Saved ${changed.length} plan${changed.length > 1 ? 's' : ''} of account ${target}: the server answered "${answer}".`, 'done');
    });
  });
  account.addEventListener('change', () => {
    plans.clear();
    shown = { account: '', rows: [] };
    save.disabled = true;
    load();
  });
  load();
}
