# Sourced by the scripts: km_install_packages PKG... installs with apt-get
# (through sudo when not root) those of the Debian packages that are missing.
km_install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Prints deb-src stanzas (deb822) for the Debian archives this machine already
# takes binary packages from: each "Types: deb" stanza of /etc/apt/sources.list.d/
# *.sources signed by Debian's archive key, and each "deb" line of the one-line
# lists, with its URI, suites and components as they stand.
km_deb_src_lines() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk 'BEGIN { RS=""; FS="\n" }
         /(^|\n)Types:([^\n]* )?deb( |\n|$)/ && /debian-archive-keyring/ {
           out = ""
           for (i = 1; i <= NF; i++) {
             if ($i ~ /^#/) continue
             if ($i ~ /^Types:/) out = out "Types: deb-src\n"
             else out = out $i "\n"
           }
           printf "%s\n", out
         }' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk '$1 == "deb" && $0 ~ /debian/ {
           n = 2; opts = ""
           if ($2 ~ /^\[/) { while ($n !~ /\]$/) n++; n++ }
           uri = $n; suite = $(n + 1); comps = ""
           for (i = n + 2; i <= NF; i++) comps = comps (comps ? " " : "") $i
           printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\n\n", uri, suite, comps
         }' "$f"
  done
}
