// Live offers: every symbol on the offer board, polled every second, with
// the direction of each tick (arrow and colour), the spread in pips and
// stale rows marked. Offers age on the page's own clock, so a server that
// stops answering turns them stale like a feeder that stops moving them.
import { ApiError, ask, records } from './api.js';
import config from './config.js';
import { deskTime, number, priceDigits, zone } from './format.js';
import { el, panel, poll, table } from './ui.js';

const last = new Map();  // symbol → {bid, ask, time, moved (page clock, ms), bidTick, askTick}
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
  return pointSizes.has(symbol) ? number(value, priceDigits(pointSizes.get(symbol))) : String(value ?? '');
}

// Point sizes for the trade panels, asked for once when no offer has been seen yet.
export async function knowPointSizes(signal) {
  if (pointSizes.size) return;
  try {
    for (const offer of records(await ask('getOffer', {}, { signal }), 'Offers')) pointSizes.set(offer.Symbol, offer.PointSize);
  } catch (error) {
    if (error instanceof ApiError && error.kind === 'dropped') throw error;
  }
}

function track(offer, now) {
  const before = last.get(offer.Symbol);
  const tick = (key, old) => (old === undefined || offer[key] === old ? before?.[`${key}Tick`] ?? '' : offer[key] > old ? 'up' : 'down');
  const state = {
    ...offer, moved: before && before.Time === offer.Time ? before.moved : now,
    BidTick: tick('Bid', before?.Bid), AskTick: tick('Ask', before?.Ask),
  };
  last.set(offer.Symbol, state);
  pointSizes.set(offer.Symbol, offer.PointSize);
  return state;
}

const tickPrice = (key) => ({
  key, label: key, num: true,
  text: (row) => el('span', { class: row[`${key}Tick`] }, number(row[key], priceDigits(row.PointSize)),
    row[`${key}Tick`] ? el('span', { class: 'tick', role: 'img', 'aria-label': row[`${key}Tick`] }, ` ${kArrows[row[`${key}Tick`]]}`) : null),
});

const kColumns = [
  { key: 'Symbol', label: 'Symbol' }, tickPrice('Bid'), tickPrice('Ask'),
  { key: 'spread', label: 'Spread', num: true, text: (row) => (row.PointSize > 0 ? number((row.Ask - row.Bid) / row.PointSize, 1) : '') },
  { key: 'High', label: 'High', num: true, text: (row) => number(row.High, priceDigits(row.PointSize)) },
  { key: 'Low', label: 'Low', num: true, text: (row) => number(row.Low, priceDigits(row.PointSize)) },
  { key: 'Time', label: `Time (${zone})`, text: (row) => el('time', {}, deskTime(row.Time, false), row.stale ? el('span', { class: 'badge' }, 'stale') : null) },
];

export function start() {
  const offers = panel('offers');
  let shown = null;  // the symbols of the last answer, in its order
  let answered = Date.now();  // page clock of the last answer
  // The table as it stands now by the page's clock, and what to say about it.
  const draw = () => {
    const now = Date.now();
    const rows = shown.map((symbol) => last.get(symbol)).map((row) => ({ ...row, stale: now - row.moved >= config.staleSeconds * 1000 }));
    const nodes = table(kColumns, rows, { empty: 'The offer board holds no offers.', rowClass: (row) => (row.stale ? 'stale' : '') });
    if (now - answered >= config.staleSeconds * 1000) return [nodes, kSilent, 'error'];
    if (rows.length && rows.every((row) => row.stale)) return [nodes, `No offer has moved for ${config.staleSeconds} s: is the feeder running?`, 'warn'];
    return [nodes, '', 'info'];
  };
  poll(config.offerPollMs, () => offers.run(async (view) => {
    let rows;
    try {
      rows = records(await ask('getOffer', {}, { signal: view.signal }), 'Offers');
    } catch (error) {
      if (error instanceof ApiError && !['timeout', 'network', 'dropped'].includes(error.kind)) answered = Date.now();
      if (error instanceof ApiError && error.kind === 'status') throw new ApiError('status', 'The offer board is gone: no offers to show.');
      throw error;
    }
    answered = Date.now();
    shown = rows.map((offer) => track(offer, answered).Symbol);
    const [nodes, message, kind] = draw();
    view.show(nodes);
    if (message) view.say(message, kind);
    for (const listener of listeners) listener(shown);
  }));
  // Ages the rows every second, whether or not answers come.
  setInterval(() => {
    if (!shown) return;
    const [nodes, message, kind] = draw();
    offers.redraw(nodes);
    // A failure stays said, unless the server has gone silent.
    if (message === kSilent || (message && !offers.root.dataset.failure)) offers.say(message, kind);
  }, 1000);
}
