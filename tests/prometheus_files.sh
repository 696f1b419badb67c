#!/bin/sh
# promtool on what Prometheus reads from this project: the exposition, the
# alert rules with their own unit tests, and the example scrape config.
src=$1
command -v promtool >/dev/null || { echo "SKIP: promtool is not installed (scripts/deps installs prometheus)"; exit 77; }
set -e
promtool check metrics < "$src/tests/data/integrations/metrics.txt"
promtool check rules "$src/docs/prometheus/linewarden-rules.yml"
promtool test rules "$src/tests/data/integrations/rules_test.yml"
promtool check config --syntax-only "$src/docs/prometheus/prometheus.yml"
