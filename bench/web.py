#!/usr/bin/env python3
"""The library in WebAssembly, in Debian's headless Chromium, against the native library at
its SSE4 target (GRAYBMP_CPU=sse4), same machine, same run: a 4096 x 4096 24-bit BMP (the
sample maker's picture) by mean, by BT.709, and at 4 levels by Floyd-Steinberg. Wall time
of one call in memory, the median of ROUNDS rounds: the module's gray() (which reads its
input and writes its output through the library's stream callbacks, a chunk at a time)
and the Python module's gray() (which converts from and into the buffers it is given).

    bash tools/web build-web   # once
    PYTHONPATH=build/python /usr/bin/python3 bench/web.py [ROUNDS]   (default 9)
"""
import functools
import http.server
import json
import os
import subprocess
import sys
import tempfile
import threading

ROUNDS = int(sys.argv[1]) if len(sys.argv) > 1 else 9
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SITE = os.path.join(ROOT, "build-web")
SAMPLE = os.path.join(ROOT, "build", "tools", "graybmp-sample")
CASES = [("mean", {"method": "mean"}), ("bt709", {"method": "bt709"}),
         ("floyd-steinberg, 4 levels", {"method": "mean", "levels": 4, "dither": "floyd-steinberg"})]

NATIVE = """
import json, statistics, sys, time, graybmp
data = open(sys.argv[1], "rb").read()
cases, rounds = json.loads(sys.argv[2]), int(sys.argv[3])
times = {}
for name, options in cases:
    runs = []
    for _ in range(rounds):
        start = time.perf_counter()
        graybmp.gray(data, **options)
        runs.append(time.perf_counter() - start)
    times[name] = statistics.median(runs)
print(json.dumps(times))
"""

BROWSER = """
const [url, cases, rounds] = arguments;
const done = arguments[arguments.length - 1];
(async () => {
  const graybmp = await import('./graybmp.js');
  const data = new Uint8Array(await (await fetch(url)).arrayBuffer());
  const times = {};
  for (const [name, options] of cases) {
    const runs = [];
    for (let i = 0; i < rounds; i++) {
      const start = performance.now();
      graybmp.gray(data, options);
      runs.push((performance.now() - start) / 1000);
    }
    runs.sort((a, b) => a - b);
    times[name] = runs[runs.length >> 1];
  }
  return [graybmp.cpu, times];
})().then((r) => done(JSON.stringify(r)), (e) => done(JSON.stringify(['failed: ' + e, {}])));
"""


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def main():
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    with tempfile.TemporaryDirectory() as folder:
        sample = os.path.join(SITE, "bench-4096.bmp")
        subprocess.run([SAMPLE, sample, "4096", "4096", "24"], check=True)
        env = dict(os.environ, GRAYBMP_CPU="sse4")
        native = json.loads(subprocess.run([sys.executable, "-c", NATIVE, sample, json.dumps(CASES), str(ROUNDS)],
                                           env=env, check=True, capture_output=True, text=True).stdout)
        httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=SITE))
        threading.Thread(target=httpd.serve_forever, daemon=True).start()
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                     "--disable-dev-shm-usage", f"--user-data-dir={folder}"]:
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        try:
            driver.set_script_timeout(600)
            driver.get(f"http://127.0.0.1:{httpd.server_address[1]}/")
            web = json.loads(driver.execute_async_script(BROWSER, "bench-4096.bmp", CASES, ROUNDS))
            version = driver.capabilities.get("browserVersion", "")
        finally:
            driver.quit()
            httpd.shutdown()
            os.remove(sample)
    print(f"4096 x 4096 24-bit, median of {ROUNDS}; Chromium {version} ({web[0]}) against native (sse4)")
    print(f"{'':28} {'WebAssembly':>12} {'native':>10} {'ratio':>7}")
    for name, _ in CASES:
        w, n = web[1][name], native[name]
        print(f"{name:28} {w * 1000:10.1f} ms {n * 1000:7.1f} ms {w / n:7.2f}")


if __name__ == "__main__":
    main()
