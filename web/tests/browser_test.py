#!/usr/bin/python3
"""The web interface in a real browser: Debian's chromium, headless, driven by Selenium.

Runs `tavrix --headless --http` on loopback over a document with a moving test picture, logs in,
sees the live picture change, and logs out. Exit 77 (skipped) only when the browser or its driver
is not installed.
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
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
    try:
        doc = home + "/Garden.tvrx"
        subprocess.run([tavrix, "doc", "create", doc, "--camera", "test:ball", "--record-path", home + "/rec"],
                       env=env, check=True, stdout=subprocess.DEVNULL)
        subprocess.run([tavrix, "user", "add", "alice", "--admin"], input=PASSWORD + "\n", text=True, env=env,
                       check=True, stdout=subprocess.DEVNULL)
        port = free_port()
        url = "http://127.0.0.1:%d/" % port
        server = subprocess.Popen([tavrix, "--headless", "--activate", "--http", "127.0.0.1:%d" % port, doc],
                                  env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        wait_for_server(url, server)

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                         "--window-size=412,915", "--user-data-dir=" + home + "/chromium"):
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

        # Log out: back to the login page, and the live page is closed again.
        driver.find_element(By.ID, "logout").click()
        wait.until(ec.presence_of_element_located((By.ID, "login-form")))
        driver.get(url)
        wait.until(ec.presence_of_element_located((By.ID, "login-form")))
        print("browser test passed: logged in, live picture changed, logged out")
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
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
