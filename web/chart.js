// Chart: candlesticks of one symbol's bid or ask bars for one period, from
// its price-bar board. The chart library is loaded on its own, so that a
// page without it still shows every other panel.
import { ApiError, ask, records } from './api.js';
import config from './config.js';
import { utcSeconds } from './format.js';
import { onSymbols } from './offers.js';
import { el, panel } from './ui.js';

// The library draws times as UTC: shift them so that it shows local time.
const kShift = -new Date().getTimezoneOffset() * 60;

export function candles(bars, side) {
  const byTime = new Map();
  for (const bar of bars) {
    const time = utcSeconds(bar.StartDate);
    if (Number.isFinite(time)) byTime.set(time + kShift, { time: time + kShift, open: +bar[`${side}Open`], high: +bar[`${side}High`], low: +bar[`${side}Low`], close: +bar[`${side}Close`] });
  }
  return [...byTime.values()].sort((a, b) => a.time - b.time);
}

export async function start() {
  const chart = panel('chart');
  const symbol = el('select', { id: 'chart-symbol' }, el('option', {}, config.chartSymbol));
  const period = el('select', { id: 'chart-period' }, config.periods.map((p) => el('option', {}, p)));
  const side = el('select', { id: 'chart-side' }, el('option', { value: 'Bid' }, 'Bid'), el('option', { value: 'Ask' }, 'Ask'));
  chart.root.querySelector('.controls').append(
    el('label', {}, 'Symbol ', symbol), el('label', {}, 'Period ', period), el('label', {}, 'Side ', side));
  const area = el('div', { class: 'chart-area', role: 'img', 'aria-label': 'Candlestick chart' });
  chart.show(area);
  let library;
  try {
    library = await import('./vendor/lightweight-charts.mjs');
  } catch {
    chart.fail(new ApiError('page', 'The chart library is missing from this installation.'));
    return;
  }
  const view = library.createChart(area, {
    autoSize: true, layout: { background: { color: 'transparent' }, textColor: '#c9d1d9' },
    grid: { vertLines: { color: '#21262d' }, horzLines: { color: '#21262d' } }, timeScale: { timeVisible: true },
  });
  const series = view.addSeries(library.CandlestickSeries, { upColor: '#3fb950', downColor: '#f85149', wickUpColor: '#3fb950', wickDownColor: '#f85149', borderVisible: false });
  const draw = () => chart.run(async () => {
    let bars = [];
    try {
      bars = records(await ask('getPriceBar', { symbol: symbol.value, period: period.value }), 'Bars');
    } catch (error) {
      if (!(error instanceof ApiError && error.kind === 'status')) throw error;
    }
    series.setData(candles(bars, side.value));
    view.timeScale().fitContent();
    chart.root.dataset.candles = series.data().length;
    chart.say(bars.length ? '' : `No ${period.value} bars for ${symbol.value}.`, bars.length ? 'info' : 'warn');
  });
  for (const control of [symbol, period, side]) control.addEventListener('change', draw);
  onSymbols((symbols) => {
    const known = [...symbol.options].map((o) => o.value).join();
    if (known === symbols.join() || !symbols.length) return;
    const chosen = symbol.value;
    symbol.replaceChildren(...symbols.map((s) => el('option', { selected: s === chosen }, s)));
    if (symbol.value !== chosen) draw();
  });
  draw();
  setInterval(draw, 15000);
}
