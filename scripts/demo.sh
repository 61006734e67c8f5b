#!/usr/bin/env bash
# The main job, until the headless application exists: show the version.
set -euo pipefail
build/bin/tavrix --version
