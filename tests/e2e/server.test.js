// The document-drop server as a user meets it in a browser: the login, upload
// through the form, the list, a download, a delete, the live log tail, a
// hostile name, pages of other sites that try to act with the user's session,
// the log-out. One walk through the pages, in order, against a server started
// on a free port with a fresh data folder. Waits are on page conditions only.
//
// Environment: VXK_E2E_SERVER (the vxhost binary), VXK_E2E_ARTIFACTS (where
// the screenshots go), VXK_E2E_CHROMIUM (default /usr/bin/chromium),
// VXK_E2E_DOCS (when set, the screenshots of the list's last test are also
// copied there, as docs/server-list.png and docs/server-list-phone.png).
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const {spawn, execFileSync} = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const zlib = require('node:zlib');
const crypto = require('node:crypto');
const http = require('node:http');
const {chromium} = require('playwright-core');

const server = process.env.VXK_E2E_SERVER;
const artifacts = process.env.VXK_E2E_ARTIFACTS || os.tmpdir();

// Starts `vxhost serve` on port 0 and resolves with its base address, read
// from the first line it prints.
function startServer(dataDir) {
  const child = spawn(server, ['serve', '--listen', '127.0.0.1:0', '--data', dataDir],
                      {cwd: dataDir, stdio: ['ignore', 'pipe', 'inherit']});
  const base = new Promise((resolve, reject) => {
    let out = '';
    child.stdout.on('data', (chunk) => {
      out += chunk;
      const m = /listening on (http:\/\/\S+\/)/.exec(out);
      if (m) resolve(m[1]);
    });
    child.on('exit', (code, signal) => reject(new Error(`server exited (${code ?? signal}) before listening:\n${out}`)));
  });
  child.stdout.resume();
  return {child, base};
}

// Submits a form the way a user does and ends on the list page, whether the
// server answered with a redirect to it or with a page of its own.
async function submit(page, button, action, root) {
  const [response] = await Promise.all([
    page.waitForResponse((r) => r.request().method() === 'POST' && new URL(r.url()).pathname === action),
    button.click(),
  ]);
  assert.ok(response.status() < 400, `POST ${action} answered ${response.status()}`);
  await page.waitForLoadState();
  if (page.url() !== root) await page.goto(root);
}

// The user of the walk, made with the command line before the server starts.
const user = {name: 'alice', password: 'correct horse battery staple'};

function addUser(dataDir) {
  execFileSync(server, ['user', 'add', user.name, '--data', dataDir],
               {input: user.password + '\n', stdio: ['pipe', 'inherit', 'inherit']});
}

// Another site's pages, each aimed at the server at target while the user
// is logged in there: a form that submits a file by itself, a no-cors fetch
// with the user's cookies, and a frame of the document list. The file of the
// first two is named `planted`; the frame says when it has loaded.
function startOtherSite(target, planted) {
  const file = `const file = new File(['planted'], '${planted}', {type: 'text/plain'});`;
  const pages = {
    '/form': `<form method="post" enctype="multipart/form-data" action="${target}upload">` +
             `<input type="file" name="file"></form><script>${file}
const chosen = new DataTransfer();
chosen.items.add(file);
document.forms[0].file.files = chosen.files;
document.forms[0].submit();</script>`,
    '/fetch': `<script>${file}
const body = new FormData();
body.append('file', file);
fetch('${target}upload', {method: 'POST', mode: 'no-cors', body, credentials: 'include'});</script>`,
    '/frame': `<iframe src="${target}" onload="document.title = 'loaded'"></iframe>`,
  };
  const site = http.createServer((req, res) => {
    const body = pages[req.url];
    res.writeHead(body ? 200 : 404, {'Content-Type': 'text/html; charset=utf-8'});
    res.end(body ? `<!DOCTYPE html>\n<html><body>${body}</body></html>\n` : '');
  });
  return new Promise((resolve) => site.listen(0, '127.0.0.1', () => resolve(site)));
}

function stopServer(child) {
  if (child.exitCode !== null || child.signalCode !== null) return Promise.resolve({code: child.exitCode});
  return new Promise((resolve) => {
    child.on('exit', (code, signal) => resolve({code, signal}));
    child.kill('SIGTERM');
  });
}

// The three uploads: names a user could really have, contents whose type
// libmagic settles without doubt.
const files = [
  // A name that runs a script if the list page does not escape it.
  {name: '<script>alert(1)</script>.txt', mimeType: 'text/plain',
   buffer: Buffer.from('Meeting notes\nBring the <b>slides</b> & the minutes.\n'), type: 'text/plain'},
  {name: 'report.html', mimeType: 'text/html',
   buffer: Buffer.from('<!DOCTYPE html>\n<html><head><title>Q3 &amp; Q4 report</title></head>\n' +
                       '<body><p>Figures follow.</p></body></html>\n'),
   type: 'text/html', title: 'Q3 & Q4 report'},
  // Compressed random bytes: every byte value, several read buffers long.
  {name: 'archive.gz', mimeType: 'application/octet-stream',
   buffer: zlib.gzipSync(crypto.randomBytes(300 * 1024)), type: 'application/gzip'},
];

// A server on a fresh data folder with the test user (setup(dataDir) may
// write files first) and a browser. When t ends the server is stopped
// first, as a user would stop it, with the browser's connections still
// open, and must shut down cleanly; then the browser and the folder go.
async function serverAndBrowser(t, name, setup) {
  const dataDir = fs.mkdtempSync(path.join(os.tmpdir(), `vxhost-e2e-${name}-`));
  addUser(dataDir);
  if (setup) setup(dataDir);
  const {child, base} = startServer(dataDir);
  let browser = null;
  t.after(async () => {
    const exit = await stopServer(child);
    try {
      if (browser) await browser.close();
    } finally {
      fs.rmSync(dataDir, {recursive: true, force: true});
    }
    assert.deepStrictEqual(exit, {code: 0, signal: null}, 'the server shuts down cleanly on SIGTERM');
  });
  const root = await base;
  // Headless Chromium, as root without its sandbox (which needs a user).
  browser = await chromium.launch({
    executablePath: process.env.VXK_E2E_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : [],
  });
  return {root, browser, dataDir};
}

// A new page of context, logged in as the test user on the list; the
// page's Content-Security-Policy refusals are collected in policyErrors.
async function logIn(context, root) {
  const page = await context.newPage();
  const policyErrors = [];
  page.on('console', (m) => { if (/Content Security Policy/.test(m.text())) policyErrors.push(m.text()); });
  await page.goto(root);
  await page.fill('#login input[name=user]', user.name);
  await page.fill('#login input[name=password]', user.password);
  await submit(page, page.locator('#login button'), '/login', root);
  return {page, policyErrors};
}

test('a user logs in, uploads, lists, downloads and deletes documents, watches the log and logs out', async (t) => {
  assert.ok(server, 'VXK_E2E_SERVER names the vxhost binary');
  // The server stops with the browser's connections (the log page's long
  // poll among them) still open.
  const {root, browser} = await serverAndBrowser(t, 'walk');
  let otherSite = null;
  t.after(() => { if (otherSite) otherSite.close(); });
  const context = await browser.newContext({acceptDownloads: true});
  context.setDefaultTimeout(60000);
  const dialogs = [];
  context.on('page', (p) => p.on('dialog', (d) => { dialogs.push(d.message()); d.dismiss(); }));
  // The pages carry no inline script or style, which their policy would
  // refuse with a console error.
  const policyErrors = [];
  const watchPolicy = (p) => p.on('console', (m) => {
    if (/Content Security Policy/.test(m.text())) policyErrors.push(`${p.url()}: ${m.text()}`);
  });
  const page = await context.newPage();
  watchPolicy(page);

  // Without a session every page leads to the login.
  await page.goto(root);
  assert.strictEqual(page.url(), root + 'login');
  await page.fill('#login input[name=user]', user.name);
  await page.fill('#login input[name=password]', user.password);
  await submit(page, page.locator('#login button'), '/login', root);
  assert.strictEqual(await page.locator('nav .user').textContent(), user.name);

  // The log page, open before anything happens; its tail must grow in place.
  const logPage = await context.newPage();
  watchPolicy(logPage);
  await logPage.goto(root + 'log');
  await logPage.evaluate(() => { window.notReloaded = true; });

  await page.setInputFiles('#upload input[type=file][name=file]',
                           files.map(({name, mimeType, buffer}) => ({name, mimeType, buffer})));
  await page.fill('#upload input[name=note]', 'quarterly papers');
  await submit(page, page.locator('#upload [type=submit], #upload button').first(), '/upload', root);

  const row = (name) => page.locator('#docs tr').filter({has: page.locator('td.name', {hasText: name})});
  for (const f of files) {
    const r = row(f.name);
    await r.waitFor();
    // textContent equal to the raw name: the name was escaped, not parsed.
    assert.strictEqual(await r.locator('td.name').textContent(), f.name);
    assert.strictEqual((await r.locator('td.type').textContent()).trim(), f.type, `type of ${f.name}`);
    if (f.title) assert.strictEqual((await r.locator('td.title').textContent()).trim(), f.title);
    assert.strictEqual((await r.locator('td.note').textContent()).trim(), 'quarterly papers');
  }
  assert.strictEqual(await page.locator('#docs script').count(), 0);
  await page.screenshot({path: path.join(artifacts, 'server-list.png'), fullPage: true});

  // On a phone: a name of 300 characters without a break neither widens the
  // page nor pushes its row's actions out of view.
  const long = 'L'.repeat(296) + '.txt';
  await page.setInputFiles('#upload input[type=file][name=file]',
                           [{name: long, mimeType: 'text/plain', buffer: Buffer.from('long name\n')}]);
  await submit(page, page.locator('#upload [type=submit], #upload button').first(), '/upload', root);
  const wide = page.viewportSize();
  await page.setViewportSize({width: 375, height: 800});
  const longRow = row('L'.repeat(100));
  await longRow.waitFor();
  const [scrollWidth, clientWidth] = await page.evaluate(
    () => [document.documentElement.scrollWidth, document.documentElement.clientWidth]);
  assert.ok(scrollWidth <= clientWidth, `the page scrolls sideways at 375 px: ${scrollWidth} > ${clientWidth}`);
  for (const control of [longRow.locator('a.download'), longRow.locator('form.delete button')]) {
    await control.scrollIntoViewIfNeeded();
    const box = await control.boundingBox();
    assert.ok(box.x >= 0, `${await control.textContent()} starts left of the screen`);
    assert.ok(box.x + box.width <= 375, `${await control.textContent()} ends right of the screen`);
  }
  // The list at 375 px and wide, light and dark, kept beside the screenshot above.
  for (const colorScheme of ['light', 'dark']) {
    await page.emulateMedia({colorScheme});
    for (const [size, name] of [[{width: 375, height: 800}, 'phone'], [wide, 'wide']]) {
      await page.setViewportSize(size);
      await page.screenshot({path: path.join(artifacts, `server-list-${name}-${colorScheme}.png`), fullPage: true});
    }
  }
  assert.notStrictEqual(await page.evaluate(() => getComputedStyle(document.body).backgroundColor),
                        'rgb(255, 255, 255)', 'the list is dark when the system is');
  await page.emulateMedia({colorScheme: 'light'});

  // Times arrive in UTC and read in the browser's own time zone.
  const zoned = await browser.newContext({storageState: await context.storageState(), timezoneId: 'Asia/Kathmandu'});
  const zonedPage = await zoned.newPage();
  watchPolicy(zonedPage);
  await zonedPage.goto(root);
  const time = zonedPage.locator('#docs time').first();
  const at = await time.getAttribute('datetime');
  const sent = await (await context.request.get(root)).text();
  const utc = sent.split(`<time datetime="${at}">`)[1].split('</time>')[0];
  assert.match(utc, / UTC$/);
  assert.notStrictEqual(await time.textContent(), utc, 'the time is shown in the browser\'s zone');
  await zoned.close();

  // Download the binary through its link: same bytes, its name, its type.
  const binary = files[2];
  const [download] = await Promise.all([page.waitForEvent('download'), row(binary.name).locator('a.download').click()]);
  assert.strictEqual(download.suggestedFilename(), binary.name);
  assert.ok(fs.readFileSync(await download.path()).equals(binary.buffer), 'downloaded bytes equal the upload');
  const href = await row(binary.name).locator('a.download').getAttribute('href');
  const fetched = await context.request.get(new URL(href, root).href);
  assert.strictEqual(fetched.headers()['content-type'].split(';')[0], binary.type);

  // Delete the HTML document: its row and its download go, the others stay.
  const html = files[1];
  const htmlHref = await row(html.name).locator('a.download').getAttribute('href');
  const htmlKey = htmlHref.split('/').pop();
  await submit(page, row(html.name).locator('form.delete [type=submit], form.delete button').first(),
               `/doc/${htmlKey}/delete`, root);
  await row(files[0].name).waitFor();
  assert.strictEqual(await row(html.name).count(), 0);
  assert.strictEqual(await row(binary.name).count(), 1);
  assert.strictEqual((await context.request.get(new URL(htmlHref, root).href)).status(), 404);

  // The log page, opened before the upload and never reloaded, has taken in
  // the events about the deleted document since.
  await logPage.waitForFunction(([key, name]) => {
    const text = document.getElementById('log').textContent;
    return text.includes(key) || text.includes(name);
  }, [htmlKey, html.name]);
  assert.ok(await logPage.evaluate(() => window.notReloaded === true), 'the log page was not reloaded');

  // Another site's pages act with the live session. From the same host on
  // another port (the same site, another origin) the browser sends the
  // cookie along and the server must refuse the request itself; from
  // another host name SameSite=Strict keeps the cookie home and the server
  // sees a visitor without a session.
  const planted = 'planted.txt';
  otherSite = await startOtherSite(root, planted);
  const port = otherSite.address().port;
  const refusal = 'refused POST /upload from 127.0.0.1: it came from another site';
  // Waits until the log page shows the refusal n times.
  const refused = (n) => logPage.waitForFunction(
    ([line, times]) => document.getElementById('log').textContent.split(line).length - 1 >= times, [refusal, n]);
  let refusals = 0;
  for (const {origin, status} of [{origin: `http://127.0.0.1:${port}`, status: 403},
                                  {origin: `http://localhost:${port}`, status: 303}]) {
    for (const attack of ['/form', '/fetch']) {
      // A page of its own for each, left open: a refused form's page may
      // still be following the answer's redirect.
      const attacker = await context.newPage();
      const [response] = await Promise.all([
        attacker.waitForResponse((r) => r.request().method() === 'POST' && r.url() === root + 'upload'),
        attacker.goto(origin + attack, {waitUntil: 'commit'}),
      ]);
      assert.strictEqual(response.status(), status, `${attack} from ${origin}`);
      if (status === 403) await refused(++refusals);
    }
    // Every page of the server links its style sheet; a refused frame shows none.
    const framing = await context.newPage();
    await framing.goto(origin + '/frame');
    await framing.waitForFunction(() => document.title === 'loaded');
    const frame = await (await framing.$('iframe')).contentFrame();
    assert.strictEqual(await frame.locator('link[href="/static/style.css"]').count(), 0,
                       `a page of the server was framed by ${origin}`);
  }
  await page.reload();
  assert.strictEqual(await row(planted).count(), 0, 'nothing was stored by another site');
  assert.strictEqual(await row(binary.name).count(), 1);

  assert.ok((await context.request.get(root + 'status')).ok());

  // Log out: the list is gone, and the open log page ends at the login too.
  await submit(page, page.locator('form.logout button'), '/logout', root);
  assert.strictEqual(page.url(), root + 'login');
  await logPage.waitForURL(root + 'login');

  assert.deepStrictEqual(policyErrors, [], 'no inline script or style refused on the list, log and login pages');
  assert.deepStrictEqual(dialogs, [], 'no dialog opened');
});

test('a German browser gets the German pages, and the switch turns them English', async (t) => {
  const {root, browser, dataDir} = await serverAndBrowser(t, 'lang');
  // The browser's own language setting sends Accept-Language: de-DE,...
  const context = await browser.newContext({locale: 'de-DE'});
  context.setDefaultTimeout(60000);
  const page = await context.newPage();
  const policyErrors = [];
  page.on('console', (m) => {
    if (/Content Security Policy/.test(m.text())) policyErrors.push(m.text());
  });

  await page.goto(root);
  assert.strictEqual(page.url(), root + 'login');
  assert.strictEqual(await page.getAttribute('html', 'lang'), 'de');
  await page.getByLabel('Benutzer').fill(user.name);
  await page.getByLabel('Passwort').fill(user.password);
  await submit(page, page.getByRole('button', {name: 'anmelden'}), '/login', root);
  assert.strictEqual(await page.getAttribute('html', 'lang'), 'de');
  assert.strictEqual(await page.locator('h1').textContent(), 'Dokumente');
  assert.strictEqual(await page.getByRole('button', {name: 'hochladen'}).count(), 1);
  assert.strictEqual(await page.locator('#drop').textContent(),
      'Dateien irgendwo auf dieser Seite ablegen oder hier auswählen');

  // The switch: back on the same page, in English, and so it stays.
  await page.goto(root + 'status');
  await page.getByRole('button', {name: 'English'}).click();
  await page.waitForFunction(() => document.documentElement.lang === 'en');
  assert.strictEqual(page.url(), root + 'status');
  assert.strictEqual(await page.locator('h1').textContent(), 'Status');
  await page.goto(root);
  assert.strictEqual(await page.getAttribute('html', 'lang'), 'en');
  assert.strictEqual(await page.locator('h1').textContent(), 'Documents');
  assert.strictEqual(await page.getByRole('button', {name: 'Deutsch'}).count(), 1);
  assert.deepStrictEqual(policyErrors, [], 'no inline script or style refused');
});

test('a share link made in the page downloads one document without an account until revoked or expired', async (t) => {
  const {root, browser, dataDir} = await serverAndBrowser(t, 'share');
  const context = await browser.newContext();
  context.setDefaultTimeout(60000);
  const {page, policyErrors} = await logIn(context, root);
  const shared = {name: 'shared.bin', mimeType: 'application/octet-stream', buffer: crypto.randomBytes(64 * 1024)};
  await page.setInputFiles('#upload input[type=file][name=file]', [shared]);
  await submit(page, page.locator('#upload button').first(), '/upload', root);
  const row = page.locator('#docs tr').filter({has: page.locator('td.name', {hasText: shared.name})});
  const key = (await row.locator('a.download').getAttribute('href')).split('/').pop();

  // Makes a link on the document's share page; until: a UTC date-time or ''.
  const makeLink = async (until) => {
    await page.goto(root);
    await row.locator('a.share').click();
    await page.waitForURL(`${root}doc/${key}/share`);
    if (until) await page.fill('#share input[name=until]', until);
    await Promise.all([
      page.waitForResponse((r) => r.request().method() === 'POST' && new URL(r.url()).pathname === `/doc/${key}/share`),
      page.locator('#share button').click(),
    ]);
    return page.locator('#share-link').getAttribute('href');
  };
  const link = await makeLink('');
  assert.match(link, /\/s\/[A-Za-z0-9_-]{22}$/);

  // A browser that never logged in downloads the document, and only that.
  const stranger = await browser.newContext({acceptDownloads: true});
  const strangerPage = await stranger.newPage();
  const [download] = await Promise.all([strangerPage.waitForEvent('download'),
                                        strangerPage.goto(link).catch(() => {})]);
  assert.strictEqual(download.suggestedFilename(), shared.name);
  assert.ok(fs.readFileSync(await download.path()).equals(shared.buffer), 'the shared bytes equal the upload');
  assert.strictEqual((await stranger.request.get(root, {maxRedirects: 0})).status(), 303, 'the list still needs a login');

  // The row lists the link; on a phone nothing scrolls sideways.
  await page.goto(root);
  const item = row.locator('ul.shares li');
  assert.strictEqual(await item.count(), 1);
  await page.setViewportSize({width: 375, height: 800});
  const [scrollWidth, clientWidth] = await page.evaluate(
    () => [document.documentElement.scrollWidth, document.documentElement.clientWidth]);
  assert.ok(scrollWidth <= clientWidth, `the list with a share link scrolls sideways at 375 px: ${scrollWidth}`);
  const id = await item.locator('.share-id').textContent();
  await submit(page, item.locator('form.revoke button'), `/doc/${key}/share/${id}/revoke`, root);
  assert.strictEqual(await row.locator('ul.shares li').count(), 0);
  assert.strictEqual((await stranger.request.get(link)).status(), 404, 'a revoked link is refused');

  // A link that expires in a few seconds works, then is refused.
  const soon = new Date(Date.now() + 4000).toISOString().slice(0, 19) + 'Z';
  const brief = await makeLink(soon);
  assert.strictEqual((await stranger.request.get(brief)).status(), 200);
  // Polled a few times a second: each poll is a download, and the rate cap
  // would answer a tight loop with 429.
  let status = 200;
  for (const end = Date.now() + 60000; (status === 200 || status === 429) && Date.now() < end;) {
    await new Promise((ok) => setTimeout(ok, 250));
    status = (await stranger.request.get(brief)).status();
  }
  assert.strictEqual(status, 410, 'an expired link is refused');
  await strangerPage.goto(brief);
  assert.match(await strangerPage.locator('p.error').textContent(), /expired/);
  await stranger.close();
  assert.deepStrictEqual(policyErrors, [], 'no inline script or style refused on the share pages');
});

// Files dropped onto the list page go up one request each with a bar each,
// an upload too large shows the server's message beside its bar, a held
// upload is cancelled and leaves nothing, and the list takes the new
// documents in place, in the page's own view. Without script the panel
// stays hidden and the plain form works as before.
test('files dropped on the list upload with progress and cancel, and join the list without a reload', async (t) => {
  assert.ok(server, 'VXK_E2E_SERVER names the vxhost binary');
  // A small cap, so that one dropped file is refused.
  const cap = 256 * 1024;
  const {root, browser, dataDir} = await serverAndBrowser(t, 'drop', (dataDir) => {
    fs.writeFileSync(path.join(dataDir, 'vxhost.ini'), `[server]\nmax_upload_bytes=${cap}\n`);
  });
  const context = await browser.newContext();
  context.setDefaultTimeout(60000);
  const {page, policyErrors} = await logIn(context, root);

  // A view other than the default, which the updated list must keep.
  const view = root + '?sort=name&dir=asc&page=1';
  await page.goto(view);
  await page.evaluate(() => { window.notReloaded = true; });
  // Drops files onto the list's table: the page as a whole takes them.
  const drop = async (dropped) => {
    const dataTransfer = await page.evaluateHandle((list) => {
      const chosen = new DataTransfer();
      for (const {name, base64} of list)
        chosen.items.add(new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], name));
      return chosen;
    }, dropped.map(({name, buffer}) => ({name, base64: buffer.toString('base64')})));
    for (const type of ['dragenter', 'dragover', 'drop']) await page.dispatchEvent('#docs', type, {dataTransfer});
  };
  const item = (name) => page.locator('#uploads li').filter({hasText: name});
  const state = (name) => item(name).locator('.state');
  const row = (name) => page.locator('#docs tr').filter({has: page.locator('td.name', {hasText: name})});

  const dropped = [
    {name: 'scan.bin', buffer: crypto.randomBytes(200 * 1024)},
    {name: 'naïve résumé.txt', buffer: Buffer.from('Curriculum vitae\n')},
    {name: 'minutes (draft).md', buffer: Buffer.from('# Minutes\n\n- agreed\n')},
  ];
  await drop(dropped);
  for (const f of dropped) {
    await row(f.name).waitFor();
    assert.strictEqual(await state(f.name).textContent(), 'stored', `the state of ${f.name}`);
    assert.strictEqual(await item(f.name).locator('progress').evaluate((p) => p.value), 100, `the bar of ${f.name}`);
  }
  assert.ok(await page.evaluate(() => window.notReloaded === true), 'the list page was not reloaded');
  assert.strictEqual(page.url(), view);
  assert.strictEqual(await page.locator('#docs th[aria-sort] a').textContent(), 'name', 'the list kept its sort');
  for (const f of dropped) {
    const href = await row(f.name).locator('a.download').getAttribute('href');
    const body = await (await context.request.get(new URL(href, root).href)).body();
    assert.ok(body.equals(f.buffer), `downloaded bytes of ${f.name} equal the dropped ones`);
  }

  // Too large: the server's own message beside the file's bar.
  await drop([{name: 'huge.bin', buffer: crypto.randomBytes(cap + 1)}]);
  await item('huge.bin').locator('.state').filter({hasText: 'Uploads may be at most'}).waitFor();
  assert.strictEqual(await state('huge.bin').textContent(), 'Uploads may be at most 256.0 KiB.');

  // Cancelled while the request is held on its way: the request ends
  // aborted, and even let go afterwards nothing is stored.
  // A name without a break: on a phone it must wrap in the panel too.
  const held = 'C'.repeat(200) + '.bin';
  let arrived;
  const routed = new Promise((resolve) => { arrived = resolve; });
  await page.route('**/upload', (route) => arrived(route));
  await drop([{name: held, buffer: crypto.randomBytes(64 * 1024)}]);
  const route = await routed;
  const aborted = page.waitForEvent('requestfailed', (r) => new URL(r.url()).pathname === '/upload');
  await item(held).getByRole('button', {name: `cancel ${held}`}).click();
  await aborted;
  await route.continue().catch(() => {});
  await page.unroute('**/upload');
  assert.strictEqual(await state(held).textContent(), 'cancelled');
  const listed = await (await context.request.get(view)).text();
  for (const name of ['huge.bin', held]) assert.ok(!listed.includes(name), `${name} is not listed`);
  const items = (dir) => fs.readdirSync(dir, {withFileTypes: true}).reduce(
    (n, e) => n + (e.isDirectory() ? items(path.join(dir, e.name)) : /^[0-9a-f]{16}$/.test(e.name) ? 1 : 0), 0);
  assert.strictEqual(items(path.join(dataDir, 'cache')), dropped.length, 'the store holds the three dropped files');

  // On a phone the panel, its bars and long names fit the screen.
  await page.setViewportSize({width: 375, height: 800});
  const [scrollWidth, clientWidth] = await page.evaluate(
    () => [document.documentElement.scrollWidth, document.documentElement.clientWidth]);
  assert.ok(scrollWidth <= clientWidth, `the page scrolls sideways at 375 px: ${scrollWidth} > ${clientWidth}`);

  // Without script: no panel, and the form posts and lands on the list.
  const plain = await browser.newContext({storageState: await context.storageState(), javaScriptEnabled: false});
  const plainPage = await plain.newPage();
  await plainPage.goto(root);
  assert.ok(await plainPage.locator('#uploads').isHidden(), 'the panel is hidden without script');
  await plainPage.setInputFiles('#upload input[name=file]', {name: 'plain.txt', mimeType: 'text/plain',
                                                             buffer: Buffer.from('plain\n')});
  await submit(plainPage, plainPage.locator('#upload button').first(), '/upload', root);
  await plainPage.locator('#docs td.name', {hasText: 'plain.txt'}).waitFor();
  await plain.close();

  assert.deepStrictEqual(policyErrors, [], 'no inline script or style refused');
});

test('the search box finds a word that is only inside a PDF', async (t) => {
  const {root, browser, dataDir} = await serverAndBrowser(t, 'search');
  const context = await browser.newContext();
  context.setDefaultTimeout(60000);
  const page = await context.newPage();
  // The PDF, printed by Chromium itself: the word is in its text only.
  await page.setContent('<title>Field report</title><p>The wombatlexeme was seen at dawn.</p>');
  const pdf = await page.pdf();

  await page.goto(root);
  await page.fill('#login input[name=user]', user.name);
  await page.fill('#login input[name=password]', user.password);
  await submit(page, page.locator('#login button'), '/login', root);
  await page.setInputFiles('#upload input[type=file][name=file]',
                           [{name: 'report.pdf', mimeType: 'application/pdf', buffer: pdf}]);
  await submit(page, page.locator('#upload [type=submit], #upload button').first(), '/upload', root);

  // The text is taken in the background; the log's long poll says when.
  let after = 0;
  let seen = '';
  for (let i = 0; i < 50 && !seen.includes('took the text of'); ++i) {
    const r = await context.request.get(root + 'log?after=' + after);
    after = Number(r.headers()['x-log-next'] || after);
    seen += await r.text();
  }
  assert.ok(seen.includes('took the text of'), 'the PDF\'s text was taken');

  await page.getByLabel('search').fill('WOMBATLEX');
  await Promise.all([page.waitForURL(/[?&]q=WOMBATLEX/), page.locator('#search button').click()]);
  const row = page.locator('#docs tr').filter({has: page.locator('td.name', {hasText: 'report.pdf'})});
  assert.strictEqual(await row.count(), 1, 'the PDF is found by a word of its text');
  assert.strictEqual(await page.getByLabel('search').inputValue(), 'WOMBATLEX');
  await page.getByLabel('search').fill('wombatlexeme nowhere');
  await Promise.all([page.waitForURL(/nowhere/), page.locator('#search button').click()]);
  assert.strictEqual(await page.locator('#empty').textContent(), 'no documents match');
});

// The list as the README shows it: two pictures and a PDF with their
// thumbnails, a text with a long name, a note, share links. Wide, each
// row's four actions stay on one line beside the other columns; on a phone
// each row is a card that fits the screen with its actions in view. The
// screenshots are kept, and with VXK_E2E_DOCS copied there.
test('the list with thumbnails and share links fits wide screens and phones', async (t) => {
  const {root, browser, dataDir} = await serverAndBrowser(t, 'look');
  const context = await browser.newContext({viewport: {width: 1280, height: 800}});
  context.setDefaultTimeout(60000);
  const page = await context.newPage();
  const policyErrors = [];
  page.on('console', (m) => { if (/Content Security Policy/.test(m.text())) policyErrors.push(m.text()); });

  // The pictures and the PDF, drawn and printed by Chromium itself.
  const picture = async (width, height, colors) => {
    await page.setContent(`<body style="margin:0;background:linear-gradient(135deg,${colors})"></body>`);
    return page.screenshot({type: 'png', clip: {x: 0, y: 0, width, height}});
  };
  const uploads = [
    {name: 'harbour.png', mimeType: 'image/png', buffer: await picture(480, 320, '#0b3d91,#3aa0d8,#f2c14e')},
    {name: 'floor-plan.png', mimeType: 'image/png', buffer: await picture(300, 420, '#f4f1ea,#9c6b3c')},
  ];
  await page.setContent('<title>Annual report 2024</title><h1>Annual report 2024</h1><p>Revenue grew by a tenth.</p>');
  uploads.push({name: 'annual-report.pdf', mimeType: 'application/pdf', buffer: await page.pdf()});
  uploads.push({name: 'quarterly-figures-reviewed-by-legal-and-approved-by-the-board-with-appendices.txt',
                mimeType: 'text/plain', buffer: Buffer.from('Quarterly figures\n')});

  await page.goto(root);
  await page.fill('#login input[name=user]', user.name);
  await page.fill('#login input[name=password]', user.password);
  await submit(page, page.locator('#login button'), '/login', root);
  await page.setInputFiles('#upload input[type=file][name=file]', uploads);
  await submit(page, page.locator('#upload button').first(), '/upload', root);
  await page.setInputFiles('#upload input[type=file][name=file]',
                           [{name: 'minutes.txt', mimeType: 'text/plain', buffer: Buffer.from('Minutes of May\n')}]);
  await page.fill('#upload input[name=note]', 'from the May meeting');
  await submit(page, page.locator('#upload button').first(), '/upload', root);

  const row = (name) => page.locator('#docs tr').filter({has: page.locator('td.name', {hasText: name})});
  // Two share links for the PDF, made in its share page: one for a week, one for five downloads.
  for (const limit of ['', '5']) {
    await row('annual-report.pdf').locator('a.share').click();
    await page.locator('#share input[name=limit]').fill(limit);
    await submit(page, page.locator('#share button'), new URL(page.url()).pathname, root);
  }
  // The thumbnails are made in the background.
  const thumbs = await Promise.all(uploads.slice(0, 3).map(
    async (u) => (await row(u.name).locator('a.download').getAttribute('href')) + '/thumb'));
  await page.waitForFunction(async (urls) => {
    for (const url of urls) if (!(await fetch(url)).ok) return false;
    return true;
  }, thumbs, {polling: 250});
  await page.reload();
  const images = page.locator('#docs td.thumb img');
  assert.strictEqual(await images.count(), 3);
  await page.waitForFunction(() => Array.from(document.querySelectorAll('#docs td.thumb img'))
    .every((img) => img.complete && img.naturalWidth > 0));
  assert.strictEqual(await row('annual-report.pdf').locator('ul.shares li').count(), 2);

  // Wide: download, preview, share and delete on one line in every row.
  for (const r of await page.locator('#docs tbody tr').all()) {
    const tops = await r.locator('.row-actions a, .row-actions button').evaluateAll(
      (controls) => controls.map((c) => Math.round(c.getBoundingClientRect().top)));
    assert.strictEqual(tops.length, 4);
    assert.strictEqual(new Set(tops).size, 1, `the actions of a row wrap at 1280 px: ${tops}`);
  }
  await page.screenshot({path: path.join(artifacts, 'server-list-look-wide-light.png'), fullPage: true});

  // A phone, dark: nothing scrolls sideways, every action is on the screen.
  await page.emulateMedia({colorScheme: 'dark'});
  await page.setViewportSize({width: 375, height: 800});
  const [scrollWidth, clientWidth] = await page.evaluate(
    () => [document.documentElement.scrollWidth, document.documentElement.clientWidth]);
  assert.ok(scrollWidth <= clientWidth, `the list scrolls sideways at 375 px: ${scrollWidth} > ${clientWidth}`);
  for (const control of await page.locator('#docs .row-actions a, #docs .row-actions button, #docs form.revoke button')
    .all()) {
    const box = await control.boundingBox();
    assert.ok(box.x >= 0, `${await control.textContent()} starts left of the screen`);
    assert.ok(box.x + box.width <= 375, `${await control.textContent()} ends right of the screen`);
  }
  await page.screenshot({path: path.join(artifacts, 'server-list-look-phone-dark.png'), fullPage: true});
  if (process.env.VXK_E2E_DOCS) {
    fs.copyFileSync(path.join(artifacts, 'server-list-look-wide-light.png'),
                    path.join(process.env.VXK_E2E_DOCS, 'server-list.png'));
    fs.copyFileSync(path.join(artifacts, 'server-list-look-phone-dark.png'),
                    path.join(process.env.VXK_E2E_DOCS, 'server-list-phone.png'));
  }
  assert.deepStrictEqual(policyErrors, [], 'no inline script or style refused');
});

test('a user sorts and pages through 120 documents, deletes one and takes it back with undo', async (t) => {
  const {root, browser} = await serverAndBrowser(t, 'pages');
  const context = await browser.newContext();
  context.setDefaultTimeout(60000);
  const {page, policyErrors} = await logIn(context, root);
  // Names in a scrambled order (37 and 120 have no common factor), each
  // uploaded on its own with the session's form token.
  const names = Array.from({length: 120}, (_, i) => `doc-${String((i * 37) % 120).padStart(3, '0')}.txt`);
  const csrf = await page.inputValue('#upload input[name=csrf]');
  for (const name of names) {
    const r = await context.request.post(root + 'upload', {
      maxRedirects: 0,
      multipart: {csrf, file: {name, mimeType: 'text/plain', buffer: Buffer.from(name + '\n')}},
    });
    assert.strictEqual(r.status(), 303, `${name} was stored`);
  }
  const byName = [...names].sort();

  // The name column's pages follow one another A to Z, none lost or twice.
  await page.goto(root);
  await Promise.all([page.waitForURL(/sort=name/), page.locator('#docs thead a').first().click()]);
  const seen = [];
  for (let n = 2; ; ++n) {
    seen.push(...await page.locator('#docs td.name').allTextContents());
    const next = page.locator('nav.pages a[rel=next]');
    if (await next.count() === 0) break;
    await Promise.all([page.waitForURL(new RegExp(`page=${n}`)), next.click()]);
  }
  assert.deepStrictEqual(seen, byName);
  // Chosen again, the column turns Z to A.
  await Promise.all([page.waitForURL(/dir=desc/), page.locator('#docs thead a').first().click()]);
  assert.strictEqual(await page.locator('#docs td.name').first().textContent(), byName[byName.length - 1]);

  // A delete leaves the list and offers undo; undo brings it back.
  const view = root + '?sort=name&dir=asc&page=1';
  await page.goto(view);
  const row = page.locator('#docs tr').filter({has: page.locator('td.name', {hasText: byName[0]})});
  const key = (await row.locator('a.download').getAttribute('href')).split('/')[2];
  await submit(page, row.locator('form.delete button'), `/doc/${key}/delete`, root);
  await page.goto(view);
  assert.strictEqual(await page.locator('#docs td.name').first().textContent(), byName[1]);
  const notice = page.locator('p.notice', {hasText: byName[0]});
  assert.strictEqual(await notice.count(), 1, 'the list offers to undo the delete');
  await submit(page, page.locator(`form.restore[action="/doc/${key}/restore"] button`), `/doc/${key}/restore`, root);
  await page.goto(view);
  assert.strictEqual(await page.locator('#docs td.name').first().textContent(), byName[0]);
  assert.deepStrictEqual(policyErrors, [], 'no inline script or style refused');
});
