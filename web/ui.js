// The page's building blocks: elements, tables with a totals row, and
// panels that show their own failures without stopping the others.
import { me } from './access.js';
import { ApiError } from './api.js';
import { number, signClass } from './format.js';

export function el(tag, props = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props)) {
    if (key === 'class') node.className = value;
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else if (key in node && key !== 'list') node[key] = value;
    else node.setAttribute(key, value);
  }
  node.append(...children.flat().filter((c) => c !== undefined && c !== null && c !== false));
  return node;
}

// columns: [{key, label, text(row) → string, num: true, sign: true}]; a
// column's total is summed when it has `total: true`.
// A column of money in `digits` decimals, signed and totalled.
export const moneyColumn = (key, label, digits) => ({
  key,
  label,
  num: true,
  sign: true,
  total: true,
  digits,
  text: (row) => number(row[key], digits),
});

export function table(columns, rows, { caption, empty = 'Nothing to show.', rowClass } = {}) {
  const cell = (tag, column, content, cls = '') =>
    el(tag, { class: `${column.num ? 'num' : ''} ${cls}`.trim() }, content);
  const value = (column, row) => (column.text ? column.text(row) : (row[column.key] ?? ''));
  const head = el(
    'thead',
    {},
    el(
      'tr',
      {},
      columns.map((c) => el('th', { scope: 'col', class: c.num ? 'num' : '' }, c.label)),
    ),
  );
  const body = el(
    'tbody',
    {},
    rows.length
      ? rows.map((row) =>
          el(
            'tr',
            { class: rowClass ? rowClass(row) : '' },
            columns.map((c) => cell('td', c, value(c, row), c.sign ? signClass(row[c.key]) : '')),
          ),
        )
      : el('tr', {}, el('td', { colSpan: columns.length, class: 'empty' }, empty)),
  );
  const totals =
    columns.some((c) => c.total) && rows.length
      ? el(
          'tfoot',
          {},
          el(
            'tr',
            {},
            columns.map((c, i) => {
              if (!c.total)
                return el(
                  i === 0 ? 'th' : 'td',
                  i === 0 ? { scope: 'row' } : {},
                  i === 0 ? 'Total' : '',
                );
              // Coloured as shown: a sum that rounds to zero is neither up nor down.
              const sum = Number(
                rows.reduce((s, row) => s + Number(row[c.key] || 0), 0).toFixed(c.digits ?? 2),
              );
              return cell('td', c, number(sum, c.digits ?? 2), c.sign ? signClass(sum) : '');
            }),
          ),
        )
      : null;
  return el(
    'div',
    { class: 'scroll' },
    el('table', {}, caption ? el('caption', {}, caption) : null, head, body, totals),
  );
}

// A panel of the page: `show` replaces its content, `fail` says what went
// wrong in its status line and keeps the last good content, marked old.
// Only the latest `run` speaks: starting one drops the answer of the one
// before, so a late answer never lands under another selection.
export function panel(id) {
  const root = document.getElementById(id);
  const status = root.querySelector('.status'),
    content = root.querySelector('.content');
  let latest = null; // the AbortController of the run whose answer is wanted
  let kept = false; // the status tells an outcome that no later run's success may wipe
  return {
    root,
    show(...nodes) {
      this.redraw(...nodes);
      content.classList.remove('old');
    },
    // Replaces the content as it stands, old or not.
    redraw(...nodes) {
      content.replaceChildren(...nodes);
    },
    // Empties the panel: what it showed belongs to a selection left behind.
    clear() {
      latest?.abort();
      this.show();
      this.say('');
    },
    // A message is announced when it changes only, not each time it is said.
    // `keep` holds it until something else is said.
    say(message, kind = 'info', keep = false) {
      const shown = message ? kind : '';
      kept = keep;
      if (status.textContent === message && (status.dataset.kind ?? '') === shown) return;
      status.textContent = message;
      status.dataset.kind = shown;
    },
    fail(error) {
      const message =
        error instanceof ApiError ? error.message : 'The page could not show this answer.';
      if (!(error instanceof ApiError)) console.error(error);
      this.say(message, 'error');
      content.classList.add('old');
      root.dataset.failure = error instanceof ApiError ? error.kind : 'page';
    },
    ok() {
      delete root.dataset.failure;
      content.classList.remove('old');
    },
    // Draws what the stream brought, as a run's `work` would, without
    // starting a run: a poll in flight for what is not streamed goes on.
    draw(work) {
      let said = false;
      const view = {
        show: (...nodes) => (this.show(...nodes), true),
        say: (...words) => ((said = true), this.say(...words), true),
      };
      try {
        work(view);
        if (!said && !kept) this.say('');
        this.ok();
      } catch (error) {
        this.fail(error);
      }
    },
    // Runs `work(view)`, reporting its failure here; never throws. `view`
    // holds the run's `signal` (for ask) and `show` and `say`, which do
    // nothing once a later run has started. A run the user started (`fresh`)
    // empties the status first, so that the same outcome twice is told twice.
    async run(work, { fresh = false } = {}) {
      latest?.abort();
      const mine = new AbortController();
      latest = mine;
      if (fresh) this.say('');
      const wanted = () => !mine.signal.aborted;
      let said = false;
      const view = {
        signal: mine.signal,
        show: (...nodes) => wanted() && (this.show(...nodes), true),
        say: (...words) => wanted() && ((said = true), this.say(...words), true),
      };
      try {
        await work(view);
        if (!wanted()) return;
        if (!said && !kept) this.say('');
        this.ok();
      } catch (error) {
        if (wanted()) this.fail(error);
      } finally {
        if (latest === mine) latest = null;
      }
    },
  };
}

// A choice of the accounts the caller may read.
export function accountSelect(id) {
  return el(
    'select',
    { id },
    me.read.map((account) => el('option', {}, account)),
  );
}

// Calls `work` now and again `ms` after each run ends, however it ends;
// while the page is hidden it waits until it is shown again.
export function poll(ms, work) {
  const again = async () => {
    if (document.hidden) {
      document.addEventListener('visibilitychange', again, { once: true });
      return;
    }
    await work();
    setTimeout(again, ms);
  };
  again();
}
