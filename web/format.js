// Numbers and times as a trader reads them. The program writes times as
// UTC texts ("2026/12/05 00:30:00"); the page shows them in local time.

export function number(value, digits = 2) {
  const n = Number(value);
  if (!Number.isFinite(n)) return '';
  return n.toLocaleString('en-US', { minimumFractionDigits: digits, maximumFractionDigits: digits });
}

// Digits enough for a price quoted in steps of `pointSize`.
export function priceDigits(pointSize) {
  const p = Number(pointSize);
  return p > 0 && p < 1 ? Math.min(8, Math.round(-Math.log10(p)) + 1) : 2;
}

export function signClass(value) {
  const n = Number(value);
  return n > 0 ? 'up' : n < 0 ? 'down' : '';
}

export function utcSeconds(text) {
  const m = /^(\d{4})\/(\d\d)\/(\d\d) (\d\d):(\d\d):(\d\d)$/.exec(text ?? '');
  return m ? Date.UTC(+m[1], m[2] - 1, +m[3], +m[4], +m[5], +m[6]) / 1000 : NaN;
}

// "2026/12/05 09:30:00" in local time; "" for the program's "no time" (before 1970).
export function localTime(text, withDate = true) {
  const seconds = utcSeconds(text);
  if (!(seconds >= 0)) return '';
  const d = new Date(seconds * 1000), two = (n) => String(n).padStart(2, '0');
  const time = `${two(d.getHours())}:${two(d.getMinutes())}:${two(d.getSeconds())}`;
  return withDate ? `${d.getFullYear()}/${two(d.getMonth() + 1)}/${two(d.getDate())} ${time}` : time;
}

// A date input's "2026-12-05" as the desk's "2026/12/05 00:00:00" (or 23:59:59 for an end).
export function dateParam(value, end = false) {
  return value ? `${value.replaceAll('-', '/')} ${end ? '23:59:59' : '00:00:00'}` : undefined;
}
