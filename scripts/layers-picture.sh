#!/usr/bin/env bash
# Draws the libraries and programs of the Windows product and what each
# links, from the build itself (CMake's --graphviz output, drawn by Graphviz's dot), into
# docs/images/layers.svg. Run it after changing what a library links.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/graph
rm -rf "$out" && mkdir -p "$out"
cat > "$out/CMakeGraphVizOptions.cmake" <<'OPTIONS'
set(GRAPHVIZ_GRAPH_NAME "layers")
set(GRAPHVIZ_EXTERNAL_LIBS FALSE)
set(GRAPHVIZ_INTERFACE_LIBS TRUE)
set(GRAPHVIZ_OBJECT_LIBS TRUE)
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)
# The tools' own helper libraries say nothing about the layers.
set(GRAPHVIZ_IGNORE_TARGETS "framesim_.*" "vantrel_monitor_core" "vantrel_gtest.*" "gtest.*" "gmock.*" "layers" "installer")
OPTIONS
cmake -S . -B "$out" -G Ninja -DBUILD_TESTING=OFF \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw-x86_64.cmake" --graphviz="$out/layers.dot" >/dev/null
# Without CMake's legend: the shapes say kind of target, the arrows "links".
awk '/^subgraph clusterLegend/ {skip = 1} !skip {print} skip && /^}/ {skip = 0}' "$out/layers.dot" |
  dot -Tsvg -Grankdir=BT -Gfontname=sans -Nfontname=sans -o docs/images/layers.svg
echo "docs/images/layers.svg"
