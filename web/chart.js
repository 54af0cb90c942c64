// Chart: candlesticks of one symbol's bid or ask bars for one period, from
// its price-bar board, streamed or polled, with the last candle following
// the streamed offers. The chart library is loaded on its own, so that a
// page without it still shows every other panel.
import { ApiError, ask, records } from './api.js';
import config from './config.js';
import { deskClock, deskInstant, deskSeconds, deskTime, utcSeconds, zone } from './format.js';
import { onSymbols } from './offers.js';
import * as stream from './stream.js';
import { el, panel, poll } from './ui.js';

const kPeriodSeconds = { M1: 60, M5: 300, M15: 900, H1: 3600, H4: 14400, D1: 86400 };
const programTime = (seconds) =>
  new Date(seconds * 1000).toISOString().slice(0, 19).replace('T', ' ').replaceAll('-', '/');

// The start (UTC seconds) of the period after the one that starts at
// `start`. A period of an hour or less is counted in seconds (clocks that
// move by a whole hour never move inside one), and so are all of them when
// the feeder starts its bars on UTC's clock (`clock` "utc"). Otherwise the
// longer ones go by the desk's clock, so that a daily candle ends at the
// desk's next midnight on a 23- or 25-hour day.
function nextStart(start, seconds, clock) {
  return seconds <= 3600 || clock === 'utc'
    ? start + seconds
    : deskInstant(deskSeconds(start) + seconds);
}

// The last candle after a tick of `price` at `time` (UTC seconds): the last
// one moved, while the tick is within its period; a new one, at the start of
// the tick's period counted on from the last one's, after it; none for a
// tick before the last candle, whose period is closed.
export function candleAfter(last, time, price, seconds, clock = config.barClock) {
  if (!last || !(time >= last.time) || !Number.isFinite(price)) return null;
  let [start, next] = [last.time, nextStart(last.time, seconds, clock)];
  // A tick after a long silence: past a thousand periods, counted on in seconds.
  for (let steps = 0; time >= next && steps < 1000; ++steps)
    [start, next] = [next, nextStart(next, seconds, clock)];
  if (time >= next) start = last.time + Math.floor((time - last.time) / seconds) * seconds;
  if (start === last.time)
    return {
      ...last,
      high: Math.max(last.high, price),
      low: Math.min(last.low, price),
      close: price,
    };
  return {
    time: start,
    start: programTime(start),
    open: price,
    high: price,
    low: price,
    close: price,
  };
}

// Each bar stands at its real start (UTC seconds), so the two hours that
// share a desk clock time when the clocks go back stay two bars; its label
// is the desk's clock at that instant. A daily bar is labelled with the
// desk's date only when the feeder starts it at the desk's midnight.
export function candles(bars, side) {
  const byTime = new Map();
  for (const bar of bars) {
    const time = utcSeconds(bar.StartDate);
    if (!Number.isFinite(time)) continue;
    byTime.set(time, {
      time,
      start: bar.StartDate,
      open: +bar[`${side}Open`],
      high: +bar[`${side}High`],
      low: +bar[`${side}Low`],
      close: +bar[`${side}Close`],
    });
  }
  return [...byTime.values()].sort((a, b) => a.time - b.time);
}

// The time scale's label for a tick of the library's kind (year, month,
// day, time, time with seconds) at `time` (UTC seconds), in the desk's zone.
export function tickLabel(time, kind) {
  const text = deskClock(time);
  return (
    [text.slice(0, 4), text.slice(0, 7), text.slice(5, 10), text.slice(11, 16), text.slice(11, 19)][
      kind
    ] ?? null
  );
}

export async function start() {
  const chart = panel('chart');
  const symbol = el('select', { id: 'chart-symbol' }, el('option', {}, config.chartSymbol));
  const period = el(
    'select',
    { id: 'chart-period' },
    config.periods.map((p) => el('option', {}, p)),
  );
  const side = el(
    'select',
    { id: 'chart-side' },
    el('option', { value: 'Bid' }, 'Bid'),
    el('option', { value: 'Ask' }, 'Ask'),
  );
  chart.root
    .querySelector('.controls')
    .append(
      el('label', {}, 'Symbol ', symbol),
      el('label', {}, 'Period ', period),
      el('label', {}, 'Side ', side),
    );
  const area = el('div', { class: 'chart-area', role: 'img', 'aria-label': 'Candlestick chart' });
  chart.show(area);
  let library;
  try {
    library = await import('./vendor/lightweight-charts.mjs');
  } catch {
    chart.fail(new ApiError('page', 'The chart library is missing from this installation.'));
    return;
  }
  // The library's own credit brings an inline style, which the page's policy
  // refuses: the page credits it below the chart instead.
  const view = library.createChart(area, {
    autoSize: true,
    layout: { background: { color: 'transparent' }, textColor: '#c9d1d9', attributionLogo: false },
    grid: { vertLines: { color: '#21262d' }, horzLines: { color: '#21262d' } },
    timeScale: { timeVisible: true, tickMarkFormatter: tickLabel },
    localization: { timeFormatter: deskClock },
  });
  const series = view.addSeries(library.CandlestickSeries, {
    upColor: '#3fb950',
    downColor: '#f85149',
    wickUpColor: '#3fb950',
    wickDownColor: '#f85149',
    borderVisible: false,
  });
  // A chart of another selection starts empty: a failure then leaves nothing of the last one drawn.
  const empty = () => {
    series.setData([]);
    chart.root.dataset.candles = '0';
    chart.root.dataset.close = '';
    area.setAttribute('aria-label', 'Candlestick chart');
  };
  const redraw = () => {
    [bars, ticks] = [new Map(), new Map()];
    empty();
    draw();
  };
  // The stream names bars by the symbol without its "/": EUR/USD and EURUSD are one board.
  const topic = () => `bars:${symbol.value.replaceAll('/', '')}:${period.value}`;
  let bars = new Map(); // the bars shown, by start
  // The candles the streamed offers made after the last bar, by start: a
  // redraw between two of them keeps both.
  let ticks = new Map();
  const show = (run, asked) => {
    const shown = candles([...bars.values()], asked.side);
    for (const [time, candle] of ticks)
      if (!(time <= shown.at(-1)?.time)) shown.push(candle);
      else ticks.delete(time);
    series.setData(shown);
    chart.root.dataset.candles = shown.length;
    chart.root.dataset.close = shown.at(-1)?.close ?? '';
    area.setAttribute(
      'aria-label',
      shown.length
        ? `Candlesticks of ${asked.symbol} ${asked.period} ${asked.side.toLowerCase()}, ${deskTime(
            shown[0].start,
          )} to ${deskTime(shown.at(-1).start)} (${zone})`
        : 'Candlestick chart',
    );
    if (!bars.size) run.say(`No ${asked.period} bars for ${asked.symbol}.`, 'warn');
  };
  const selection = () => ({ symbol: symbol.value, period: period.value, side: side.value });
  stream.listen((type, data) => {
    if (type === 'lost') return draw();
    if (data.topic === 'offers') {
      const offer = data.records.find((o) => o.Symbol === symbol.value);
      const next =
        offer &&
        candleAfter(
          series.data().at(-1),
          utcSeconds(offer.Time),
          +offer[side.value],
          kPeriodSeconds[period.value],
        );
      if (!next) return;
      if (!(next.time <= Math.max(...[...bars.keys()].map(utcSeconds)))) {
        ticks.set(next.time, next);
        // Bars the feeder writes replace them; a feeder that writes none leaves a day's at most.
        if (ticks.size > 1440) ticks.delete(ticks.keys().next().value);
      }
      series.update(next);
      chart.root.dataset.candles = series.data().length;
      chart.root.dataset.close = next.close;
      return;
    }
    if (data.topic !== topic()) return;
    if (type === 'snapshot') bars = new Map();
    for (const bar of data.records) bars.set(bar.StartDate, bar);
    for (const start of data.gone) bars.delete(start);
    chart.run(async (run) => show(run, selection()));
  });
  const draw = () =>
    chart.run(async (run) => {
      const asked = selection(),
        before = stream.mark(topic());
      let answer = [];
      try {
        answer = records(
          await ask(
            'getPriceBar',
            { symbol: asked.symbol, period: asked.period },
            { signal: run.signal },
          ),
          'Bars',
        );
      } catch (error) {
        if (!(error instanceof ApiError && error.kind === 'status')) throw error;
      }
      if (run.signal.aborted) return;
      // The stream carries the bars of a board that exists only: the stream
      // server refuses a whole stream that names a board it does not have.
      stream.follow(
        answer.length ? { symbol: asked.symbol, period: asked.period } : { symbol: '' },
      );
      if (stream.stale(topic(), before)) return;
      bars = new Map(answer.map((bar) => [bar.StartDate, bar]));
      show(run, asked);
      view.timeScale().fitContent();
    });
  for (const control of [symbol, period]) control.addEventListener('change', redraw);
  // The other side of the same bars: streamed ones are at hand.
  side.addEventListener('change', () => {
    ticks = new Map();
    if (stream.live(topic())) chart.run(async (run) => show(run, selection()));
    else redraw();
  });
  onSymbols((symbols) => {
    const known = [...symbol.options].map((o) => o.value).join();
    if (known === symbols.join() || !symbols.length) return;
    const chosen = symbol.value;
    symbol.replaceChildren(...symbols.map((s) => el('option', { selected: s === chosen }, s)));
    if (symbol.value !== chosen) redraw();
  });
  poll(config.chartPollMs, () => stream.live(topic()) || draw());
}
