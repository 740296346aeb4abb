# Shared by the recipe scripts: a scratch folder, a git repository in it
# with a tagged history, and the check every step ends with.
set -euo pipefail
cli=$(realpath "$1")
module=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

git_repo() { # a repository whose history is tagged v2.4.0, one commit before HEAD
  git init -q repo
  cd repo
  local c=(git -c user.name=ci -c user.email=ci@example.org -c commit.gpgsign=false)
  "${c[@]}" commit -q --allow-empty -m release
  "${c[@]}" tag -a v2.4.0 -m v2.4.0
  "${c[@]}" commit -q --allow-empty -m "after the release"
}

expect() { # what got expected
  if [ "$2" != "$3" ]; then
    echo "$1: expected '$3', got '$2'" >&2
    exit 1
  fi
}

expect_code() { # what code command...
  local what=$1 want=$2 code=0
  shift 2
  "$@" >"$work/out" 2>"$work/err" || code=$?
  if [ "$code" != "$want" ]; then
    echo "$what: exit code $code, expected $want; stderr:" >&2
    cat "$work/err" >&2
    exit 1
  fi
}
