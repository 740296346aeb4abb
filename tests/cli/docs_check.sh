#!/usr/bin/env bash
# The manual page, the guide and the shell completions against the program
# itself: the page and the guide list exactly the commands its --help lists,
# with every option each command's --help lists, the pages render without a
# warning, bash completes what the program takes, and every value bash offers
# for a list option is one the program accepts.
#
#   docs_check.sh CLI MAN_DIR COMPLETIONS_DIR MODULE
set -uo pipefail
cli=$1 man_dir=$2 completions=$3 module=$4
guide=$(cd "$(dirname "$0")/../.." && pwd)/docs/guide.md
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for page in "$man_dir"/*.1; do
  warnings=$(groff -ww -z -man "$page" 2>&1)
  [ -z "$warnings" ] || fail "$(basename "$page"): groff warns: $warnings"
done
text=$(groff -man -Tascii -P-c -P-b -P-u "$man_dir/quillmark-cli.1" 2>/dev/null)
grep -q "Quillmark $("$cli" --version | awk '{print $2}')" <<<"$text" || fail "the page does not carry the program's version"

# The guide's text under one heading, up to the next heading.
section() { awk -v head="$1" '$0 == head {on = 1; next} on && /^##/ {exit} on' "$guide"; }
# An option as a whole word: --file-version is not found in --file-version-string.
mentions() { grep -qE -- "$1([^a-z-]|\$)"; }
shared=$(section '### Options several commands share')
[ -n "$shared" ] || fail "the guide has no section on the options several commands share"

# Commands from the program's help, then each command's options.
commands=$("$cli" --help | awk '/^Subcommands:/ {on = 1; next} on && /^  [a-z]/ {print $1}' | sort)
[ -n "$commands" ] || fail "no commands found in --help"
in_page=$(awk '/^SYNOPSIS/ {on = 1} /^DESCRIPTION/ {on = 0} on && $1 == "quillmark-cli" && $2 ~ /^[a-z]/ {print $2}' \
  <<<"$text" | sort -u)
[ "$in_page" = "$commands" ] || fail "the page's synopsis lists $(echo $in_page), --help $(echo $commands)"
in_guide=$(sed -n 's/^### `\([a-z-]*\)`$/\1/p' "$guide" | sort)
[ "$in_guide" = "$commands" ] || fail "the guide's commands are $(echo $in_guide), --help lists $(echo $commands)"
for command in "" $commands; do
  [ -z "$command" ] || grep -qE "^ +$command " <<<"$text" || fail "command $command is not in the page"
  # The program's own help names other commands' options too: those are
  # looked for in the whole guide.
  if [ -z "$command" ]; then own=$(cat "$guide"); else own=$(section "### \`$command\`"); fi
  # shellcheck disable=SC2086
  for option in $("$cli" $command --help | grep -oE '(^|[ ,])--[a-z][a-z-]*' | tr -d ' ,' | sort -u); do
    mentions "$option" <<<"$text" || fail "option $option${command:+ of $command} is not in the page"
    mentions "$option" <<<"$own" || mentions "$option" <<<"$shared" ||
      fail "option $option${command:+ of $command} is not in the guide's section on it"
  done
done

# bash: words typed -> what completion must offer (all of it, space-separated).
source "$completions/quillmark-cli.bash"
complete -p quillmark-cli >/dev/null || fail "bash has no completion for quillmark-cli"
offers() {
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _quillmark_cli
  [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort
}
while IFS='|' read -r words want; do
  # shellcheck disable=SC2086
  got=$(offers quillmark-cli $words | paste -sd' ')
  [ "$got" = "$want" ] || fail "completing '$words': got '$got', want '$want'"
done <<'ROWS'
s|set show stamp
set --fl|--flag
set --flag pre|prerelease
inject --signed r|refuse remove
show --|--format --help --json --recursive --report
set --rec|--recursive
show --report j|json
show --format j|json
apply --o|--only-version
apply --l|--language
set --file-type ST|STATIC\ LIB
ROWS
mkdir -p "${TMPDIR:-/tmp}/qm-docs-check.$$" && cd "${TMPDIR:-/tmp}/qm-docs-check.$$" && touch alpha.exe
[ "$(offers quillmark-cli inject al)" = "alpha.exe" ] || fail "completing a module name does not offer the file"
cd - >/dev/null && rm -rf "${TMPDIR:-/tmp}/qm-docs-check.$$"

# Every value offered for a list option, the flag names included, is one the
# program takes (a dry run changes nothing).
for option in --file-os --file-type --file-subtype --flag; do
  mapfile -t values < <(offers quillmark-cli set "$option" "")
  [ ${#values[@]} -gt 0 ] || fail "no values offered for $option"
  for quoted in "${values[@]}"; do
    value=$(eval "printf '%s' $quoted")
    "$cli" set --dry-run "$option" "$value" "$module" >/dev/null 2>&1 || fail "$option '$value' is offered but refused"
  done
done

# fish: its own completer, asked as the shell asks it.
if command -v fish >/dev/null; then
  while IFS='|' read -r words want; do
    got=$(fish -c "source '$completions/quillmark-cli.fish'; complete -C '$words'" | cut -f1 | sort | paste -sd'|')
    [ "$got" = "$want" ] || fail "fish completing '$words': got '$got', want '$want'"
  done <<'ROWS'
quillmark-cli s|set|show|stamp
quillmark-cli set --flag pre|prerelease
quillmark-cli show --format r|rc
quillmark-cli inject --signed r|refuse|remove
quillmark-cli set --file-type ST|STATIC LIB
quillmark-cli show --report j|json
ROWS
fi

for shell in zsh fish; do
  command -v "$shell" >/dev/null || continue
  file=$completions/$([ $shell = zsh ] && echo _quillmark-cli || echo quillmark-cli.fish)
  "$shell" -n "$file" || fail "$shell cannot parse $(basename "$file")"
done

[ $failures -eq 0 ] && echo "docs_check: the page, the guide and the completions agree with the program"
exit $((failures > 0))
