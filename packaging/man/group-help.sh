#!/bin/sh
# The help of one command group of palo520g in the shape help2man reads: the
# group's usage, then a section per subcommand with its usage and options.
# Usage: group-help.sh PROGRAM GROUP --help|--version
program=$1
group=$2
if [ "$3" = "--version" ]; then
    exec "$program" --version
fi
subcommands=$("$program" "$group" --help | sed -n '/^Subcommands:/,$p' | sed -n 's/^  \([a-z][a-z0-9-]*\) .*/\1/p')
if [ -z "$subcommands" ]; then
    exec "$program" "$group" --help
fi
"$program" "$group" --help | sed '/^Subcommands:/,$d; /--help-all/d'
for sub in $subcommands; do
    help=$("$program" "$group" "$sub" --help)
    echo
    echo "$group $sub:"
    # Its usage and what it does as paragraphs, then its options as a list of their own.
    printf '%s\n\n' "$(printf '%s\n' "$help" | sed -n 's/^Usage: \(.*\)$/  \1/p')"
    printf '  %s.\n\n' "$(printf '%s\n' "$help" | sed -n 1p)"
    printf '%s\n' "$help" | sed '1,/^Usage: /d; /^$/d; /^Options:$/d; /^Positionals:$/d; /--help-all/d; /-h,--help/d'
done
