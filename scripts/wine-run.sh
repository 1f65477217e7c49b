#!/usr/bin/env bash
# Runs a Windows program under Wine with code page 936 and without Wine's
# own diagnostics. WINE_LC_ALL overrides the locale: Wine maps file names
# through the Unix locale's character set, so names code page 936 cannot hold
# ("jörg", Hangul, emoji) need a UTF-8 one.
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
exec env WINEDEBUG=-all LC_ALL="${WINE_LC_ALL:-zh_CN.GBK}" WINEDLLOVERRIDES="mscoree,mshtml=" \
  WINEPREFIX="${WINEPREFIX:-$HOME/.wine-reminder}" "$wine" "$@"
