#!/usr/bin/env bash
# Runs a Windows program under Wine with code page 936 and without Wine's
# own diagnostics. WINE_LC_ALL overrides the locale: Wine maps file names
# through the Unix locale's character set, so names code page 936 cannot hold
# ("jörg", Hangul, emoji) need a UTF-8 one.
#
# Wine takes its code page from the Unix locale: without an installed
# zh_CN.GBK every Chinese text would show as "???". A fresh machine has none,
# so it is compiled once (from the `locales` package's sources) into a folder
# of our own, leaving the system's locales alone.
set -euo pipefail

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
locale_name=zh_CN.GBK

has_locale() {
  LOCPATH="${1:-}" locale -a 2>/dev/null | grep -qix 'zh_CN\.gbk'
}

# Prints the LOCPATH to use (empty: the system's); fails when it cannot be made.
find_or_make_locale() {
  has_locale && return 0
  local own="${XDG_CACHE_HOME:-$HOME/.cache}/reminder-locale"
  [[ -f "$own/$locale_name/LC_CTYPE" ]] && { echo "$own"; return 0; }
  command -v localedef >/dev/null || return 1
  mkdir -p "$own"
  # Tests run in parallel: one compiles, the others wait for it.
  (
    flock 9
    [[ -f "$own/$locale_name/LC_CTYPE" ]] && exit 0
    # Built aside and moved in whole: others look without the lock. localedef
    # warns about GBK's tables (status 1) but writes the locale.
    rm -rf "$own/.new"
    localedef -i zh_CN -f GBK "$own/.new" >/dev/null 2>&1 || true
    [[ -f "$own/.new/LC_CTYPE" ]] && mv "$own/.new" "$own/$locale_name"
  ) 9>"$own/.lock" || return 1
  echo "$own"
}

locpath=
if [[ -z "${WINE_LC_ALL:-}" ]]; then
  if ! locpath=$(find_or_make_locale); then
    echo "wine-run: no $locale_name locale and it cannot be made (apt-get install locales)" >&2
    exit 1
  fi
fi

exec env WINEDEBUG=-all LC_ALL="${WINE_LC_ALL:-$locale_name}" ${locpath:+LOCPATH="$locpath"} \
  WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX="${WINEPREFIX:-$HOME/.wine-reminder}" \
  "$wine" "$@"
