// The peer: Tulip Indicators (the tulind package) over 4,000 generated bars. Prints one line
// per indicator, "tulip NAME ns_per_bar X", the median of 15 timed runs of 200 passes each.
// usage: node tulip_peer.js NODE_MODULES_DIR
const path = require('path');
const tulind = require(path.join(process.argv[2], 'tulind'));
const bars = 4000;
const close = new Float64Array(bars);
let seed = 7, p = 10;
for (let i = 0; i < bars; ++i) {
    seed = (seed * 1103515245 + 12345) % 2147483648;
    p = Math.max(1, p * (1 + (seed / 2147483648 - 0.5) * 0.04));
    close[i] = p;
}
const input = Array.from(close);
const cases = [
    ['MACD', 'macd', [12, 26, 9]],
    ['EMA', 'ema', [12]],
    ['MA', 'sma', [20]],
    ['STD', 'stddev', [20]],
];
for (const [label, name, options] of cases) {
    const ind = tulind.indicators[name];
    let sink = 0;
    const run = () => ind.indicator([input], options, (err, results) => {
        if (err) throw new Error(err);
        sink += results[0][results[0].length - 1];
    });
    for (let i = 0; i < 50; ++i) run();  // warm-up
    const times = [];
    for (let r = 0; r < 15; ++r) {
        const start = process.hrtime.bigint();
        for (let i = 0; i < 200; ++i) run();
        times.push(Number(process.hrtime.bigint() - start) / (200 * bars));
    }
    times.sort((a, b) => a - b);
    console.log(`tulip ${label} ns_per_bar ${times[7].toFixed(3)}${sink === 0.123 ? ' ' : ''}`);
}
