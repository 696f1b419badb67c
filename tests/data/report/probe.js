// Appended to a copy of a report page by tests/report_cli.cmake: measures the
// drawn page and writes what it found into the DOM for --dump-dom.
(function () {
  const expected = @EXPECTED@;  // [[unit, "HH:MM:SS"], ...] from the expected facts
  const out = [];
  const svg = document.querySelector('svg.timeline');
  out.push('lanes ' + svg.querySelectorAll('g.lane').length);
  const centre = (e) => {
    const b = e.getBoundingClientRect();
    return { x: b.left + b.width / 2, y: b.top + b.height / 2, h: b.height };
  };
  // The time scale as the axis labels draw it, in minutes after noon.
  const ticks = [...svg.querySelectorAll('text.tick')].map((t) => {
    const [h, m] = t.textContent.split(':').map(Number);
    return { x: centre(t).x, min: (h * 60 + m - 720 + 1440) % 1440 };
  });
  const perMin = (ticks[1].x - ticks[0].x) / (ticks[1].min - ticks[0].min);
  const minutesAt = (x) => ticks[0].min + (x - ticks[0].x) / perMin;
  const marks = [...svg.querySelectorAll('g.fail path')].map(centre);
  let found = 0;
  for (const [unit, time] of expected) {
    const lane = [...svg.querySelectorAll('g.lane')].find((g) => g.dataset.unit === unit);
    if (!lane) continue;
    const row = centre(lane.querySelector('text.unit'));
    const [h, m, s] = time.split(':').map(Number);
    const want = (h * 60 + m + s / 60 - 720 + 1440) % 1440;
    if (marks.some((k) => Math.abs(k.y - row.y) < row.h && Math.abs(minutesAt(k.x) - want) < 3)) found++;
  }
  out.push('failures ' + found + '/' + expected.length + ' of ' + marks.length);
  const root = document.documentElement;
  out.push('width ' + (root.scrollWidth <= root.clientWidth ? 'fits' : root.scrollWidth + '>' + root.clientWidth));
  const pre = document.createElement('pre');
  pre.id = 'probe';
  pre.textContent = out.join('; ');
  document.body.appendChild(pre);
})();
