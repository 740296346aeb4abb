#!/usr/bin/env bash
# Stamping from Node: the npm package (node/, the WebAssembly core) against
# resedit, installed from npm into the benchmark's scratch folder for the
# comparison, on a 64 MiB module and a 15 KiB one built with mingw-w64. Both
# set the file version and a string and write the module back; time by
# hyperfine (module copied fresh before each run, outside the timing), peak
# memory by /usr/bin/time -v.
#
# Usage: bench/node-compare.sh [RUNS]      (default 10)
# Prints a Markdown table; the raw exports stay in build/bench-node.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
root=$PWD

cmake --preset wasm >/dev/null
cmake --build --preset wasm -j "$(nproc)" >/dev/null

work=$root/build/bench-node
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# shellcheck source=bench/fixtures.sh
. "$root/bench/fixtures.sh"
bench_fixture_modules
mv big_data.exe big.exe

printf '{"name":"bench","version":"1.0.0","private":true}\n' >package.json
npm install --silent --no-audit --no-fund --no-package-lock resedit >/dev/null

export QM_NODE_PACKAGE=$root/node
cat >quillmark.cjs <<'EOF'
const q = require(process.env.QM_NODE_PACKAGE);
q.stampFile(process.argv[2], { fileVersion: '2.3.4.5', strings: { CompanyName: 'Node bench' } });
EOF
cat >resedit.cjs <<'EOF'
const fs = require('fs');
const ResEdit = require('resedit');
const file = process.argv[2];
const exe = ResEdit.NtExecutable.from(fs.readFileSync(file));
const res = ResEdit.NtExecutableResource.from(exe);
const info = ResEdit.Resource.VersionInfo.fromEntries(res.entries)[0];
info.setFileVersion(2, 3, 4, 5, 1033);
info.setStringValues({ lang: 1033, codepage: 1200 }, { CompanyName: 'Node bench' });
info.outputToResourceEntries(res.entries);
res.outputResource(exe);
fs.writeFileSync(file, Buffer.from(exe.generate()));
EOF

peak() { # peak resident KiB of a command
  /usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p'
}

echo "| module | quillmark (Node) | resedit | ratio |"
echo "|--------|------------------|---------|-------|"
for m in big small; do
  size=$(stat -c %s $m.exe)
  for tool in quillmark resedit; do
    hyperfine -N --runs "$runs" --prepare "cp $m.exe w-$tool.exe" --export-json "$m-$tool.json" \
      "node $tool.cjs w-$tool.exe" >/dev/null 2>&1
    cp $m.exe w-$tool.exe
    peak node $tool.cjs w-$tool.exe >"$m-$tool.peak"
  done
  ms() { node -e 'console.log((JSON.parse(require("fs").readFileSync(process.argv[1])).results[0].median*1000).toFixed(1))' "$1"; }
  q=$(ms $m-quillmark.json) r=$(ms $m-resedit.json)
  echo "| $m ($((size / 1024)) KiB) | $q ms, $(( $(cat $m-quillmark.peak) / 1024 )) MiB peak | $r ms, $(( $(cat $m-resedit.peak) / 1024 )) MiB peak | $(node -e "console.log(($q/$r).toFixed(2))")x |"
done
echo
echo "($(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg), $runs runs each (median), module copied fresh before each run outside the timing)"
