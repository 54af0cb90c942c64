// Live offers: every symbol on the offer board, from the desk's stream or,
// while it is away, polled every second, with the direction of each tick
// (arrow and colour), the spread in pips and stale rows marked. Offers age on the page's own clock while the page is
// shown, so a server that stops answering turns them stale like a feeder
// that stops moving them.
import { ApiError, ask, records } from './api.js';
import config from './config.js';
import { deskTime, number, priceText, utcSeconds, zone } from './format.js';
import * as stream from './stream.js';
import { el, panel, poll, table } from './ui.js';

const last = new Map(); // symbol → the offer, with moved (performance.now() ms), BidTick, AskTick
const listeners = [];
const kArrows = { up: '▲', down: '▼' };
const kSilent = 'The desk server is not answering.';

// The point size of every symbol the offer board has shown.
export const pointSizes = new Map();

// `listener(symbols)` hears the board's symbols after every answer.
export function onSymbols(listener) {
  listeners.push(listener);
}

// A price in the digits of its symbol's point size; as the program wrote it
// while that size is not known.
export function price(symbol, value) {
  return priceText(value, pointSizes.get(symbol));
}

// Point sizes for the trade panels, asked for once when no offer has been seen yet.
export async function knowPointSizes(signal) {
  if (pointSizes.size) return;
  try {
    for (const offer of records(await ask('getOffer', {}, { signal }), 'Offers'))
      pointSizes.set(offer.Symbol, offer.PointSize);
  } catch (error) {
    if (error instanceof ApiError && error.kind === 'dropped') throw error;
  }
}

// An offer moves when its time goes forward; one older than the last seen
// (a board read from another feeder, or a late answer) is passed over.
function track(offer, now) {
  const before = last.get(offer.Symbol);
  const age = before ? utcSeconds(offer.Time) - utcSeconds(before.Time) : 1;
  if (age < 0) return before;
  const tick = (key, old) =>
    old === undefined || offer[key] === old
      ? (before?.[`${key}Tick`] ?? '')
      : offer[key] > old
        ? 'up'
        : 'down';
  const state = {
    ...offer,
    moved: age > 0 ? now : before.moved,
    BidTick: tick('Bid', before?.Bid),
    AskTick: tick('Ask', before?.Ask),
  };
  last.set(offer.Symbol, state);
  pointSizes.set(offer.Symbol, offer.PointSize);
  return state;
}

const tickPrice = (key) => ({
  key,
  label: key,
  num: true,
  text: (row) =>
    el(
      'span',
      { class: row[`${key}Tick`] },
      priceText(row[key], row.PointSize),
      row[`${key}Tick`]
        ? el(
            'span',
            { class: 'tick', role: 'img', 'aria-label': row[`${key}Tick`] },
            ` ${kArrows[row[`${key}Tick`]]}`,
          )
        : null,
    ),
});

const kColumns = [
  { key: 'Symbol', label: 'Symbol' },
  tickPrice('Bid'),
  tickPrice('Ask'),
  {
    key: 'spread',
    label: 'Spread',
    num: true,
    text: (row) => (row.PointSize > 0 ? number((row.Ask - row.Bid) / row.PointSize, 1) : ''),
  },
  { key: 'High', label: 'High', num: true, text: (row) => priceText(row.High, row.PointSize) },
  { key: 'Low', label: 'Low', num: true, text: (row) => priceText(row.Low, row.PointSize) },
  // The badge shows on a stale row only (see the stylesheet), apart from the time it follows.
  {
    key: 'Time',
    label: `Time (${zone})`,
    text: (row) => [
      el(
        'time',
        { dateTime: new Date(utcSeconds(row.Time) * 1000 || 0).toISOString() },
        deskTime(row.Time, false),
      ),
      ' ',
      el('span', { class: 'badge' }, 'stale'),
    ],
  },
];

export function start() {
  const offers = panel('offers');
  const staleMs = config.staleSeconds * 1000;
  let shown = []; // the symbols of the last answer, in its order
  let answered = performance.now(); // when the last answer came
  let asking = null; // when the first request after it was sent, while none has come since
  // Marks the rows as they stand now, and says what to say about them.
  const mark = () => {
    const now = performance.now(),
      silent = asking !== null && now - asking >= staleMs;
    // A live stream brings only heartbeats while the board stands still: the
    // rows age against now, not against the last event that moved one.
    const against = stream.live('offers') ? now : answered;
    const trs = offers.root.querySelectorAll('.content tbody tr');
    const stale = shown.map((symbol, i) => {
      const old = silent || against - last.get(symbol).moved >= staleMs;
      trs[i]?.classList.toggle('stale', old);
      return old;
    });
    if (silent) return [kSilent, 'error'];
    if (stale.length && stale.every(Boolean))
      return [`No offer has moved for ${config.staleSeconds} s: is the feeder running?`, 'warn'];
    return ['', 'info'];
  };
  // Draws the board's offers, in its order, as the answer or the stream brought them.
  const present = (rows, view) => {
    [answered, asking] = [performance.now(), null];
    const symbols = rows.map((offer) => track(offer, answered).Symbol);
    const nodes = table(
      kColumns,
      symbols.map((symbol) => last.get(symbol)),
      { empty: 'The offer board holds no offers.' },
    );
    if (!view.show(nodes)) return;
    shown = symbols; // only once its table is the one on screen
    const [message, kind] = mark();
    if (message) view.say(message, kind);
    for (const listener of listeners) listener(shown);
  };
  const streamed = new Map(); // symbol → the streamed offer, in the board's order
  stream.listen((type, data) => {
    if (data?.topic !== 'offers') return;
    if (type === 'snapshot') streamed.clear();
    for (const offer of data.records) streamed.set(offer.Symbol, offer);
    for (const symbol of data.gone) streamed.delete(symbol);
    offers.run(async (view) => present([...streamed.values()], view));
  });
  poll(config.offerPollMs, async () => {
    if (stream.live('offers')) return;
    await offers.run(async (view) => {
      const before = stream.mark('offers');
      asking ??= performance.now();
      let rows;
      try {
        rows = records(await ask('getOffer', {}, { signal: view.signal }), 'Offers');
      } catch (error) {
        // An answer that is not the offers is an answer all the same: the server is there.
        if (error instanceof ApiError && !['timeout', 'network', 'dropped'].includes(error.kind))
          [answered, asking] = [performance.now(), null];
        if (error instanceof ApiError && error.kind === 'status')
          throw new ApiError('status', 'The offer board is gone: no offers to show.');
        throw error;
      }
      if (!stream.stale('offers', before)) present(rows, view);
    });
  });
  // Ages the rows every second while the page is shown, whether or not
  // answers come. A failure of a request stays said: that the server is
  // silent is said only over another kind of failure.
  setInterval(() => {
    if (document.hidden) return;
    const [message, kind] = mark(),
      failure = offers.root.dataset.failure;
    if (message && !failure) offers.say(message, kind);
    if (message === kSilent && failure && !['timeout', 'network'].includes(failure))
      offers.say(message, kind);
  }, 1000);
}
