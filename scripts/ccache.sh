# Sourced by test.sh and fuzz.sh, with $root the clone's root: sets
# `ccache_flags` to the CMake options that compile through ccache (empty
# without ccache).
#
# Objects are shared between clones of the repository on one machine: the
# base directory is this clone's root (ccache then writes the paths below it
# relative) and the working directory stays out of the hash (debug info
# would otherwise carry it). The settings ride in the launcher itself, so a
# tree rebuilt by hand later hashes the same way. The cache is ccache's own
# (~/.cache/ccache unless CCACHE_DIR says otherwise), a few GB by default.
ccache_flags=()
if command -v ccache >/dev/null 2>&1; then
  ccache_launcher="env;CCACHE_BASEDIR=$root;CCACHE_NOHASHDIR=1;ccache"
  ccache_flags=("-DCMAKE_C_COMPILER_LAUNCHER=$ccache_launcher"
                "-DCMAKE_CXX_COMPILER_LAUNCHER=$ccache_launcher")
fi
