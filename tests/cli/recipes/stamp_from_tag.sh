#!/usr/bin/env bash
# The guide's recipe "Stamp from a git tag", run as a pipeline would: every
# module of a build folder takes the version git describe gives.
# Usage: stamp_from_tag.sh QUILLMARK_CLI MODULE
source "$(dirname "$0")/common.sh"
command -v git >/dev/null || { echo "no git"; exit 77; }
git_repo
mkdir -p dist/plugins
cp "$module" dist/app.exe
cp "$module" dist/plugins/helper.dll
echo "not a module" >dist/readme.txt

# The recipe.
version=$(git describe --tags)
"$cli" set --recursive dist --file-version "$version" --product-version "${version%%-*}"

expect "git describe" "${version%-g*}" "v2.4.0-1"
for m in dist/app.exe dist/plugins/helper.dll; do
  expect "$m fixed file version" "$("$cli" get "$m" --fixed file-version)" "2.4.0.0"
  expect "$m fixed product version" "$("$cli" get "$m" --fixed product-version)" "2.4.0.0"
  expect "$m FileVersion" "$("$cli" get "$m" FileVersion)" "$version"
  expect "$m ProductVersion" "$("$cli" get "$m" ProductVersion)" "v2.4.0"
  expect "$m other strings" "$("$cli" get "$m" CompanyName)" "$("$cli" get "$module" CompanyName)"
done
expect "non-module" "$(cat dist/readme.txt)" "not a module"
# A tag that is no version stops the build before anything is written.
cp dist/app.exe before.exe
expect_code "a tag that is no version" 2 "$cli" set dist/app.exe --file-version "release-2024"
grep -q "\[v\]A\[.B\[.C\[.D\]\]\]" "$work/err" || { echo "the refusal does not show the accepted form" >&2; exit 1; }
cmp -s before.exe dist/app.exe || { echo "a refused set changed the module" >&2; exit 1; }
echo "stamp from a tag: ok"
