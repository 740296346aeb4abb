#!/usr/bin/env bash
# The guide's recipe "Keep the version text in an .rc": the script printed
# once from a module, edited and kept under version control, is applied to
# every build, and a resource compiler takes the same file.
# Usage: rc_under_version_control.sh QUILLMARK_CLI MODULE [WINDRES]
source "$(dirname "$0")/common.sh"
windres=${3:-}
mkdir -p dist
cp "$module" dist/app.exe

# Once: the module's version information as a script, edited by hand.
"$cli" show --format rc dist/app.exe >version.rc
sed -i 's/"CompanyName", "[^"]*"/"CompanyName", "Example Ltd"/' version.rc
grep -q '"Example Ltd"' version.rc || { echo "the script holds no CompanyName to edit" >&2; exit 1; }

# Every build: the recipe.
"$cli" apply dist/app.exe version.rc

expect "CompanyName" "$("$cli" get dist/app.exe CompanyName)" "Example Ltd"
expect "FileVersion" "$("$cli" get dist/app.exe FileVersion)" "$("$cli" get "$module" FileVersion)"
# Applied again, the module is the same: nothing drifts from build to build.
cp dist/app.exe once.exe
"$cli" apply dist/app.exe version.rc
cmp -s once.exe dist/app.exe || { echo "a second apply changed the module" >&2; exit 1; }
if [ -n "$windres" ]; then
  "$windres" version.rc -O res -o version.res
  "$cli" diff version.res dist/app.exe
fi
# A script with a mistake stops the build with its line, nothing written.
sed 's/^FILEVERSION/FILEVERSON/' version.rc >broken.rc
expect_code "a broken script" 10 "$cli" apply dist/app.exe broken.rc
grep -q "line [0-9]*, column" "$work/err" || { echo "the refusal does not give the line" >&2; exit 1; }
cmp -s once.exe dist/app.exe || { echo "a refused apply changed the module" >&2; exit 1; }
echo "an .rc under version control: ok"
