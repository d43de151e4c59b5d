"""The web page in Debian's headless Chromium: every kind of BMP and a PNG through each set
of options gives the tool's bytes (the PNG: from_array's for its pixels), refusals show
their status, and nothing is asked of another origin. Needs the built site in GRAYBMP_SITE
(bash tools/web OUT); skipped without it."""
import base64
import functools
import http.server
import json
import os
import struct
import subprocess
import threading
import zipfile
import zlib

import numpy
import pytest

import graybmp

from test_graybmp import tool_copies

SITE = os.environ.get("GRAYBMP_SITE", "")
pytestmark = pytest.mark.skipif(not os.path.isdir(SITE), reason="GRAYBMP_SITE names no built site")


def png(rgba):
    """A PNG of an (h, w, 4) uint8 array: no gAMA, cHRM, sRGB or iCCP chunk."""
    height, width = rgba.shape[:2]
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + rgba[y].tobytes() for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def picture(width, height, alpha=255):
    y, x = numpy.mgrid[0:height, 0:width]
    rgba = numpy.stack([x * 255 // max(1, width - 1), y * 255 // max(1, height - 1),
                        (x * 7 + y * 13) % 256, numpy.full_like(x, 255)], axis=2).astype(numpy.uint8)
    rgba[height // 2, width // 2, 3] = alpha
    return rgba


# The controls as a person sets them, and the same as the tool's options and from_array's.
SETTINGS = [
    ({"method": "mean"}, ["-m", "mean"], {}),
    ({"method": "bt709", "levels": "4", "dither": "floyd-steinberg"},
     ["-m", "bt709", "--levels", "4", "--dither", "floyd-steinberg"], {"method": "bt709", "levels": 4, "dither": "floyd-steinberg"}),
    ({"method": "luminance", "depth": "2", "dither": "ordered"},
     ["-m", "luminance", "--depth", "2", "--dither", "ordered"], {"method": "luminance", "depth": 2, "dither": "ordered"}),
    ({"method": "weights", "weights": "0.2,0.7,0.1", "levels": "16", "depth": "8", "dither": "atkinson"},
     ["-m", "weights=0.2,0.7,0.1", "--levels", "16", "--depth", "8", "--dither", "atkinson"],
     {"method": "weights=0.2,0.7,0.1", "levels": 16, "depth": 8, "dither": "atkinson"}),
    ({"method": "rms", "levels": "2", "depth": "1"}, ["-m", "rms", "--levels", "2", "--depth", "1"],
     {"method": "rms", "levels": 2, "depth": 1}),
    ({"method": "max", "levels": "3", "depth": "2", "dither": "jarvis", "strength": "70", "serpentine": "on"},
     ["-m", "max", "--levels", "3", "--depth", "2", "--dither", "jarvis", "--strength", "70", "--serpentine"],
     {"method": "max", "levels": 3, "depth": 2, "dither": "jarvis", "strength": 70, "serpentine": True}),
    ({"method": "bt709", "levels": "2", "dither": "blue-noise", "normalize": "on", "gamma": "1.8", "linear": "on"},
     ["-m", "bt709", "--levels", "2", "--dither", "blue-noise", "--normalize", "--gamma", "1.8", "--linear"],
     {"method": "bt709", "levels": 2, "dither": "blue-noise", "normalize": True, "gamma": 1.8, "linear": True}),
    ({"method": "mean", "levels": "4", "dither": "halftone", "gamma": "0.5"},
     ["-m", "mean", "--levels", "4", "--dither", "halftone", "--gamma", "0.5"],
     {"method": "mean", "levels": 4, "dither": "halftone", "gamma": 0.5}),
    ({"method": "mean", "levels": "2", "format": "c"}, ["-m", "mean", "--levels", "2", "--format", "c"],
     {"method": "mean", "levels": 2, "format": "c"}),
    ({"levels": "4", "dither": "floyd-steinberg", "size": "9x7", "fit": "cover", "filter": "mitchell", "rotate": "auto"},
     ["-m", "mean", "--levels", "4", "--dither", "floyd-steinberg", "--size", "9x7", "--fit", "cover", "--filter",
      "mitchell", "--rotate", "auto"],
     {"levels": 4, "dither": "floyd-steinberg", "size": (9, 7), "fit": "cover", "filter": "mitchell", "rotate": "auto"}),
    ({"size": "x5", "rotate": "90"}, ["-m", "mean", "--size", "x5", "--rotate", "90"], {"size": (None, 5), "rotate": 90}),
]

SET_CONTROLS = """
const [values] = arguments;
const defaults = {method: 'mean', weights: '0.299,0.587,0.114', levels: '', depth: '', dither: 'none',
                  strength: '', serpentine: '', normalize: '', gamma: '', linear: '', format: 'bmp', size: '',
                  fit: 'contain', filter: 'lanczos3', rotate: '0'};
for (const [id, value] of Object.entries({...defaults, ...values})) {
  const e = document.getElementById(id);
  if (e.type === 'checkbox') e.checked = value === 'on'; else e.value = value;
}
document.getElementById('method').dispatchEvent(new Event('change'));
"""

# Every result's name, status, reason and the bytes behind its download link.
COLLECT = """
const done = arguments[arguments.length - 1];
const encode = (bytes) => { let s = ''; for (let i = 0; i < bytes.length; i += 32768)
  s += String.fromCharCode(...bytes.subarray(i, i + 32768)); return btoa(s); };
Promise.all([...document.querySelectorAll('.result')].map(async (r) => {
  const link = r.querySelector('a.download');
  const bytes = link ? new Uint8Array(await (await fetch(link.href)).arrayBuffer()) : null;
  return {name: r.dataset.name, status: r.dataset.status, download: link && link.getAttribute('download'),
          reason: r.querySelector('.reason')?.textContent ?? null, bytes: bytes && encode(bytes)};
})).then((all) => done(JSON.stringify(all)), (error) => done(`failed: ${error}`));
"""


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


@pytest.fixture(scope="module")
def server():
    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(QuietHandler, directory=SITE))
    threading.Thread(target=httpd.serve_forever, daemon=True).start()
    yield f"http://127.0.0.1:{httpd.server_address[1]}"
    httpd.shutdown()


@pytest.fixture(scope="module")
def browser(tmp_path_factory):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--window-size=1280,1000",
                 f"--user-data-dir={tmp_path_factory.mktemp('chromium')}"]:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_script_timeout(300)
    yield driver
    driver.quit()


def requested(driver):
    """Every address the page asked for since the last call."""
    urls = []
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.requestWillBeSent":
            urls.append(message["params"]["request"]["url"])
    return urls


def open_page(driver, server):
    """The page, once its module has loaded the library."""
    from selenium.webdriver.support.ui import WebDriverWait
    driver.get(server + "/")
    WebDriverWait(driver, 60, poll_frequency=0.1).until(
        lambda d: d.execute_script("return document.documentElement.dataset.ready === 'true'"))


def results_of(driver, names):
    from selenium.webdriver.support.ui import WebDriverWait
    WebDriverWait(driver, 600, poll_frequency=0.2).until(lambda d: d.execute_script(
        "const r = [...document.querySelectorAll('.result')];"
        "return r.length === arguments[0] && r.every((e) => e.dataset.status);", len(names)))
    found = json.loads(driver.execute_async_script(COLLECT))
    assert [r["name"] for r in found] == names
    return found


def test_the_page_gives_the_tools_bytes_and_shows_refusals(browser, server, fixtures, tool, tmp_path,
                                                           library_words):
    photo, translucent = tmp_path / "photo.png", tmp_path / "clear.png"
    photo.write_bytes(png(picture(23, 7)))
    translucent.write_bytes(png(picture(5, 4, alpha=128)))
    # The pictures the page leaves to the browser's decoders are not the tool's bytes: its
    # own photo and translucent picture below stand for them.
    inputs = []
    for path in fixtures:
        with open(path, "rb") as f:
            if graybmp._graybmp.picture_kind(f.read(16)) in (None, "netpbm"):
                inputs.append(path)
    open_page(browser, server)
    requested(browser)
    browser.find_element("id", "files").send_keys("\n".join(inputs + [str(photo), str(translucent)]))
    names = [os.path.basename(p) for p in inputs] + ["photo.png", "clear.png"]
    for controls, command_line, keywords in SETTINGS:
        browser.execute_script(SET_CONTROLS, controls)
        found = results_of(browser, names)
        out = tmp_path / str(len(os.listdir(tmp_path)))
        out.mkdir()
        copies, reasons = tool_copies(tool, inputs, command_line[1], command_line[2:], out)
        for path, result in zip(inputs, found):
            if result["status"] == "picture-unsupported":
                # a JPEG or PNG inside a BMP, which the native tool decodes and the module
                # (netpbm alone) does not
                with open(path, "rb") as f:
                    head = f.read(34)
                assert head[:2] == b"BM" and head[30] in (4, 5), (path, controls)
                continue
            if path in copies and "format" in keywords:  # the array named for the download
                stem = os.path.splitext(os.path.basename(path))[0] + "NEW"
                assert result["status"] == "ok", (path, controls, result["reason"])
                with open(path, "rb") as f:
                    assert base64.b64decode(result["bytes"]) == graybmp.gray(f.read(), **keywords, name=stem)
                assert result["download"] == stem + ".h"
            elif path in copies:
                assert result["status"] == "ok", (path, controls, result["reason"])
                assert base64.b64decode(result["bytes"]) == copies[path], (path, controls)
                assert result["download"] == graybmp._graybmp.gray_name(os.path.basename(path))
            else:
                assert result["status"] not in ("ok", None), (path, controls)
                assert result["reason"].endswith(library_words(reasons[path])), (path, controls)
        named = {"name": "photoNEW"} if "format" in keywords else {}
        expected = graybmp.from_array(picture(23, 7), **keywords, **named)
        assert base64.b64decode(found[-2]["bytes"]) == expected, controls
        assert found[-2]["download"] == ("photoNEW.h" if named else "photoNEW.bmp")
        assert found[-1]["status"] == "translucent"
    origin_other = [u for u in requested(browser) if not u.startswith((server + "/", "blob:", "data:"))]
    assert origin_other == []


def test_download_all_zips_every_result_and_the_screenshot(browser, server, tmp_path):
    """A few pictures at 4 levels, Floyd-Steinberg: the zip holds each download; the page
    as it then looks is the README's picture (GRAYBMP_SCREENSHOT, else a temporary)."""
    downloads = tmp_path / "downloads"
    downloads.mkdir()
    browser.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": str(downloads)})
    sample = tmp_path / "sunset.bmp"
    subprocess.run([os.environ["GRAYBMP_SAMPLE"], str(sample), "320", "200", "24"], check=True)
    photo = tmp_path / "gradient.png"
    photo.write_bytes(png(picture(160, 100)))
    open_page(browser, server)
    browser.execute_script(SET_CONTROLS, {"method": "bt709", "levels": "4", "dither": "floyd-steinberg"})
    browser.find_element("id", "files").send_keys(f"{sample}\n{photo}")
    found = results_of(browser, ["sunset.bmp", "gradient.png"])
    assert [r["status"] for r in found] == ["ok", "ok"]
    # The divider moves by the keyboard as well as by the pointer.
    from selenium.webdriver.common.keys import Keys
    browser.find_element("css selector", ".result .split").send_keys(Keys.RIGHT * 10)
    assert browser.execute_script(
        "return document.querySelector('.result .compare').style.getPropertyValue('--split')") == "60%"
    browser.find_element("id", "download-all").click()
    from selenium.webdriver.support.ui import WebDriverWait
    WebDriverWait(browser, 60).until(lambda d: (downloads / "graybmp.zip").exists()
                                     and not list(downloads.glob("*.crdownload")))
    with zipfile.ZipFile(downloads / "graybmp.zip") as z:
        assert {n: z.read(n) for n in z.namelist()} == {
            r["download"]: base64.b64decode(r["bytes"]) for r in found}
    browser.save_screenshot(os.environ.get("GRAYBMP_SCREENSHOT") or str(tmp_path / "page.png"))
