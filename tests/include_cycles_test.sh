#!/usr/bin/env bash
# What tools/include-cycles.py counts as a tie between modules, on small trees made here.
set -euo pipefail
tool=$1/tools/include-cycles.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# file PATH: the file's text from standard input, under the case's tree.
file() { mkdir -p "$(dirname "$tree/$1")" && cat > "$tree/$1"; }

# expect STATUS [TEXT...]: the tool's exit status on the case's tree, and lines its output has.
expect() {
    local want=$1 got=0 output
    shift
    output=$(python3 "$tool" --root "$tree" m 2>&1) || got=$?
    [ "$got" = "$want" ] || { echo "FAIL $case: exit $got, not $want"; failures=1; }
    for text in "$@"; do
        grep -qF -- "$text" <<<"$output" || { echo "FAIL $case: no \"$text\""; failures=1; }
    done
    [ "$got" = "$want" ] || echo "$output"
}

start() { case=$1 tree=$work/$1; }

start own-header # a source including its own header is one module
printf '#include "m/a.h"\nint A() { return 1; }\n' | file m/a.cpp
printf 'int A();\n' | file m/a.h
expect 0 "no include cycle: 1 modules"

start two-headers
printf '#include "m/b.h"\nint A();\n' | file m/a.h
printf 'int B();\n' | file m/b.h
printf '#include "m/a.h"\nint B() { return A(); }\n' | file m/b.cpp
expect 1 "include cycle of 2 modules: m/a m/b" "m/b -> m/a: m/b.cpp includes m/a.h"

# A shared header's function belongs to the source that defines it: calling it ties the caller
# to that source; taking its address, or naming it in a comment or a string, does not.
start call-through-shared-header
printf 'int Ping();\nint Pong();\n' | file m/api.h
printf '#include "m/api.h"\n#include "m/user.h"\nint Ping() { return Used(); }\n' | file m/ping.cpp
printf 'int Used();\n' | file m/user.h
printf '#include "m/api.h"\nint Used() { return Ping(); }\n' | file m/user.cpp
expect 1 "include cycle of 2 modules: m/ping m/user" \
    "m/user -> m/ping: m/user.cpp calls Ping (m/api.h), defined in m/ping.cpp"

start address-comment-string
printf 'int Ping();\n' | file m/api.h
printf '#include "m/api.h"\n#include "m/user.h"\nint Ping() { return Used(); }\n' | file m/ping.cpp
printf 'int Used();\n' | file m/user.h
printf '#include "m/api.h"\n// Ping() on the way\nint Used() {\n  int (*p)() = &Ping;\n  const char* s = "Ping()";\n  return p() + *s;\n}\n' |
    file m/user.cpp
expect 0 "no include cycle: 3 modules"

start constructor # constructing a class runs its constructor, wherever that is defined
printf 'class Menu {\npublic:\n  Menu();\n};\n' | file m/handles.h
printf '#include "m/handles.h"\n#include "m/dialog.h"\nMenu::Menu() { Show(); }\n' | file m/menus.cpp
printf 'void Show();\n' | file m/dialog.h
printf '#include "m/handles.h"\nvoid Show() { Menu m; (void)m; static Menu* p = new Menu(); (void)p; }\n' |
    file m/dialog.cpp
expect 1 "m/dialog -> m/menus: m/dialog.cpp calls Menu (m/handles.h), defined in m/menus.cpp"

start own-helper # a function a source keeps to itself is not the header's, whatever its name
printf 'int Ping();\n' | file m/api.h
printf '#include "m/api.h"\nint Ping() { return 0; }\n' | file m/api.cpp
printf '#include "m/api.h"\n#include "m/user.h"\nnamespace {\nint Ping() { return Used(); }\n}\n' |
    file m/other.cpp
printf 'int Used();\n' | file m/user.h
printf '#include "m/api.h"\nint Used() { return Ping(); }\n' | file m/user.cpp
expect 0 "no include cycle: 3 modules"

if python3 "$tool" >/dev/null 2>&1; then
    echo "FAIL: no folder given, and no usage error"
    failures=1
fi
exit $failures
