// Opens each page of the site in headless Chromium, where the Ruffle web player plays the movie,
// waits until the movie has stopped at its chosen frame, and compares the picture on the page with
// the frame the project's own player drew (raw RGBA written beside the page).
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

function compare(c, got, expected) {
  const mismatches = [];
  let worst = 0;
  for (let i = 0; i < c.width * c.height; ++i) {
    let diff = 0;
    for (let k = 0; k < 3; ++k) diff = Math.max(diff, Math.abs(got[4 * i + k] - expected[4 * i + k]));
    worst = Math.max(worst, diff);
    if (diff > 0) {
      mismatches.push(`(${i % c.width},${Math.floor(i / c.width)}) ruffle ${got.slice(4 * i, 4 * i + 3)}` +
                      ` player ${Array.from(expected.slice(4 * i, 4 * i + 3))}`);
    }
  }
  return { mismatches, worst };
}

// Plays one case's page; true when its picture matches.
async function check(context, origin, c) {
  const started = Date.now();
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(`${origin}/${c.page}`);
  const player = await page.waitForSelector('ruffle-object, ruffle-embed', { timeout: 30000 });
  // Loaded (ready state 2) and playing: from here the movie runs toward its stop.
  await page.waitForFunction(() => {
    const p = document.querySelector('ruffle-object, ruffle-embed');
    return p && p.readyState === 2 && p.metadata;
  }, null, { timeout: 30000, polling: 50 });
  const box = await player.boundingBox();
  const shot = await settledPicture(page, { x: box.x, y: box.y, width: c.width, height: c.height },
                                    c.seconds);
  const got = await decode(page, shot);
  const expected = fs.readFileSync(path.join(site, c.expected));
  const { mismatches, worst } = compare(c, got, expected);
  const ok = mismatches.length === 0;
  if (ok) {
    console.log(`ok ${c.name}: ${c.width} x ${c.height} pixels equal (${Date.now() - started} ms)`);
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
  const cases = JSON.parse(fs.readFileSync(path.join(site, 'cases.json'), 'utf8'));
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
    if (url.startsWith(origin + '/')) return route.continue();
    outside.push(url);
    return route.abort();
  });
  await context.addInitScript(() => {
    window.RufflePlayer = window.RufflePlayer || {};
    window.RufflePlayer.config = {
      autoplay: 'on', unmuteOverlay: 'hidden', splashScreen: false, letterbox: 'off',
      contextMenu: 'off', warnOnUnsupportedContent: false, showSwfDownload: false,
      openUrlMode: 'deny', allowNetworking: 'none', logLevel: 'error',
    };
  });
  // One page at a time: the web player is heavy on the CPU, and pages side by side only slow
  // each other down.
  let failed = 0;
  for (const c of cases) {
    if (!(await check(context, origin, c))) ++failed;
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
