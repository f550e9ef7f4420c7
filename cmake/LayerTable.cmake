# The layers: which top-level folder may include which. Each folder includes
# only folders below it. CheckLayers.cmake holds every include of the tree
# against this table, and each product library's include path is a view of
# the tree with only the folders of its row (LayerIncludes.cmake).
set(vantrel_layer_product "common platform input output bridge device calibration app tools")
set(vantrel_layers
  "common:"
  "platform:common"
  "input:common platform"
  "output:common platform"
  "device:common platform"
  "bridge:common platform"
  "calibration:common platform input"
  "app:common platform input output bridge device calibration"
  "tools:common platform device"
  # What the tests and the benchmarks share; the product never reaches it.
  "tests/support:${vantrel_layer_product}"
  "bench:${vantrel_layer_product} tests/support"
  "tests:${vantrel_layer_product} tests/support")
