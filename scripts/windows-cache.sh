# Sourced by the scripts that build a Windows library from Debian's source (qt-windows,
# sqlite-windows): the cache of a build under the hash of its recipe, the packages the build needs,
# and a source package of the archive the machine installs from. The caller defines say().

# Prints the cached folder and succeeds when `prefix` (or else `shared`, copied to `prefix`) holds a
# build of `recipe`.
windows_cache_use() {
  local prefix=$1 recipe=$2 shared=$3
  if [ -f "$prefix/kestro-recipe.sha256" ] && [ "$(cat "$prefix/kestro-recipe.sha256")" = "$recipe" ]; then
    say "using the build in $prefix (same recipe)"
    echo "$prefix"
    return 0
  fi
  if [ -f "$shared/kestro-recipe.sha256" ] && [ "$(cat "$shared/kestro-recipe.sha256")" = "$recipe" ]; then
    say "copying the prebuilt build of the same recipe from $shared"
    rm -rf "$prefix" && mkdir -p "$(dirname "$prefix")" && cp -a "$shared" "$prefix"
    echo "$prefix"
    return 0
  fi
  return 1
}

windows_cache_sudo=()
[ "$(id -u)" -eq 0 ] || windows_cache_sudo=(sudo)

# Installs the packages that are missing, with the archive's deb-src entry for apt-get source.
windows_cache_packages() {
  local missing=() p
  for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
  # The source of the same Debian archive the machine installs from.
  if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    say "adding the archive's deb-src entry"
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      "${windows_cache_sudo[@]}" tee /etc/apt/sources.list.d/kestro-deb-src.sources >/dev/null
  fi
  say "apt-get update"
  "${windows_cache_sudo[@]}" apt-get update >/dev/null
  if [ ${#missing[@]} -gt 0 ]; then
    say "installing ${missing[*]}"
    "${windows_cache_sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
      "${missing[@]}" >/dev/null
  fi
}

# Downloads the source package `name` at `version` into the current folder, or its current
# version once the archive has moved on (a point release).
windows_cache_source() {
  local name=$1 version=$2
  if ! apt-get source --download-only "$name=$version" >/dev/null 2>&1; then
    say "$name $version is no longer in the archive: building its current $name"
    apt-get source --download-only "$name" >/dev/null
  fi
}
