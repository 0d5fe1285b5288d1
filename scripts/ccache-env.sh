# Sourced by the build scripts: the compiler cache lives outside the clone; base
# dir and no-hash-dir let a clone in another folder hit the same entries.
export CCACHE_DIR="${CCACHE_DIR:-/var/cache/qorcad-ccache}"
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1
export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"
mkdir -p "$CCACHE_DIR"
