#!/usr/bin/env bash
# Checks the built bash completion of tanvork-cli against the program's --help:
#   completion_test.sh <tanvork-cli> <completion script>
# The options are read from the help here independently of the generator.
set -uo pipefail
cli=$1
completion=$2
passed=0
failed=0

help=$("$cli" --help) || { echo "FAIL: $cli --help"; exit 1; }
# Option lines start at column 2 ("-x, --long ARG") or 6 ("--long ARG").
help_options=() value_kind=()
while IFS= read -r line; do
    if [[ $line =~ ^\ \ (-[[:alnum:]])(,\ (--[[:alnum:]-]+))?(\ ([^ ]+))? ]]; then
        names=("${BASH_REMATCH[1]}" ${BASH_REMATCH[3]:+"${BASH_REMATCH[3]}"})
        arg=${BASH_REMATCH[5]}
    elif [[ $line =~ ^\ {6}(--[[:alnum:]-]+)(\ ([^ ]+))? ]]; then
        names=("${BASH_REMATCH[1]}")
        arg=${BASH_REMATCH[3]}
    else
        continue
    fi
    for n in "${names[@]}"; do
        help_options+=("$n")
        value_kind+=("$n=$arg")
    done
done <<<"$help"

# shellcheck source=/dev/null
source "$completion"

# Completes the command line $1 (cursor at its end) and prints the candidates sorted, one a line.
complete_line() {
    local line=$1
    # Split as bash does for completion: at blanks, and "=" as a word of its own.
    COMP_LINE=$line
    COMP_POINT=${#line}
    local spaced=${line//=/ = }
    read -r -a COMP_WORDS <<<"$spaced"
    [[ $line == *" " || $line == *"=" ]] && [[ $line != *"=" ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _tanvork_cli tanvork-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | sed '/^$/d'
}

check() {
    local name=$1 got=$2 want=$3
    if [[ $got == "$want" ]]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAIL: %s\n  want: %s\n  got:  %s\n' "$name" "${want//$'\n'/ }" "${got//$'\n'/ }"
    fi
}

sorted() { printf '%s\n' "$@" | LC_ALL=C sort | sed '/^$/d'; }

if [[ ${#help_options[@]} -lt 2 || " ${help_options[*]} " != *" --help "* || " ${help_options[*]} " != *" --version "* ]]; then
    echo "FAIL: no options read from the help"
    exit 1
fi
check "registered for tanvork-cli" "$(complete -p tanvork-cli 2>&1)" "complete -F _tanvork_cli tanvork-cli"
check "every option after -" "$(complete_line 'tanvork-cli -')" "$(sorted "${help_options[@]}")"
check "every option after a file" "$(complete_line 'tanvork-cli a.json -')" "$(sorted "${help_options[@]}")"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
touch a.json 'b c.json' ab.txt
files=$(sorted a.json ab.txt 'b c.json')
check "files as operands" "$(complete_line 'tanvork-cli ')" "$files"
check "files by prefix" "$(complete_line 'tanvork-cli a')" "$(sorted a.json ab.txt)"

# Each option's value, by the kind its help names.
for entry in "${value_kind[@]}"; do
    option=${entry%%=*}
    arg=${entry#*=}
    if [[ -z $arg ]]; then
        # A flag: the next word is an operand (a file) or another option.
        check "$option then a file" "$(complete_line "tanvork-cli $option ")" "$files"
    elif [[ $arg == *FILE ]]; then
        check "$option FILE" "$(complete_line "tanvork-cli $option ")" "$files"
        check "$option FILE by prefix" "$(complete_line "tanvork-cli $option b")" "b c.json"
        [[ $option == --* ]] && check "$option=FILE" "$(complete_line "tanvork-cli $option=a")" "$(sorted a.json ab.txt)"
    elif [[ $arg =~ ^[a-z0-9]+(\|[a-z0-9]+)+$ ]]; then
        IFS='|' read -r -a words <<<"$arg"
        check "$option choices" "$(complete_line "tanvork-cli $option ")" "$(sorted "${words[@]}")"
        # The shortest prefix of the second choice that no other choice shares.
        prefix=""
        for ((n = 1; n <= ${#words[1]}; n++)); do
            prefix=${words[1]:0:n}
            shared=0
            for w in "${words[@]}"; do [[ $w != "${words[1]}" && $w == "$prefix"* ]] && shared=1; done
            ((shared)) || break
        done
        check "$option choice by prefix" "$(complete_line "tanvork-cli $option $prefix")" "${words[1]}"
        [[ $option == --* ]] && check "$option=choice" "$(complete_line "tanvork-cli $option=")" "$(sorted "${words[@]}")"
    else
        # A number or free text ($arg): nothing, neither files nor options.
        check "$option $arg" "$(complete_line "tanvork-cli $option ")" ""
        check "$option $arg, typed a" "$(complete_line "tanvork-cli $option a")" ""
    fi
done
check "a value with = inside" "$(complete_line 'tanvork-cli --rename-group VIP=')" ""

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
