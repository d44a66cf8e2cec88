#!/usr/bin/env bash
# The Debian package as a site installs it, on this machine, as root:
#   - the shipped binaries are stripped and find their libraries through run
#     paths of the installed layout, also when the package is unpacked elsewhere;
#   - lintian finds nothing to say (errors, warnings, informational tags);
#   - the libraries are private to the package: none is on the linker's path;
#   - apt installs it with its dependencies and registers the engine in the
#     system class registry, which postinst makes; a report run by
#     another account (no class registry of its own) through the installed ufhost
#     on the sample company gives the build tree's answers;
#   - dpkg -r unregisters it, dpkg -P leaves nothing behind (no file, no class
#     registry, nothing in the linker's cache).
# The machine is put back as it was, also on failure.
#
#   bash tests/package/deb_test.sh DEB LINUX_BUILD_DIR
#
# One line per check, then "N passed, N failed"; exit status 1 on any failure.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source_dir="$(cd "$here/../.." && pwd)"
source "$source_dir/tests/windows/checks.sh"

if [ $# -ne 2 ]; then
  echo "usage: $0 DEB LINUX_BUILD_DIR" >&2
  exit 2
fi
deb="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
lin_build="$(cd "$2" 2>/dev/null && pwd)" || { echo "no such folder: $2" >&2; exit 2; }
[ -f "$deb" ] || { echo "no such package: $1" >&2; exit 2; }

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if dpkg-query -W -f='${Status}' u2lvost 2>/dev/null | grep -q "installed\|config-files"; then
  echo "u2lvost is already installed on this machine; remove it (dpkg -P u2lvost) to run this test" >&2
  echo "0 passed, 1 failed"
  exit 1
fi
if [ -e /etc/u2lvost ]; then
  echo "/etc/u2lvost exists already; this test would change it" >&2
  echo "0 passed, 1 failed"
  exit 1
fi

tmp="$(mktemp -d "${TMPDIR:-/tmp}/u2lvost-deb.XXXXXX")"
installed=""
cleanup() {
  [ -n "$installed" ] && $SUDO dpkg -P u2lvost >/dev/null 2>&1
  rm -rf "$tmp"
}
trap cleanup EXIT
# The account that runs the report: readable files, no class registry of its own.
chmod 755 "$tmp"
mkdir -m 755 "$tmp/home"

libdir="$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed -n 's|^\./\(usr/lib/[^ ]*\)/libu2lvost\.so$|/\1|p')"
version="$(dpkg-deb -f "$deb" Version)"

# ---------------------------------------------------------------------------
echo "== The package's files"

dpkg-deb -x "$deb" "$tmp/unpacked"
check_same "the report library keeps its plain name" "yes" \
  "$([ -f "$tmp/unpacked$libdir/libu2lvost.so" ] && echo yes)"
for f in "$tmp/unpacked$libdir"/*.so* "$tmp/unpacked/usr/bin"/*; do
  [ -L "$f" ] && continue
  name="${f#"$tmp/unpacked"}"
  check_same "$name carries no symbol table or debug sections" "" \
    "$(readelf -S -W "$f" | awk '{print $2}' | grep -E '^\.(symtab|strtab|debug)')"
done
check_same "no name of the password routine is left in the report library" "0" \
  "$(strings -a "$tmp/unpacked$libdir/libu2lvost.so" | grep -c -i 'getpassword')"
check_same "the programs' run path is relative to the installed layout" \
  "\$ORIGIN/..${libdir#/usr}" "$(readelf -d "$tmp/unpacked/usr/bin/ufhost" | sed -n 's/.*R.*PATH.*\[\(.*\)\]/\1/p')"
check_same "the libraries are in the package's own folder" "/usr/lib/x86_64-linux-gnu/u2lvost" "$libdir"
check_same "no library is on the linker's path" "" \
  "$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -E '^\./usr/lib/[^/]+/[^/]+\.so')"
check_same "the package depends on odbcinst (odbc-dsn.sh runs it) and the ODBC library" "yes yes" \
  "$(dpkg-deb -f "$deb" Depends | grep -c >/dev/null '\bodbcinst\b' && echo yes) $(dpkg-deb -f "$deb" Depends | grep -c >/dev/null 'libodbc2' && echo yes)"
check_same "the package recommends the SQLite and PostgreSQL drivers" "libsqliteodbc, odbc-postgresql" \
  "$(dpkg-deb -f "$deb" Recommends)"
check_same "the package suggests what the db scripts run" "sqlite3, postgresql-client" "$(dpkg-deb -f "$deb" Suggests)"
for f in usr/share/doc/u2lvost/copyright usr/share/doc/u2lvost/changelog.gz \
  usr/share/man/man1/ufhost.1.gz usr/share/man/man1/regsvr.1.gz; do
  check_same "the package holds /$f" "yes" "$([ -s "$tmp/unpacked/$f" ] && echo yes)"
done
check_same "the manual page of ufhost is its --help" "yes" \
  "$(zcat "$tmp/unpacked/usr/share/man/man1/ufhost.1.gz" | grep -cF >/dev/null '\-\-report\fR TEMPLATE' && echo yes)"
check_same "the copyright file is machine-readable" "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
  "$(head -n 1 "$tmp/unpacked/usr/share/doc/u2lvost/copyright")"
check_same "the Debian changelog names this version" "u2lvost ($version)" \
  "$(zcat "$tmp/unpacked/usr/share/doc/u2lvost/changelog.gz" | head -n 1 | cut -d' ' -f1-2)"
# Built with the distribution's hardening flags: full RELRO, fortified calls.
for f in usr/bin/ufhost "${libdir#/}/libu2lvost.so"; do
  check_same "/$f is linked with BIND_NOW and fortified" "yes yes" \
    "$(readelf -d "$tmp/unpacked/$f" | grep -c >/dev/null BIND_NOW && echo yes) $(readelf --dyn-syms -W "$tmp/unpacked/$f" | grep -c >/dev/null '_chk@' && echo yes)"
done
if command -v lintian >/dev/null; then
  check_same "lintian (pedantic, with informational tags) has nothing to say" "" \
    "$(lintian --info --display-info --pedantic "$deb" 2>&1 | grep -E '^[EWIPX]:')"
else
  fail "lintian is installed (scripts/setup.sh)" "lintian" "missing"
fi
# Unpacked anywhere, the programs find their libraries without LD_LIBRARY_PATH.
check_same "an unpacked ufhost runs from any folder" "ufhost (u2lvost) $version" \
  "$(env -u LD_LIBRARY_PATH "$tmp/unpacked/usr/bin/ufhost" --version 2>&1)"
U2LVOST_COM_REGISTRY="$tmp/unpacked.reg" "$tmp/unpacked/usr/bin/regsvr" --user /s \
  "$tmp/unpacked$libdir/libvrzelcal.so.1" >/dev/null 2>&1
check_same "an unpacked regsvr registers the unpacked engine" "2" \
  "$(grep -c "= $tmp/unpacked$libdir/libvrzelcal.so" "$tmp/unpacked.reg" 2>/dev/null)"

# ---------------------------------------------------------------------------
echo "== apt install"

$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >"$tmp/install.log" 2>&1
status=$?
installed=1
check_same "apt install ./${deb##*/} succeeds" "0" "$status"
[ "$status" -eq 0 ] || cat "$tmp/install.log"
check_same "the package is installed" "install ok installed" "$(dpkg-query -W -f='${Status}' u2lvost 2>&1)"
check_same "postinst said which file it wrote" "yes" \
  "$(grep -q 'system-wide class registry /etc/u2lvost/com-classes.reg' "$tmp/install.log" && echo yes)"
engine="$(readlink -f "$libdir/libvrzelcal.so.1")"
check_same "the system class registry names the installed engine for both classes" \
  "{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B} = $engine
{33C9B846-0D15-11D2-98A2-00104B9B151D} = $engine" "$(cat /etc/u2lvost/com-classes.reg 2>&1)"
check_same "the system class registry is root's and read-only to others" "root 644" \
  "$(stat -c '%U %a' /etc/u2lvost/com-classes.reg 2>&1)"
check_same "the linker's cache knows none of the package's libraries" "" "$(ldconfig -p | grep u2lvost)"
if command -v man >/dev/null; then
  check_same "man finds the manual pages" "2" "$(man -w ufhost regsvr 2>/dev/null | grep -c '/usr/share/man/man1/')"
fi
check_same "ufhost --version" "ufhost (u2lvost) $version" "$(ufhost --version 2>&1)"
check_same "regsvr --version" "regsvr (u2lvost) $version" "$(regsvr --version 2>&1)"

# ---------------------------------------------------------------------------
echo "== A report through the installed ufhost, run by another account"

bash /usr/share/u2lvost/db/make_sample.sh sqlite 4 "$tmp/company.db"
eval "$(bash /usr/share/u2lvost/scripts/odbc-dsn.sh sqlite "$tmp/company.db" "$tmp/odbc")"
chmod -R a+rX "$tmp/odbc" "$tmp/company.db"

# As "nobody" when we can switch users; the environment names no class registry.
as_site() {
  local run=(env -u U2LVOST_COM_REGISTRY -u U2LVOST_COM_SYSTEM_REGISTRY -u XDG_CONFIG_HOME HOME="$tmp/home"
    ODBCINI="$ODBCINI" ODBCSYSINI="$ODBCSYSINI" U2LVOST_PROFILE="$tmp/home/win.ini")
  if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
    setpriv --reuid=nobody --regid=nogroup --clear-groups "${run[@]}" "$@"
  else
    "${run[@]}" "$@"
  fi
}

report=(--report /usr/share/u2lvost/examples/asset_report.txt --rows /usr/share/u2lvost/examples/assets.csv)
site_report="$(cd "$tmp" && as_site ufhost "$libdir/libu2lvost.so" "${report[@]}" 2>"$tmp/site.err")"
site_status=$?
check_same "the installed report runs cleanly" "0" "$site_status"
check_same "the installed report shows no message" "" "$(cat "$tmp/site.err")"
# The build tree's answer, with the engine in a private registry.
U2LVOST_COM_REGISTRY="$tmp/build.reg" "$lin_build/com/regsvr" --user /s "$lin_build/engine/libvrzelcal.so"
build_report="$(U2LVOST_COM_REGISTRY="$tmp/build.reg" U2LVOST_COM_SYSTEM_REGISTRY= U2LVOST_PROFILE="$tmp/home/win.ini" \
  "$lin_build/host/ufhost" "$lin_build/src/libu2lvost.so" "${report[@]}" 2>&1)"
check_same "the installed report equals the build tree's" "$build_report" "$site_report"

fyend_cases=(
  "ZelFYEnd(1, 0, 2024-03-15)|2024-12-31"
  "ZelFYEnd(1, 1, 2000-03-15)|2000-06-30"
  "ZelFYEnd(1, 2, 2010-01-15)|2010-06-30"
  "ZelFYEnd(2, 0, 2024-03-15)|2024-06-30"
)
for row in "${fyend_cases[@]}"; do
  call="${row%|*}"
  check_same "$call through the system-registered engine" "${row#*|}" \
    "$(as_site ufhost "$libdir/libu2lvost.so" "$call" 2>&1)"
done

# ---------------------------------------------------------------------------
echo "== A removal or an upgrade that fails after prerm"

# dpkg then calls postinst abort-remove (abort-upgrade, abort-deconfigure): the
# package stays, so its engine must be in the registry again.
for action in abort-remove abort-upgrade abort-deconfigure; do
  $SUDO regsvr --system /u /s "$engine" >/dev/null 2>&1
  $SUDO /var/lib/dpkg/info/u2lvost.postinst "$action" "$version" >/dev/null 2>&1
  check_same "postinst $action registers the engine again" "2" \
    "$(grep -c "= $engine\$" /etc/u2lvost/com-classes.reg 2>/dev/null)"
done
check_same "the report works after them" "2024-12-31" \
  "$(as_site ufhost "$libdir/libu2lvost.so" 'ZelFYEnd(1, 0, 2024-03-15)' 2>&1)"

# ---------------------------------------------------------------------------
echo "== The installed ufhost --check advises in the package's terms"

check_same "the site guide and the --check --json form are installed with the docs" "2" \
  "$(ls /usr/share/doc/u2lvost/site-guide.md /usr/share/doc/u2lvost/check.schema.json 2>/dev/null | wc -l)"
$SUDO regsvr --system /u /s "$engine" >/dev/null 2>&1
advice="$(cd "$tmp" && as_site ufhost --check --json 2>&1)"
check_same "with the engine unregistered, the check fails" "1" "$?"
check_same "the advice names the engine's installed file and dpkg-reconfigure u2lvost" "1 1 0" \
  "$(printf '%s\n' "$advice" | grep -c "register the calendar engine $libdir/libvrzelcal.so.1: dpkg-reconfigure u2lvost") \
$(printf '%s\n' "$advice" | grep -c '"library": "'"$libdir"'/libu2lvost.so"') \
$(printf '%s\n' "$advice" | grep -c "$source_dir")"
$SUDO /var/lib/dpkg/info/u2lvost.postinst abort-remove "$version" >/dev/null 2>&1

# ---------------------------------------------------------------------------
echo "== dpkg -r and dpkg -P"

$SUDO dpkg -r u2lvost >"$tmp/remove.log" 2>&1
check_same "dpkg -r succeeds" "0" "$?"
check_same "the engine is unregistered and the system registry removed" "no" \
  "$([ -e /etc/u2lvost ] && echo yes || echo no)"
check_same "the installed files are gone" "" \
  "$(ls /usr/bin/ufhost /usr/bin/regsvr "$libdir"/libu2lvost* "$libdir"/libvrzelcal* 2>/dev/null)"
$SUDO dpkg -P u2lvost >/dev/null 2>&1
check_same "dpkg -P leaves no trace of the package" "" "$(dpkg-query -W -f='${Status}' u2lvost 2>/dev/null)"
check_same "nor anything in the linker's cache" "" "$(ldconfig -p | grep u2lvost)"
installed=""

# A purge takes the class registry that postinst made, whatever is left in it.
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >/dev/null 2>&1
installed=1
printf '{00000000-0000-0000-0000-000000000001} = /opt/other/libother.so\n' | $SUDO tee -a /etc/u2lvost/com-classes.reg >/dev/null
$SUDO dpkg -r u2lvost >/dev/null 2>&1
check_same "dpkg -r keeps a class registry that still names another class" "yes" \
  "$([ -f /etc/u2lvost/com-classes.reg ] && echo yes)"
$SUDO dpkg -P u2lvost >/dev/null 2>&1
check_same "dpkg -P removes it" "no" "$([ -e /etc/u2lvost ] && echo yes || echo no)"
installed=""

summary
