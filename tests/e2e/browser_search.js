// Drives headless Chromium through the demo's search: the form on port
// 8080, the readable result pages of searchcgi (titles, addresses and
// excerpts), their Suivant/Précédent links and a result link to the sample site. Screenshots go to the directory given as
// the first argument. Exits non-zero on the first failed expectation.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const { chromium } = require('playwright-core');

const outDir = process.argv[2];
const searchForm = 'http://127.0.0.1:8080/';
const site = 'http://127.0.0.1/';

function expect(condition, message) {
  if (!condition) throw new Error(message);
}

// The result entries of the page shown: the links into the sample site.
async function resultLinks(page) {
  const hrefs = await page.$$eval('a', (as) => as.map((a) => a.getAttribute('href')));
  return hrefs.filter((h) => h && h.startsWith(site));
}

async function search(page, words, spelling) {
  await page.goto(searchForm);
  await page.fill('input[name=keyword]', words);
  if (spelling) await page.check('input[name=verif]');
  await Promise.all([page.waitForNavigation(), page.click('input[type=submit]')]);
  expect((await page.title()) === 'Moteur de recherche', `result page title is "${await page.title()}"`);
}

async function followLink(page, text) {
  await Promise.all([page.waitForNavigation(), page.click(`a:text-is("${text}")`)]);
}

async function run(page) {
  await page.goto(searchForm);
  await page.screenshot({ path: path.join(outDir, 'form.png') });

  await search(page, 'abeilles', false);
  expect(new URL(page.url()).pathname === '/cgi-bin/searchcgi/html',
         `the form asked for "${new URL(page.url()).pathname}", not the readable view`);
  expect(new URL(page.url()).search === '?keyword=abeilles&page=1',
         `the form sent "${new URL(page.url()).search}"`);
  const first = await resultLinks(page);
  expect(first.length === 15, `page 1 lists ${first.length} results: ${first}`);
  expect(new Set(first).size === 15, `page 1 repeats a result: ${first}`);
  expect((await page.content()).includes('Nombre de pages trouv'), 'no count line on page 1');
  // Each result: its page's title as the link, its address, an excerpt with
  // the query word in bold.
  const titles = await page.$$eval('ol.resultats li > a', (as) => as.map((a) => a.textContent));
  expect(titles.length === 15 && titles.every((t) => t && !t.startsWith('http')),
         `page 1 does not show the pages' titles: ${titles}`);
  const marked = await page.$$eval('.extrait b', (bs) => bs.map((b) => b.textContent.toLowerCase()));
  expect(marked.length >= 15 && marked.every((w) => w === 'abeilles'),
         `the excerpts do not mark "abeilles": ${marked}`);
  await page.screenshot({ path: path.join(outDir, 'results-page1.png'), fullPage: true });

  // The page's words are French by default (SE_LANGUAGE).
  await followLink(page, 'Suivant');
  expect(page.url().endsWith('/cgi-bin/searchcgi/html?keyword=abeilles&page=2'),
         `Suivant led to ${page.url()}`);
  const second = await resultLinks(page);
  expect(second.length === 15, `page 2 lists ${second.length} results: ${second}`);
  expect(second.every((u) => !first.includes(u)), 'page 2 repeats results of page 1');
  await page.screenshot({ path: path.join(outDir, 'results-page2.png'), fullPage: true });

  await followLink(page, 'Précédent');
  expect(JSON.stringify(await resultLinks(page)) === JSON.stringify(first),
         `Précédent showed ${await resultLinks(page)} at ${page.url()}, not page 1: ${first}`);

  await Promise.all([page.waitForNavigation(), page.click(`a[href="${first[0]}"]`)]);
  expect(page.url() === first[0], `the first result led to ${page.url()}`);
  expect((await page.title()).length > 0, `the result ${first[0]} has no title`);
  await page.screenshot({ path: path.join(outDir, 'site-page.png') });

  await search(page, 'abeile', true);
  expect(new URL(page.url()).search === "?keyword=abeile&page=1&verif=Verifier+l%27ortographe",
         `the form sent "${new URL(page.url()).search}" with the spelling box ticked`);
  const text = await page.textContent('body');
  expect(text.includes('Corrections possibles') && /\babeille\b/.test(text),
         `no spelling suggestion for "abeile": ${text.slice(0, 300)}`);
  await page.screenshot({ path: path.join(outDir, 'spelling.png'), fullPage: true });
}

(async () => {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'se-browser-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  let failed = false;
  try {
    const page = context.pages()[0] || (await context.newPage());
    page.setDefaultTimeout(30000);
    await run(page);
    console.log(`browser checks passed; screenshots in ${outDir}`);
  } catch (e) {
    console.error(`FAILED: ${e.message}`);
    failed = true;
  } finally {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  process.exit(failed ? 1 : 0);
})();
