# Shared by scripts/run and scripts/test: install what is missing, configure and build.
set -euo pipefail

REPO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$REPO_ROOT/build}"
JOBS="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

# Debian packages the build, the tests and the program need.
VARNEL_PACKAGES=(
  cmake make g++ pkg-config ccache
  qt6-base-dev libqcustomplot-dev qt6-translations-l10n libgl-dev libudev-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core fonts-wqy-microhei
  libsqlite3-dev libpq-dev nlohmann-json3-dev
  libcairo2-dev poppler-utils
  postgresql
  dpkg-dev file lintian
  liblxi-dev libtirpc-dev
  clang libclang-rt-dev
  g++-mingw-w64-x86-64-posix googletest wine wine64
)

# The compiler cache, when there is one: paths are hashed relative to the
# checkout, so another clone of the same sources reuses the objects.
COMPILER_CACHE_ARGS=()
detect_compiler_cache() {
  if command -v ccache >/dev/null 2>&1; then
    export CCACHE_BASEDIR="$REPO_ROOT" CCACHE_NOHASHDIR=1
    COMPILER_CACHE_ARGS=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
}
detect_compiler_cache

install_missing_packages() {
  local missing=()
  local pkg
  for pkg in "${VARNEL_PACKAGES[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  echo "==> Installing missing packages: ${missing[*]}"
  local sudo=()
  if [[ $(id -u) -ne 0 ]]; then sudo=(sudo); fi
  if [[ " ${missing[*]} " == *" postgresql "* ]]; then
    # The tests start a throwaway server of their own (scripts/with-postgres):
    # the package must not create and start a system cluster on port 5432.
    "${sudo[@]}" mkdir -p /etc/postgresql-common/createcluster.d
    echo "create_main_cluster = false" | "${sudo[@]}" tee /etc/postgresql-common/createcluster.d/varnel-no-main.conf >/dev/null
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  detect_compiler_cache
}


configure_and_build() {
  echo "==> Configuring $BUILD_DIR"
  cmake -S "$REPO_ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${COMPILER_CACHE_ARGS[@]}" "$@"
  echo "==> Building with $JOBS jobs"
  cmake --build "$BUILD_DIR" -j "$JOBS"
}
