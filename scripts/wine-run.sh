#!/usr/bin/env bash
# Runs a Windows program under Wine with code page 936 and without Wine's
# own diagnostics. WINE_LC_ALL overrides the locale: Wine maps file names
# through the Unix locale's character set, so names code page 936 cannot hold
# ("jörg", Hangul, emoji) need a UTF-8 one.
#
# Wine takes the program's code page from the locale's language (zh_CN: 936)
# and what it writes to a terminal from the locale's character set. So on a
# terminal it runs under zh_CN.UTF-8, and the Chinese shows right in an
# ordinary UTF-8 terminal; otherwise (tests, pipes, files) under zh_CN.GBK,
# as the test suite expects. A fresh machine may have neither: the missing
# one is compiled once (from the `locales` package's sources) into a folder
# of our own, leaving the system's locales alone.
set -euo pipefail

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
if [[ -t 1 ]]; then
  locale_name=zh_CN.UTF-8 charmap=UTF-8
else
  locale_name=zh_CN.GBK charmap=GBK
fi

# locale -a spells the character set in its own way (zh_CN.utf8, zh_CN.gbk).
has_locale() {
  local spelled=${locale_name%%.*}.$(tr -d '-' <<<"${locale_name#*.}")
  LOCPATH="${1:-}" locale -a 2>/dev/null | grep -qix "${spelled//./\\.}"
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
    localedef -i zh_CN -f "$charmap" "$own/.new" >/dev/null 2>&1 || true
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
