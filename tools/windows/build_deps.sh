#!/usr/bin/env bash
# Installs what the Windows cross builds and their Wine runs need, and builds the static libraries
# of the cross builds for each target into a cache outside the clone, where later runs reuse them.
#
#   tools/windows/build_deps.sh [x86_64|i686]...        (no argument: both)
#
# Cache: ${KILN_WINDOWS_CACHE:-/var/cache/kiln-windows}
#   <triplet>/              install prefix per target (include/, lib/, lib/cmake/)
#   <triplet>/.stamps/      one stamp per library, version and recipe; a stamp means "built"
#   src/<package>-<version> Debian source packages, unpacked with Debian's patches applied
#   logs/                   the output of every step; only failures are printed
#
# zlib is Debian's MinGW package (static libz.a from /usr/<triplet>). libpng, libjpeg-turbo and
# FreeType are built from the Debian source packages of the versions the machine's package lists
# name for libpng-dev, libjpeg62-turbo-dev and libfreetype-dev, so both platforms use the same
# library versions. GoogleTest (without GoogleMock, which no test uses) is built from the sources of
# Debian's googletest package.
# The cache is locked while the script works, so two runs may start at once.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
cache=${KILN_WINDOWS_CACHE:-/var/cache/kiln-windows}
jobs=${KILN_WINDOWS_JOBS:-2}

targets=()
for arg in "$@"; do
  case $arg in
    x86_64|x86_64-w64-mingw32) targets+=(x86_64-w64-mingw32) ;;
    i686|i686-w64-mingw32) targets+=(i686-w64-mingw32) ;;
    *) echo "usage: $0 [x86_64|i686]..." >&2; exit 2 ;;
  esac
done
[[ ${#targets[@]} -gt 0 ]] || targets=(x86_64-w64-mingw32 i686-w64-mingw32)

packages=(
  # the cross compilers (both targets, both thread variants) and Debian's MinGW zlib
  mingw-w64 libz-mingw-w64-dev
  # building the libraries
  cmake make ninja-build nasm dpkg-dev googletest
  # 64-bit Wine and what its X11 driver and opengl32 load at run time, on Xvfb with Mesa's
  # software GL; the XTest client library for injected input
  wine64 xvfb xauth libgl1 libgl1-mesa-dri libx11-6 libxext6 libxrender1 libxrandr2 libxi6
  libxcursor1 libxfixes3 libxcomposite1 libxinerama1 libxxf86vm1 libxtst6 fonts-wine
)

say() { echo "windows deps: $*"; }
fail() { echo "windows deps: $*" >&2; exit 1; }

install_packages() {
  local missing=() package status
  for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$package")
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0
  if [[ $(id -u) -ne 0 ]]; then
    echo "Missing packages. Run as root:" >&2
    echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  say "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >"$logs/apt-install.log" 2>&1 || { tail -20 "$logs/apt-install.log" >&2; fail "apt-get update failed"; }
  apt-get install -y -q --no-install-recommends "${missing[@]}" >>"$logs/apt-install.log" 2>&1 ||
    { tail -20 "$logs/apt-install.log" >&2; fail "apt-get install failed (log: $logs/apt-install.log)"; }
}

# The Debian source package and version behind a binary package's candidate: "name version".
source_of() {
  local fields
  fields=$(apt-cache show --no-all-versions "$1" 2>/dev/null || true)
  if [[ -z $fields ]]; then
    apt-get update -q >>"$logs/apt-install.log" 2>&1 || true
    fields=$(apt-cache show --no-all-versions "$1" 2>/dev/null) || fail "apt knows no package $1"
  fi
  awk -v binary="$1" '
    /^Source: / { source = $2; if ($3 ~ /^\(/) { version = $3; gsub(/[()]/, "", version) } }
    /^Version: / && version == "" { version = $2 }
    END { if (source == "") source = binary; print source, version }' <<<"$fields"
}

# Sets up a private apt state in the cache with one temporary deb-src list (the machine's own mirrors
# and suites), so the machine's sources and package lists stay as they are.
apt_options=()
open_source_lists() {
  [[ ${#apt_options[@]} -gt 0 ]] && return 0
  local apt_dir=$cache/apt codename keyring=""
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [[ -n $codename ]] || fail "no VERSION_CODENAME in /etc/os-release"
  [[ -r /usr/share/keyrings/debian-archive-keyring.gpg ]] &&
    keyring="[signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] "
  rm -rf "$apt_dir"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts" "$apt_dir/download"
  apt-get indextargets --format '$(SITE) $(RELEASE) $(COMPONENT)' 'Identifier: Packages' |
    awk -v c="$codename" -v k="$keyring" '$3 == "main" && ($2 == c || $2 == c "-updates" || $2 == c "-security") {
      print "deb-src " k $1 " " $2 " main" }' | sort -u >"$apt_dir/deb-src.list"
  [[ -s $apt_dir/deb-src.list ]] ||
    echo "deb-src ${keyring}http://deb.debian.org/debian $codename main" >"$apt_dir/deb-src.list"
  apt_options=(-q -o Dir::Etc::SourceList="$apt_dir/deb-src.list" -o Dir::Etc::SourceParts="$apt_dir/parts"
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache" -o APT::Sandbox::User=root)
  apt-get "${apt_options[@]}" update >>"$logs/sources.log" 2>&1 ||
    { tail -20 "$logs/sources.log" >&2; fail "apt-get update of the deb-src list failed (log: $logs/sources.log)"; }
}

close_source_lists() {
  rm -rf "$cache/apt"
  apt_options=()
}

# Unpacks the source package <name> of the binary candidate <version> into the cache unless it is
# there, and sets source_dir and source_version. A mirror may lack the newest upload's files (seen: a security
# update's .dsc missing while its index lists it); then the newest version it does serve is taken,
# and the choice is remembered for this candidate, so later runs need no network.
unpack_source() {
  local name=$1 candidate=$2 record=$cache/src/$1.version recorded_candidate recorded_version
  if [[ -f $record ]]; then
    read -r recorded_candidate recorded_version <"$record"
    if [[ $recorded_candidate == "$candidate" && -e $cache/src/$name-${recorded_version#*:}/.unpacked ]]; then
      source_dir=$cache/src/$name-${recorded_version#*:}
      source_version=$recorded_version
      return 0
    fi
  fi
  open_source_lists
  local download=$cache/apt/download version versions
  versions=$(apt-cache "${apt_options[@]}" showsrc "$name" | awk '/^Version: / { print $2 }' | sort -u)
  versions=$( { echo "$candidate"; for version in $versions; do
    if dpkg --compare-versions "$version" lt "$candidate"; then echo "$version"; fi; done | sort -rV; } )
  for version in $versions; do
    rm -rf "$download" && mkdir -p "$download"
    echo "== apt-get source $name=$version" >>"$logs/sources.log"
    (cd "$download" && apt-get "${apt_options[@]}" source --download-only "$name=$version") \
      >>"$logs/sources.log" 2>&1 || continue
    local dir=$cache/src/$name-${version#*:}
    rm -rf "$dir"
    dpkg-source -x "$download/${name}_${version#*:}.dsc" "$dir" >>"$logs/sources.log" 2>&1 ||
      { tail -20 "$logs/sources.log" >&2; fail "dpkg-source -x of $name $version failed"; }
    # dpkg-source leaves links to the upstream tarballs beside the folder.
    rm -f "$cache/src/${name}_"*
    touch "$dir/.unpacked"
    echo "$candidate $version" >"$record"
    [[ $version == "$candidate" ]] || say "$name $candidate is not served; took $version"
    source_dir=$dir
    source_version=$version
    return 0
  done
  tail -20 "$logs/sources.log" >&2
  fail "could not fetch the Debian sources of $name (log: $logs/sources.log)"
}

# Configures, builds and installs one CMake project for a target unless its stamp is there.
#   build_cmake <target> <name> <version> <source dir> [cmake options...]
build_cmake() {
  local target=$1 name=$2 version=$3 source=$4
  shift 4
  local prefix=$cache/$target toolchain=$root/cmake/toolchains/mingw-${target%%-*}.cmake
  local recipe
  recipe=$( { printf '%s\n' "$version" "$@"; cat "$root/cmake/toolchains/mingw-common.cmake" "$toolchain";
    local arch=${target%%-*}
    dpkg-query -W -f='${Version}\n' "g++-mingw-w64-${arch//_/-}-posix" mingw-w64-common 2>/dev/null || true; } |
    sha256sum | cut -c1-12)
  local stamp=$prefix/.stamps/$name-${version#*:}-$recipe
  [[ -e $stamp ]] && return 0

  local build=$cache/build/$target/$name log=$logs/$target-$name.log start=$SECONDS
  rm -rf "$build"
  rm -f "$prefix/.stamps/$name-"*
  mkdir -p "$prefix/.stamps"
  mkdir -p "$build"
  # From inside the build folder, and with absolute install folders: libjpeg-turbo resolves a
  # relative CMAKE_INSTALL_LIBDIR against the working directory.
  {
    cd "$build" &&
    cmake -S "$source" -B "$build" -G "Unix Makefiles" \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKILN_WINDOWS_DEPS="$prefix" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR="$prefix/lib" \
      -DCMAKE_INSTALL_INCLUDEDIR="$prefix/include" -DCMAKE_INSTALL_BINDIR="$prefix/bin" \
      -DBUILD_SHARED_LIBS=OFF "$@" &&
      make -C "$build" -j"$jobs" &&
      make -C "$build" install
  } >"$log" 2>&1 || { cd "$root"; tail -30 "$log" >&2; fail "$name $version for $target failed (log: $log)"; }
  cd "$root"
  rm -rf "$build"
  touch "$stamp"
  say "$name $version for $target built in $((SECONDS - start)) s"
}

build_target() {
  local target=$1 zlib=/usr/$1/lib/libz.a
  [[ -f $zlib ]] || fail "$zlib is missing (Debian's libz-mingw-w64-dev)"
  build_cmake "$target" libpng "$png_version" "$png_dir" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DSKIP_INSTALL_PROGRAMS=ON \
    -DZLIB_LIBRARY="$zlib" -DZLIB_INCLUDE_DIR="/usr/$target/include"
  build_cmake "$target" libjpeg-turbo "$jpeg_version" "$jpeg_dir" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=ON -DREQUIRE_SIMD=ON \
    -DCMAKE_ASM_NASM_COMPILER=nasm
  # FreeType's gzip support uses the one zlib of the program: with FT_DISABLE_ZLIB it would carry a
  # copy of its own, whose symbols clash with Debian's libz.a when both are linked in.
  build_cmake "$target" freetype "$freetype_version" "$freetype_dir" \
    -DFT_REQUIRE_ZLIB=ON -DZLIB_LIBRARY="$zlib" -DZLIB_INCLUDE_DIR="/usr/$target/include" -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON -DFT_DISABLE_HARFBUZZ=ON \
    -DFT_DISABLE_BROTLI=ON
  build_cmake "$target" googletest "$gtest_version" /usr/src/googletest \
    -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON
}

mkdir -p "$cache/logs"
logs=$cache/logs
exec 9>"$cache/.lock"
flock -w 1800 9 || fail "the cache $cache stayed locked by another run"

install_packages

mkdir -p "$cache/src"
versions=()
dirs=()
for binary in libpng-dev libjpeg62-turbo-dev libfreetype-dev; do
  read -r name candidate < <(source_of "$binary") || true
  [[ -n ${candidate:-} ]] || fail "could not tell the version of $binary from the package lists"
  unpack_source "$name" "$candidate"
  versions+=("$source_version")
  dirs+=("$source_dir")
done
close_source_lists
png_version=${versions[0]} png_dir=${dirs[0]}
jpeg_version=${versions[1]} jpeg_dir=${dirs[1]}
freetype_version=${versions[2]} freetype_dir=${dirs[2]}
gtest_version=$(dpkg-query -W -f='${Version}' googletest)

for target in "${targets[@]}"; do
  build_target "$target"
done
rm -rf "$cache/build"
say "ready in $cache (${targets[*]})"
