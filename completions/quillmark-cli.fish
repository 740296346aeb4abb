# fish completion for quillmark-cli

set -l commands show build inject extract stamp set apply
set -l stamping inject stamp set apply

complete -c quillmark-cli -f -n "not __fish_seen_subcommand_from $commands" -a show -d 'Print version information'
complete -c quillmark-cli -f -n "not __fish_seen_subcommand_from $commands" -a build -d 'Build a block file from JSON fields'
complete -c quillmark-cli -f -n "not __fish_seen_subcommand_from $commands" -a inject -d 'Store a block file in a module'
complete -c quillmark-cli -f -n "not __fish_seen_subcommand_from $commands" -a extract -d 'Write the version resource as a block file'
complete -c quillmark-cli -f -n "not __fish_seen_subcommand_from $commands" -a stamp -d 'Build and store in one step'
complete -c quillmark-cli -f -n "not __fish_seen_subcommand_from $commands" -a set -d 'Change a few things, keep the rest'
complete -c quillmark-cli -f -n "not __fish_seen_subcommand_from $commands" -a apply -d 'Write the whole version information'
complete -c quillmark-cli -n "not __fish_seen_subcommand_from $commands" -l version -d 'Print the version'
complete -c quillmark-cli -s h -l help -d 'Print help'

complete -c quillmark-cli -n "__fish_seen_subcommand_from $commands" -F
complete -c quillmark-cli -n '__fish_seen_subcommand_from show' -l json -d 'Print one JSON object'
complete -c quillmark-cli -n '__fish_seen_subcommand_from show' -l format -x -a 'text json rc' -d 'Form to print'
complete -c quillmark-cli -n '__fish_seen_subcommand_from build apply' -l only-version -d 'Skip other resource statements in a script'
complete -c quillmark-cli -n '__fish_seen_subcommand_from inject' -l raw -d 'Store the bytes as they are'
complete -c quillmark-cli -n "__fish_seen_subcommand_from $stamping" -l force -d 'Stamp even a module whose appended data checks the file'
complete -c quillmark-cli -n "__fish_seen_subcommand_from $stamping" -l signed -x -a 'remove refuse' -d 'What to do with a signed module'
complete -c quillmark-cli -n '__fish_seen_subcommand_from set' -l file-version -x -d 'A.B.C.D'
complete -c quillmark-cli -n '__fish_seen_subcommand_from set' -l product-version -x -d 'A.B.C.D'
complete -c quillmark-cli -n '__fish_seen_subcommand_from set' -l string -x -d 'KEY=VALUE'
complete -c quillmark-cli -n '__fish_seen_subcommand_from set' -l remove-string -x -d 'KEY'
complete -c quillmark-cli -n '__fish_seen_subcommand_from set' -l table -x -d 'KEY8, such as 040904B0'
complete -c quillmark-cli -n '__fish_seen_subcommand_from set' -l flag -x -a 'debug prerelease patched privatebuild specialbuild infoinferred' -d 'Set a flag'
complete -c quillmark-cli -n '__fish_seen_subcommand_from set' -l no-flag -x -a 'debug prerelease patched privatebuild specialbuild infoinferred' -d 'Clear a flag'
complete -c quillmark-cli -n '__fish_seen_subcommand_from set' -l file-os -x -a "UNKNOWN DOS 'OS/2 16' 'OS/2 32' NT WINDOWS16 PM16 PM32 WINDOWS32 'DOS (WINDOWS16)' 'DOS (WINDOWS32)' 'OS/2 16 (PM16)' 'OS/2 32 (PM32)' 'NT (WINDOWS32)'" -d 'File OS'
complete -c quillmark-cli -n '__fish_seen_subcommand_from set' -l file-type -x -a "UNKNOWN APP DLL DRV FONT VxD 'STATIC LIB'" -d 'File type'
complete -c quillmark-cli -n '__fish_seen_subcommand_from set' -l file-subtype -x -a "UNKNOWN 'DRV PRINTER' 'DRV KEYBOARD' 'DRV LANGUAGE' 'DRV DISPLAY' 'DRV MOUSE' 'DRV NETWORK' 'DRV SYSTEM' 'DRV INSTALLABLE' 'DRV SOUND' 'DRV COMM'" -d 'File subtype'
complete -c quillmark-cli -n '__fish_seen_subcommand_from set apply' -l language -x -d 'Hexadecimal language id'
complete -c quillmark-cli -n '__fish_seen_subcommand_from set' -l dry-run -d 'Change nothing, print what would be written'
