# bash completion for quillmark-cli
# Commands, their options, the values of options that take a fixed list, and
# files where a file is expected.

_quillmark_cli_items() {
  # Items that may hold blanks: matched against the word typed so far, then
  # quoted so that the shell hands each over as one argument.
  local cur=$1 item
  shift
  for item in "$@"; do
    [[ $item == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$item")")
  done
}

_quillmark_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  local commands=(show build inject extract stamp set apply get check diff lint)
  local flags=(debug prerelease patched privatebuild specialbuild infoinferred)
  local file_os=(UNKNOWN DOS "OS/2 16" "OS/2 32" NT WINDOWS16 PM16 PM32 WINDOWS32 "DOS (WINDOWS16)"
    "DOS (WINDOWS32)" "OS/2 16 (PM16)" "OS/2 32 (PM32)" "NT (WINDOWS32)")
  local file_types=(UNKNOWN APP DLL DRV FONT VxD "STATIC LIB")
  local subtypes=(UNKNOWN "DRV PRINTER" "DRV KEYBOARD" "DRV LANGUAGE" "DRV DISPLAY" "DRV MOUSE" "DRV NETWORK"
    "DRV SYSTEM" "DRV INSTALLABLE" "DRV SOUND" "DRV COMM")

  # A quoted value being typed: compare without the opening quote.
  local bare=${cur#[\"\']}
  case $prev in
    --flag | --no-flag) _quillmark_cli_items "$bare" "${flags[@]}"; return ;;
    --signed) _quillmark_cli_items "$bare" remove refuse; return ;;
    --report) _quillmark_cli_items "$bare" text json; return ;;
    --format) _quillmark_cli_items "$bare" text json rc; return ;;
    --file-os) _quillmark_cli_items "$bare" "${file_os[@]}"; return ;;
    --file-type) _quillmark_cli_items "$bare" "${file_types[@]}"; return ;;
    --file-subtype) _quillmark_cli_items "$bare" "${subtypes[@]}"; return ;;
    --file-version | --product-version | --file-version-string | --product-version-string | --string | \
      --remove-string | --table | --language | --fixed | -D | --define | -U | --undefine | --codepage) return ;;
    -I | --include-dir) compopt -o dirnames 2>/dev/null; COMPREPLY=($(compgen -d -- "$cur")); return ;;
  esac

  local command="" i
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      --signed | --format | --flag | --no-flag | --file-os | --file-type | --file-subtype | --file-version | \
        --product-version | --file-version-string | --product-version-string | --string | --remove-string | \
        --table | --language | --report | --fixed | -I | --include-dir | -D | --define | -U | --undefine | \
        --codepage) ((i++)) ;;
      -*) ;;
      *) command=${COMP_WORDS[i]}; break ;;
    esac
  done

  if [ -z "$command" ]; then
    _quillmark_cli_items "$cur" --help --version "${commands[@]}"
    return
  fi

  local options=(--help)
  case $command in
    show) options+=(--json --format --recursive --report) ;;
    lint) options+=(--json --recursive --report) ;;
    build) options+=(-I --include-dir -D --define -U --undefine --codepage --only-version) ;;
    inject) options+=(--raw --force --signed) ;;
    stamp) options+=(--force --signed) ;;
    set) options+=(--file-version --product-version --file-version-string --product-version-string --string
      --remove-string --table --flag --no-flag --file-os --file-type --file-subtype --language --dry-run --force
      --signed --recursive --report) ;;
    apply) options+=(--language -I --include-dir -D --define -U --undefine --codepage --only-version --force
      --signed) ;;
    get) options+=(--fixed --table --language) ;;
    check) options+=(--file-version --product-version --string --flag --no-flag --table --language --recursive
      --report) ;;
    diff) options+=(--json) ;;
  esac
  if [[ $cur == -* ]]; then
    _quillmark_cli_items "$cur" "${options[@]}"
    return
  fi
  compopt -o filenames 2>/dev/null
  local IFS=$'\n'
  COMPREPLY=($(compgen -f -- "$cur"))
}
complete -F _quillmark_cli quillmark-cli
