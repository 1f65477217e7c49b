#!/usr/bin/env bash
# Runs a Windows program under Wine with code page 936 and without Wine's
# own diagnostics.
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
exec env WINEDEBUG=-all LC_ALL=zh_CN.GBK WINEDLLOVERRIDES="mscoree,mshtml=" \
  WINEPREFIX="${WINEPREFIX:-$HOME/.wine-reminder}" "$wine" "$@"
