// The program's page in Debian's Chromium, driven by puppeteer-core: logs in,
// follows the endpoint's state as the test stops and starts its slave, and
// edits a scan. Says each step on a line of its own ("GOOD", "BAD", the
// answers to two changes, "POLLED") and waits for the test's "next" between the
// endpoint's states; a change's answer is said as "saved saved" or "refused <reason>".
// Usage: node page_test.mjs <chromium> <url> <user> <password> <scan file name>
import puppeteer from "puppeteer-core";
import readline from "node:readline";

const [chromium, url, user, password, scanName] = process.argv.slice(2);
const input = readline.createInterface({ input: process.stdin });
const lines = input[Symbol.asyncIterator]();
const say = (text) => console.log(text);
const next = async () => (await lines.next()).value;
const timeout = 30000;
const endpointIs = (state) => `tr[data-endpoint="SIM"][data-state="${state}"]`;

const browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  acceptInsecureCerts: true,
  args: ["--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"],
});
try {
  const page = await browser.newPage();
  await page.authenticate({ username: user, password });
  await page.goto(url);
  await page.waitForSelector(endpointIs("Good"), { timeout });
  say("GOOD");
  await next();
  await page.waitForSelector(endpointIs("Bad"), { timeout });
  say("BAD");
  await next();
  await page.waitForSelector(endpointIs("Good"), { timeout });
  say("GOOD");

  await page.waitForFunction((name) => [...document.querySelectorAll("#scan-file option")]
    .some((o) => o.text === name), { timeout }, scanName);
  const file = await page.$eval("#scan-file", (select, name) =>
    [...select.options].find((o) => o.text === name).value, scanName);
  await page.select("#scan-file", file);
  const enter = async (name, value) => {
    const input = await page.$(`#scan-form input[name="${name}"]`);
    await input.evaluate((element) => { element.value = ""; });
    await input.type(value);
  };
  // The answer's class and text once it is in.
  const submit = async () => {
    await page.$eval("#scan-result", (o) => { o.className = ""; o.textContent = ""; });
    await page.click("#scan-form button");
    await page.waitForFunction(() => document.querySelector("#scan-result").className !== "",
                               { timeout });
    return page.$eval("#scan-result", (o) => o.className + " " + o.textContent);
  };
  await enter("slave_node", "300");
  say(await submit());
  await enter("slave_node", "1");
  await enter("poll_frequency", "250");
  say(await submit());
  await page.waitForFunction((path) => {
    const scan = [...document.querySelectorAll("#scans details")].find((d) => d.dataset.file === path);
    if (!scan || scan.dataset.period !== "250" || Number(scan.dataset.polls) < 3) return false;
    const qualities = [...scan.querySelectorAll("td:last-child")].map((td) => td.textContent);
    return qualities.length > 0 && qualities.every((q) => q === "Good");
  }, { timeout }, file);
  say("POLLED");
  await page.screenshot({ path: process.env.PELMORAN_PAGE_SHOT || "/dev/null", type: "png" })
    .catch(() => {});
} finally {
  input.close();
  await browser.close();
}
