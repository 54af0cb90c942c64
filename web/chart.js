// Chart: candlesticks of one symbol's bid or ask bars for one period, from
// its price-bar board. The chart library is loaded on its own, so that a
// page without it still shows every other panel.
import { ApiError, ask, records } from './api.js';
import config from './config.js';
import { deskClock, deskTime, utcSeconds, zone } from './format.js';
import { onSymbols } from './offers.js';
import { el, panel, poll } from './ui.js';

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
    area.setAttribute('aria-label', 'Candlestick chart');
  };
  const redraw = () => {
    empty();
    draw();
  };
  const draw = () =>
    chart.run(async (run) => {
      const asked = { symbol: symbol.value, period: period.value, side: side.value };
      let bars = [];
      try {
        bars = records(
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
      const shown = candles(bars, asked.side);
      series.setData(shown);
      view.timeScale().fitContent();
      chart.root.dataset.candles = series.data().length;
      area.setAttribute(
        'aria-label',
        shown.length
          ? `Candlesticks of ${asked.symbol} ${asked.period} ${asked.side.toLowerCase()}, ${deskTime(
              shown[0].start,
            )} to ${deskTime(shown.at(-1).start)} (${zone})`
          : 'Candlestick chart',
      );
      if (!bars.length) run.say(`No ${asked.period} bars for ${asked.symbol}.`, 'warn');
    });
  for (const control of [symbol, period, side]) control.addEventListener('change', redraw);
  onSymbols((symbols) => {
    const known = [...symbol.options].map((o) => o.value).join();
    if (known === symbols.join() || !symbols.length) return;
    const chosen = symbol.value;
    symbol.replaceChildren(...symbols.map((s) => el('option', { selected: s === chosen }, s)));
    if (symbol.value !== chosen) redraw();
  });
  poll(config.chartPollMs, draw);
}
