// Opens each page of the site in headless Chromium, where the Ruffle web player plays the movie,
// waits until the movie has stopped at its chosen frame, and compares the picture on the page with
// the frame the project's own player drew (raw RGBA written beside the page). A recording in parts
// must show each part's picture in order, and the page the part on show; pages that cannot play
// (opened from disk, the web player missing) must say so in words. The web player's public address,
// which pages load by default, is served from the local copy.
//
// Usage: node ruffle_test.cjs SITEDIR NODE_MODULES CHROMIUM
// Exit status: 0 all pages match, 1 a mismatch or failure, 77 the browser could not be started.
'use strict';

const fs = require('fs');
const http = require('http');
const path = require('path');

const [site, nodeModules, chromiumPath] = process.argv.slice(2);
const { chromium } = require(path.join(nodeModules, 'playwright-core'));

const kSkip = 77;
const kTypes = {
  '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
  '.swf': 'application/x-shockwave-flash', '.map': 'application/json',
};

// A static server for the site on 127.0.0.1; nothing else is reached.
function serve() {
  const root = fs.realpathSync(site);
  const server = http.createServer((req, res) => {
    const file = path.join(root, decodeURIComponent(new URL(req.url, 'http://x').pathname));
    let real;
    try {
      real = fs.realpathSync(file);
    } catch {
      res.writeHead(404).end();
      return;
    }
    // Cacheable, so the web player's code is fetched and compiled once for all the pages.
    res.writeHead(200, { 'Content-Type': kTypes[path.extname(real)] || 'application/octet-stream',
                         'Cache-Control': 'max-age=3600' });
    fs.createReadStream(real).pipe(res);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// The screenshot's pixels, decoded by the browser itself without colour conversion.
async function decode(page, png) {
  return page.evaluate(async (b64) => {
    const bytes = Uint8Array.from(atob(b64), (c) => c.charCodeAt(0));
    const bitmap = await createImageBitmap(new Blob([bytes], { type: 'image/png' }),
                                           { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
    const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
    const ctx = canvas.getContext('2d');
    ctx.drawImage(bitmap, 0, 0);
    return Array.from(ctx.getImageData(0, 0, bitmap.width, bitmap.height).data);
  }, png.toString('base64'));
}

// Screenshots of the player's box until two in a row agree, after the movie had time to reach
// its stop.
async function settledPicture(page, box, seconds) {
  await page.waitForTimeout(seconds * 1000 + 200);
  let last = null;
  for (let i = 0; i < 40; ++i) {
    const shot = await page.screenshot({ clip: box, animations: 'allow' });
    if (last && shot.equals(last)) return shot;
    last = shot;
    await page.waitForTimeout(150);
  }
  return last;
}

// A pixel matches when no channel differs by more than the case's tolerance (0 unless given: the
// JPEG decoders of the web player and of the project's player round differently).
function compare(c, got, expected) {
  const mismatches = [];
  let worst = 0;
  for (let i = 0; i < c.width * c.height; ++i) {
    let diff = 0;
    for (let k = 0; k < 3; ++k) diff = Math.max(diff, Math.abs(got[4 * i + k] - expected[4 * i + k]));
    worst = Math.max(worst, diff);
    if (diff > (c.tolerance || 0)) {
      mismatches.push(`(${i % c.width},${Math.floor(i / c.width)}) ruffle ${got.slice(4 * i, 4 * i + 3)}` +
                      ` player ${Array.from(expected.slice(4 * i, 4 * i + 3))}`);
    }
  }
  return { mismatches, worst };
}

const kNoPlayerWords = 'No Flash player could show this recording here';

// Opens the page and waits until the web player has loaded the movie (ready state 2) and plays
// it: from there the movie runs toward its stop.
async function openPlaying(context, origin, c) {
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  // A quiet case (a movie with sound) must also leave the web player's log without an error.
  if (c.quiet) page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  await page.goto(`${origin}/${c.page}`);
  const player = await page.waitForSelector('ruffle-object, ruffle-embed', { timeout: 30000 });
  await page.waitForFunction(() => {
    const p = document.querySelector('ruffle-object, ruffle-embed');
    return p && p.readyState === 2 && p.metadata;
  }, null, { timeout: 30000, polling: 50 });
  return { page, player, errors };
}

// A recording in parts: samples the picture and the page's part label while it plays, until the
// last part shows or time is up; each part's picture must come once, in order, with its label.
async function checkSequence(context, origin, c) {
  const started = Date.now();
  const { page, player, errors } = await openPlaying(context, origin, c);
  const box = await player.boundingBox();
  const clip = { x: box.x, y: box.y, width: c.width, height: c.height };
  const expected = c.expected.map((e) => fs.readFileSync(path.join(site, e)));
  if (expected.some((e, i) => expected.findIndex((f) => f.equals(e)) !== i)) {
    console.log(`FAIL ${c.name}: two parts show the same picture, so their order cannot be seen`);
    await page.close();
    return false;
  }
  const shown = [], labels = [];
  let last = null;
  const deadline = Date.now() + c.seconds * 1000;
  while (Date.now() < deadline && !(shown.at(-1) === expected.length - 1 && labels.at(-1) ===
         `part ${expected.length} of ${expected.length}`)) {
    last = await page.screenshot({ clip, animations: 'allow' });
    const got = await decode(page, last);
    const label = await page.evaluate(() => {
      const e = document.getElementById('kestrova-part');
      return e && !e.hidden ? e.textContent : null;
    });
    const part = expected.findIndex((e) => compare(c, got, e).mismatches.length === 0);
    if (part >= 0 && shown.at(-1) !== part) shown.push(part);
    if (label && labels.at(-1) !== label) labels.push(label);
  }
  const wantShown = expected.map((_, i) => i);
  const wantLabels = expected.map((_, i) => `part ${i + 1} of ${expected.length}`);
  const ok = JSON.stringify(shown) === JSON.stringify(wantShown) &&
             JSON.stringify(labels) === JSON.stringify(wantLabels);
  const seen = `parts shown ${JSON.stringify(shown.map((i) => i + 1))}, labels ${JSON.stringify(labels)}`;
  if (!ok && last) fs.writeFileSync(path.join(site, `${c.name}.ruffle.png`), last);
  console.log(ok ? `ok ${c.name}: ${seen} (${Date.now() - started} ms)`
                 : `FAIL ${c.name}: ${seen}; wanted parts ${JSON.stringify(wantShown.map((i) => i + 1))}`);
  for (const e of errors) console.log(`  ${c.name}: page error: ${e}`);
  await page.close();
  return ok;
}

// A slideshow: samples the picture while it plays until every slide has shown, in order; each
// must match the project's player's frame of it (PNG) within the tolerance.
async function checkSlides(context, origin, c) {
  const started = Date.now();
  const { page, player, errors } = await openPlaying(context, origin, c);
  const box = await player.boundingBox();
  const clip = { x: box.x, y: box.y, width: c.width, height: c.height };
  const expected = [];
  for (const e of c.expected) expected.push(await decode(page, fs.readFileSync(path.join(site, e))));
  if (expected.some((e, i) => i > 0 && compare(c, e, expected[i - 1]).mismatches.length === 0)) {
    console.log(`FAIL ${c.name}: two slides look alike, so their order cannot be seen`);
    await page.close();
    return false;
  }
  const shown = [];
  let closest = Infinity, last = null;
  const deadline = Date.now() + c.seconds * 1000;
  while (Date.now() < deadline && shown.length < expected.length) {
    last = await page.screenshot({ clip, animations: 'allow' });
    const got = await decode(page, last);
    const next = expected[shown.length];
    const { mismatches, worst } = compare(c, got, next);
    if (mismatches.length === 0) {
      shown.push(worst);
    } else {
      closest = Math.min(closest, mismatches.length);
    }
  }
  const ok = shown.length === expected.length;
  if (!ok && last) fs.writeFileSync(path.join(site, `${c.name}.ruffle.png`), last);
  console.log(ok ? `ok ${c.name}: ${shown.length} slides in order, largest channel difference ` +
                   `${Math.max(...shown)} (${Date.now() - started} ms)`
                 : `FAIL ${c.name}: ${shown.length} of ${expected.length} slides seen; slide ` +
                   `${shown.length + 1} came no closer than ${closest} pixels off`);
  for (const e of errors) console.log(`  ${c.name}: page error: ${e}`);
  await page.close();
  return ok;
}

// A page that cannot play: the element of words shows, and no web player shows its own panel.
async function checkWords(context, origin, c) {
  const page = await context.newPage();
  const url = c.kind === 'file' ? `file://${path.join(fs.realpathSync(site), c.page)}`
                                : `${origin}/${c.page}`;
  await page.goto(url);
  const words = c.kind === 'file' ? '#kestrova-file' : '#kestrova-noplayer';
  let ok = true;
  const fail = (why) => {
    console.log(`FAIL ${c.name}: ${why}`);
    ok = false;
  };
  try {
    await page.waitForSelector(words, { state: 'visible', timeout: 15000 });
  } catch {
    fail(`${words} did not show`);
  }
  const text = ok ? await page.locator(words).innerText() : '';
  if (ok && !text.includes('kestrova view')) fail(`${words} gives no command: ${text}`);
  if (await page.$('ruffle-object, ruffle-embed')) fail('a web player stands in the page');
  if (c.kind === 'noplayer' && !(await page.getByText(kNoPlayerWords).isVisible())) {
    fail('the object shows no words in place of the movie');
  }
  if (ok) console.log(`ok ${c.name}: "${text}"`);
  await page.close();
  return ok;
}

// Plays one case's page; true when its picture matches.
async function check(context, origin, c) {
  const started = Date.now();
  const { page, player, errors } = await openPlaying(context, origin, c);
  if (await page.getByText(kNoPlayerWords).isVisible()) {
    console.log(`FAIL ${c.name}: the words for a browser without a player show beside the movie`);
    await page.close();
    return false;
  }
  const box = await player.boundingBox();
  const shot = await settledPicture(page, { x: box.x, y: box.y, width: c.width, height: c.height },
                                    c.seconds);
  const got = await decode(page, shot);
  const expected = fs.readFileSync(path.join(site, c.expected));
  const { mismatches, worst } = compare(c, got, expected);
  const ok = mismatches.length === 0 && !(c.quiet && errors.length);
  if (ok) {
    console.log(`ok ${c.name}: ${c.width} x ${c.height} pixels equal (${Date.now() - started} ms)`);
  } else if (mismatches.length === 0) {
    console.log(`FAIL ${c.name}: the pixels are equal, but the web player reported errors`);
  } else {
    fs.writeFileSync(path.join(site, `${c.name}.ruffle.png`), shot);
    console.log(`FAIL ${c.name}: ${mismatches.length} of ${c.width * c.height} pixels differ ` +
                `(largest channel difference ${worst}); first: ${mismatches.slice(0, 5).join('; ')}`);
  }
  for (const e of errors) console.log(`  ${c.name}: page error: ${e}`);
  await page.close();
  return ok;
}

async function main() {
  // KESTROVA_BROWSER_CASES, a pattern, runs only the cases whose names match it.
  const only = new RegExp(process.env.KESTROVA_BROWSER_CASES || '');
  const cases = JSON.parse(fs.readFileSync(path.join(site, 'cases.json'), 'utf8'))
    .filter((c) => only.test(c.name));
  const server = await serve();
  const origin = `http://127.0.0.1:${server.address().port}`;
  let browser;
  try {
    browser = await chromium.launch({
      executablePath: chromiumPath,
      headless: true,
      args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader'],
    });
  } catch (e) {
    console.log(`SKIP: Chromium at ${chromiumPath} could not be started: ${e.message.split('\n')[0]}`);
    server.close();
    return kSkip;
  }
  const context = await browser.newContext({ viewport: { width: 400, height: 300 }, deviceScaleFactor: 1 });
  const outside = [];
  await context.route('**/*', (route) => {
    const url = route.request().url();
    if (url.startsWith(origin + '/') || url.startsWith('file:')) return route.continue();
    outside.push(url);
    return route.abort();
  });
  // The public address of the web player, answered from the local copy; routes added later
  // take precedence over the one above.
  const publicPlayer = fs.readFileSync(path.join(site, 'default-web-player.txt'), 'utf8').trim();
  const publicFolder = publicPlayer.slice(0, publicPlayer.lastIndexOf('/') + 1);
  await context.route(`${publicFolder}**`, (route) => {
    const file = path.join(nodeModules, '@ruffle-rs', 'ruffle',
                           new URL(route.request().url()).pathname.split('/').pop());
    if (!fs.existsSync(file)) return route.fulfill({ status: 404 });
    return route.fulfill({ path: file, contentType: kTypes[path.extname(file)] || 'application/octet-stream' });
  });
  await context.addInitScript(() => {
    window.RufflePlayer = window.RufflePlayer || {};
    window.RufflePlayer.config = {
      autoplay: 'on', unmuteOverlay: 'hidden', splashScreen: false, letterbox: 'off',
      contextMenu: 'off', warnOnUnsupportedContent: false, showSwfDownload: false,
      // Networking on: a part loads the next part. Other hosts are refused all the same.
      openUrlMode: 'deny', allowNetworking: 'all', logLevel: 'error',
    };
  });
  // One page at a time: the web player is heavy on the CPU, and pages side by side only slow
  // each other down.
  let failed = 0;
  for (const c of cases) {
    const run = c.kind === 'sequence' ? checkSequence : c.kind === 'slides' ? checkSlides
      : c.kind === 'file' || c.kind === 'noplayer' ? checkWords : check;
    if (!(await run(context, origin, c))) ++failed;
  }
  await browser.close();
  server.close();
  if (outside.length) {
    console.log(`FAIL: the pages tried to reach other hosts: ${outside.join(', ')}`);
    ++failed;
  }
  console.log(`${cases.length - failed} of ${cases.length} pages match the player`);
  return failed ? 1 : 0;
}

main().then((code) => process.exit(code), (e) => {
  console.log(`FAIL: ${e.stack || e}`);
  process.exit(1);
});
