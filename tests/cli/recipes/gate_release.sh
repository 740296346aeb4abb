#!/usr/bin/env bash
# The guide's recipe "Gate a release": check asserts what the modules must
# hold and lint what readers would show; either failing stops the job.
# Usage: gate_release.sh QUILLMARK_CLI MODULE
source "$(dirname "$0")/common.sh"
mkdir -p dist
cp "$module" dist/app.exe
"$cli" set dist/app.exe --file-version 3.1.0 --product-version 3.1 --string "CompanyName=Example Ltd" \
  --string "FileDescription=Example app" --string "ProductName=Example"

# The recipe: both gates pass on a well-stamped build.
"$cli" check --recursive dist --file-version 3.1.0 --string "CompanyName=Example Ltd"
"$cli" lint --recursive dist

# Each gate fails on what it is there to catch, with exit code 13.
expect_code "check of another version" 13 "$cli" check --recursive dist --file-version 3.2.0
grep -q "3.2.0" "$work/err" || { echo "check does not say what was asked" >&2; exit 1; }
"$cli" set dist/app.exe --remove-string ProductName
expect_code "lint of a missing key" 13 "$cli" lint --recursive --report json dist
grep -q '"exitCode":13' "$work/out" || grep -q '"exitCode": 13' "$work/out" ||
  { echo "the JSON report does not carry exit code 13" >&2; cat "$work/out" >&2; exit 1; }
grep -q "missing-key" "$work/out" || { echo "lint's report does not name missing-key" >&2; exit 1; }
echo "gate a release: ok"
