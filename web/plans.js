// Plans: an account's plan rows, editable in place on an account the caller
// may trade (read only on the others); Save writes the changed rows with
// setImplPlan in one transaction and says what the server answered.
import { mayTrade, me } from './access.js';
import { ApiError, ask, confirmEmpty } from './api.js';
import { accountSelect, el, panel } from './ui.js';

const kValues = 20;
const saved = [];

// `listener(account)` hears of every save the server took.
export function onSaved(listener) {
  saved.push(listener);
}

// The program fills IP1, IP2, ... from the ip elements in the order they
// come, whatever their numbers: a row is sent from IP1 up to its last value
// that is set now or was set before.
function param(symbol, values, before) {
  let count = kValues;
  while (count > 0 && !values[count - 1] && !before[count - 1]) --count;
  const plan = { symbol };
  for (let i = 1; i <= count; ++i) plan[`ip${i}`] = values[i - 1];
  // A program that checks its callers records the caller as the updater and
  // ignores this; one that does not records the name the web server signed
  // in, the same name, or the page's own when it signs in nobody.
  return { ...plan, loginid: me.user || 'desk-page' };
}

export function start() {
  const plans = panel('plans'),
    account = accountSelect('plans-account');
  const save = el('button', { type: 'button', id: 'plans-save', disabled: true }, 'Save');
  // Offered while unsaved edits hold the panel on their account.
  const discard = el('button', { type: 'button', id: 'plans-discard', hidden: true });
  plans.root.querySelector('.controls').append(el('label', {}, 'Account ', account), save, discard);
  // What the panel shows: the account its rows are of, and the rows. Save
  // writes these, to this account, whatever the selection says meanwhile.
  let shown = { account: '', rows: [] }; // rows: [{symbol, before: [values], inputs: [elements]}]
  const draw = (view, asked, rows) => {
    const readOnly = !mayTrade(asked);
    const drawn = rows.map((row) => {
      const before = Array.from({ length: kValues }, (_, i) => row[`IP${i + 1}`] ?? '');
      const inputs = before.map((v, i) =>
        el('input', {
          value: v,
          size: 5,
          disabled: readOnly,
          'aria-label': `${row.Symbol} IP${i + 1}`,
          oninput: () => {
            save.disabled = false;
          },
        }),
      );
      return { symbol: row.Symbol, before, inputs };
    });
    const head = el(
      'tr',
      {},
      el('th', { scope: 'col' }, 'Symbol'),
      Array.from({ length: kValues }, (_, i) => el('th', { scope: 'col' }, `IP${i + 1}`)),
    );
    const shownNow = view.show(
      el(
        'div',
        { class: 'scroll' },
        el(
          'table',
          { class: 'plans' },
          el(
            'caption',
            {},
            `Account ${asked}`,
            readOnly && ' ',
            readOnly && el('span', { class: 'mark' }, 'read only'),
          ),
          el('thead', {}, head),
          el(
            'tbody',
            {},
            drawn.length
              ? drawn.map((p) =>
                  el(
                    'tr',
                    {},
                    el('th', { scope: 'row' }, p.symbol),
                    p.inputs.map((input) => el('td', {}, input)),
                  ),
                )
              : el(
                  'tr',
                  {},
                  el('td', { colSpan: kValues + 1, class: 'empty' }, 'No plans for this account.'),
                ),
          ),
        ),
      ),
    );
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
  const load = () =>
    plans.run(async (view) => {
      const asked = account.value;
      draw(view, asked, await fetchPlans(view, asked));
    });
  // A write that was sent is heard out, whatever the panel shows meanwhile:
  // its outcome names the account and stays said. Only the banner (the
  // program's transaction failed) and a value the page cannot send are
  // sure to have saved nothing.
  const write = async (target, changed) => {
    const plural = `plan${changed.length > 1 ? 's' : ''} of account ${target}`;
    try {
      const answer = await ask(
        'setImplPlan',
        {
          accountid: target,
          param: changed.map((p) =>
            param(
              p.symbol,
              p.inputs.map((input) => input.value.trim()),
              p.before,
            ),
          ),
        },
        { retries: 0 },
      );
      return [`Saved ${changed.length} ${plural}: the server answered "${answer}".`, 'done', true];
    } catch (error) {
      const message =
        error instanceof ApiError ? error.message : 'The page could not read the answer.';
      if (error instanceof ApiError && ['banner', 'input'].includes(error.kind))
        return [`Nothing was saved to account ${target}. ${message}`, 'error', false];
      return [
        `The ${changed.length} ${plural} may or may not have been saved. ${message}`,
        'error',
        false,
      ];
    }
  };
  save.addEventListener('click', async () => {
    const { account: target, rows } = shown;
    const changed = rows.filter((p) => p.inputs.some((input, i) => input.value !== p.before[i]));
    if (!changed.length) return;
    save.disabled = true;
    discard.hidden = true;
    // No edit while the write is out: it could be neither sent again nor kept.
    const inputs = rows.flatMap((p) => p.inputs);
    for (const input of inputs) input.readOnly = true;
    plans.say('');
    const [message, kind, done] = await write(target, changed);
    plans.say(message, kind, true);
    if (done) for (const listener of saved) listener(target);
    if (shown.account !== target) return;
    if (!done) {
      for (const input of inputs) input.readOnly = false;
      save.disabled = false;
      return;
    }
    plans.run(async (view) => {
      try {
        draw(view, target, await fetchPlans(view, target));
      } catch (error) {
        if (error instanceof ApiError && error.kind !== 'dropped')
          throw new ApiError(error.kind, `${message} Reading them back failed: ${error.message}`);
        throw error;
      }
    });
  });
  const leave = (chosen) => {
    account.value = chosen;
    discard.hidden = true;
    plans.clear();
    shown = { account: '', rows: [] };
    save.disabled = true;
    load();
  };
  account.addEventListener('change', () => {
    // Save is enabled exactly while edits of the rows shown are unsaved: they are left on purpose only.
    if (save.disabled) return leave(account.value);
    const wanted = account.value;
    account.value = shown.account;
    discard.textContent = `Discard them and show account ${wanted}`;
    discard.hidden = false;
    discard.onclick = () => leave(wanted);
    plans.say(
      `The plans of account ${shown.account} have unsaved changes: save them, or discard them.`,
      'warn',
    );
  });
  load();
}
