#!/usr/bin/python3
"""The web interface in a real browser: Debian's chromium, headless, driven by Selenium.

Runs `tavrix --headless --http` on loopback over a document with a moving test picture and an MP4
recording registered in the catalogue, logs in, sees the live picture change, plays the recording
(its video element's time advances), changes the retention as an admin, sees another node of the
MQTT broker on the fleet page (when Debian's mosquitto is installed), and logs out. Exit 77
(skipped) only when the browser or its driver
is not installed.
"""
import contextlib
import os
import shutil
import socket
import sqlite3
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.common.exceptions import StaleElementReferenceException
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions as ec
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("SKIP: python3-selenium is not installed")
    sys.exit(77)

CHROMIUM = "/usr/bin/chromium"
DRIVER = "/usr/bin/chromedriver"
PASSWORD = "browser-secret-9"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_server(url, process, limit=60):
    end = time.time() + limit
    while time.time() < end:
        if process.poll() is not None:
            raise RuntimeError("tavrix ended early with %d" % process.returncode)
        try:
            urllib.request.urlopen(url + "api/v1/openapi.json", timeout=5).read()
            return
        except OSError:
            time.sleep(0.3)
    raise RuntimeError("the web server did not answer")


def start_broker(home):
    """Debian's mosquitto on a free loopback port, or None when it is not installed."""
    if shutil.which("mosquitto") is None and not os.access("/usr/sbin/mosquitto", os.X_OK):
        return None, None
    port = free_port()
    config = home + "/mosquitto.conf"
    with open(config, "w") as out:
        out.write("listener %d 127.0.0.1\nallow_anonymous true\n" % port)
        if os.getuid() == 0:
            out.write("user root\n")
    broker = subprocess.Popen([shutil.which("mosquitto") or "/usr/sbin/mosquitto", "-c", config],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    end = time.time() + 30
    while time.time() < end:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return broker, port
        except OSError:
            time.sleep(0.2)
    broker.kill()
    raise RuntimeError("mosquitto did not start")


def publish_retained(port, topic, payload):
    subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(port), "-q", "1", "-r", "-t", topic, "-m",
                    payload], check=True)


def gate_link(driver):
    """The link of the node "gate" once its card shows its camera recording (the page redraws
    every 2 s, so the card is looked up afresh each time)."""
    try:
        cards = driver.find_elements(By.CSS_SELECTOR, '#nodes .node[data-node="gate"]')
        if not cards or "Recording" not in cards[0].text:
            return False
        links = cards[0].find_elements(By.CSS_SELECTOR, "a.open")
        return links[0].get_attribute("href") if links else False
    except StaleElementReferenceException:
        return False
def make_recording(folder):
    """An MP4 as the camera "Default" names its recordings (H.264, 6 s), started a minute ago."""
    os.makedirs(folder, exist_ok=True)
    path = folder + "/Default_" + time.strftime("%d%m%Y_%H%M%S", time.localtime(time.time() - 60)) + ".mp4"
    subprocess.run(["gst-launch-1.0", "-q", "videotestsrc", "num-buffers=60", "pattern=ball", "!",
                    "video/x-raw,width=320,height=240,framerate=10/1,format=I420", "!", "x264enc", "!",
                    "video/x-h264,profile=constrained-baseline", "!", "mp4mux", "faststart=true", "!",
                    "filesink", "location=" + path], check=True, stdout=subprocess.DEVNULL)
    return path


def retention_days(document):
    """Global.RetentionDays as the document's file holds it."""
    with contextlib.closing(sqlite3.connect("file:%s?mode=ro" % document, uri=True)) as db:
        rows = db.execute("select int_value from t_config_data where id = 'Global.RetentionDays'").fetchall()
    return rows[0][0] if len(rows) == 1 else rows


def main():
    if not (os.access(CHROMIUM, os.X_OK) and os.access(DRIVER, os.X_OK)):
        print("SKIP: chromium or chromium-driver is not installed")
        return 77
    tavrix = sys.argv[1]
    home = tempfile.mkdtemp(prefix="tavrix-browser-")
    env = dict(os.environ, XDG_CONFIG_HOME=home + "/config", XDG_DATA_HOME=home + "/data",
               XDG_STATE_HOME=home + "/state")
    server = None
    driver = None
    broker = None
    try:
        broker, broker_port = start_broker(home)
        doc = home + "/Garden.tvrx"
        subprocess.run([tavrix, "doc", "create", doc, "--camera", "test:ball", "--record-path", home + "/rec"],
                       env=env, check=True, stdout=subprocess.DEVNULL)
        recording = make_recording(home + "/rec")
        imported = subprocess.run([tavrix, "recordings", "import", doc], env=env, check=True, text=True,
                                  stdout=subprocess.PIPE).stdout
        assert os.path.basename(recording) in imported, imported
        subprocess.run([tavrix, "user", "add", "alice", "--admin"], input=PASSWORD + "\n", text=True, env=env,
                       check=True, stdout=subprocess.DEVNULL)
        port = free_port()
        url = "http://127.0.0.1:%d/" % port
        mqtt = ["--mqtt", "127.0.0.1:%d" % broker_port] if broker else []
        server = subprocess.Popen([tavrix, "--headless", "--activate", "--http", "127.0.0.1:%d" % port] + mqtt +
                                  [doc], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        wait_for_server(url, server)

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                         "--window-size=412,915",
                         "--autoplay-policy=no-user-gesture-required", "--user-data-dir=" + home + "/chromium"):
            options.add_argument(argument)
        driver = webdriver.Chrome(service=Service(DRIVER), options=options)
        wait = WebDriverWait(driver, 60)

        # Anonymous: the live page sends the visitor to the login page.
        driver.get(url)
        wait.until(ec.presence_of_element_located((By.ID, "login-form")))
        assert driver.current_url.endswith("/login.html"), driver.current_url

        # A wrong password is refused on the page.
        driver.find_element(By.ID, "user").send_keys("alice")
        driver.find_element(By.ID, "password").send_keys("not the password")
        driver.find_element(By.ID, "login-button").click()
        wait.until(lambda d: d.find_element(By.ID, "login-error").text != "")

        driver.find_element(By.ID, "password").clear()
        driver.find_element(By.ID, "password").send_keys(PASSWORD)
        driver.find_element(By.ID, "login-button").click()
        wait.until(ec.presence_of_element_located((By.CSS_SELECTOR, "#grid .camera img")))
        assert "alice (admin)" in driver.find_element(By.ID, "who").text

        # The live picture: loaded, and changing.
        image = driver.find_element(By.CSS_SELECTOR, "#grid .camera img")
        wait.until(lambda d: d.execute_script("return arguments[0].naturalWidth", image) > 0)
        first = image.screenshot_as_png
        changed = False
        end = time.time() + 60
        while time.time() < end and not changed:
            time.sleep(0.5)
            changed = image.screenshot_as_png != first
        assert changed, "the live picture did not change"
        state = driver.find_element(By.CSS_SELECTOR, "#grid .camera .state").text
        assert state in ("Idle", "Recording"), state
        toggle = driver.find_element(By.CSS_SELECTOR, "#grid .camera .toggle")
        assert toggle.text == "Deactivate", toggle.text

        # The events page lists the log.
        driver.get(url + "events.html")
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#events tbody tr")) > 0)

        # The fleet page: another node on the broker, with its camera and a link to its own pages.
        if broker:
            publish_retained(broker_port, "tavrix/gate/status", "online")
            publish_retained(broker_port, "tavrix/gate/web", "http://gate.example:8080/")
            publish_retained(broker_port, "tavrix/gate/Drive/state", "Recording")
            driver.get(url + "fleet.html")
            href = wait.until(gate_link)
            assert href == "http://gate.example:8080/", href
            wait.until(lambda d: "(this node)" in d.find_element(By.ID, "nodes").text)
        else:
            print("fleet page step skipped: mosquitto is not installed")
        # The recordings page: the MP4 plays in the page, and the time of its video advances.
        driver.get(url + "recordings.html")
        # (The test camera may be recording meanwhile: its newer recording is listed too.)
        mine = '#recordings .recording[data-file="%s"]' % os.path.basename(recording)
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, mine + " .play")) > 0)
        card = driver.find_element(By.CSS_SELECTOR, mine)
        assert "Default" in card.text, card.text
        download = card.find_element(By.CSS_SELECTOR, ".download").get_attribute("href")
        assert download.startswith(url + "api/v1/recordings/") and download.endswith("/file?download=1"), download
        card.find_element(By.CSS_SELECTOR, ".play").click()
        video = driver.find_element(By.ID, "video")
        wait.until(lambda d: d.execute_script("return arguments[0].currentTime", video) > 1.0)
        assert driver.execute_script("return arguments[0].error", video) is None
        # Seeking asks the server for a range; the video goes on from there.
        driver.execute_script("arguments[0].currentTime = 3.0", video)
        wait.until(lambda d: d.execute_script("return arguments[0].currentTime", video) > 3.2)
        assert card.find_element(By.CSS_SELECTOR, ".keep").text == "Keep"
        # The link an event carries (recordings.html?file=PATH) shows that recording alone.
        driver.get(url + "recordings.html?file=" + urllib.parse.quote(recording, safe=""))
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, mine)) == 1)
        assert len(driver.find_elements(By.CSS_SELECTOR, "#recordings .recording")) == 1

        # An admin changes the retention of the open document: it is in its file at once.
        driver.find_element(By.CSS_SELECTOR, "#retention summary").click()
        days = '#retention tr[data-document="Garden"] input[name="retentionDays"]'
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, days)) > 0)
        field = driver.find_element(By.CSS_SELECTOR, days)
        field.clear()
        field.send_keys("9")
        driver.find_element(By.CSS_SELECTOR, '#retention tr[data-document="Garden"] .retention-save').click()
        wait.until(lambda d: "Saved." in d.find_element(By.CSS_SELECTOR, "#retention tbody").text)
        assert retention_days(doc) == 9, retention_days(doc)

        # Log out: back to the login page, and the live page is closed again.
        driver.find_element(By.ID, "logout").click()
        wait.until(ec.presence_of_element_located((By.ID, "login-form")))
        driver.get(url)
        wait.until(ec.presence_of_element_located((By.ID, "login-form")))
        print("browser test passed: logged in, live picture changed, fleet shown, logged out")
        # The headless shell's own save at its end keeps the value.
        server.terminate()
        server.wait(timeout=60)
        server = None
        assert retention_days(doc) == 9, retention_days(doc)
        print("browser test passed: logged in, live picture changed, recording played, retention changed, "
              "logged out")
        return 0
    finally:
        if driver is not None:
            driver.quit()
        if server is not None:
            server.terminate()
            try:
                server.wait(timeout=60)
            except subprocess.TimeoutExpired:
                server.kill()
        if broker is not None:
            broker.terminate()
            broker.wait(timeout=30)
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
